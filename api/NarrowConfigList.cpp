#include "api/NarrowConfigList.h"

#include <algorithm>

namespace vtx {

namespace {
uint32_t valueStatus(uint32_t parameter) {
    return parameter == DATA_RATE ? ERR_INVALID_BAUDRATE : ERR_INVALID_IOCTL_VALUE;
}
}  // namespace

NarrowConfigList::NarrowConfigList(const wide::ConfigList& caller, Values values,
                                   NarrowCall& call) {
    list_.NumOfParams =
        call.value(caller.NumOfParams, ERR_INVALID_IOCTL_VALUE, "SCONFIG_LIST.NumOfParams");
    if (caller.ConfigPtr == nullptr || call.refused()) {
        return;  // the core answers for a missing list
    }
    // Never empty, so that the core sees a list where the caller gave one, even of no entries.
    entries_.resize(std::max<std::size_t>(list_.NumOfParams, 1));
    for (std::size_t i = 0; i < list_.NumOfParams && !call.refused(); ++i) {
        const wide::Config& entry = caller.ConfigPtr[i];
        entries_[i].Parameter = call.value(entry.Parameter, ERR_NOT_SUPPORTED, "SCONFIG.Parameter");
        entries_[i].Value =
            values == Values::ToSet
                ? call.value(entry.Value, valueStatus(entries_[i].Parameter), "SCONFIG.Value")
                : static_cast<uint32_t>(entry.Value);
    }
    list_.ConfigPtr = entries_.data();
}

void NarrowConfigList::giveValuesTo(const wide::ConfigList& caller) const {
    for (std::size_t i = 0; i < list_.NumOfParams && list_.ConfigPtr != nullptr; ++i) {
        wide::Config& entry = caller.ConfigPtr[i];
        if (wide::fits(entry.Value) || entries_[i].Value != static_cast<uint32_t>(entry.Value)) {
            entry.Value = entries_[i].Value;
        }
    }
}

}  // namespace vtx
