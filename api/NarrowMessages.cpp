#include "api/NarrowMessages.h"

#include <algorithm>
#include <cstring>

namespace vtx {

namespace {
constexpr std::size_t kDataBytes = sizeof PASSTHRU_MSG::Data;

void narrow(const wide::Message& from, PASSTHRU_MSG& to, NarrowCall& call, bool wholeData) {
    to.ProtocolID = call.value(from.ProtocolID, ERR_INVALID_MSG, "PASSTHRU_MSG.ProtocolID");
    to.RxStatus = call.value(from.RxStatus, ERR_INVALID_MSG, "PASSTHRU_MSG.RxStatus");
    to.TxFlags = call.value(from.TxFlags, ERR_INVALID_MSG, "PASSTHRU_MSG.TxFlags");
    to.Timestamp = call.value(from.Timestamp, ERR_INVALID_MSG, "PASSTHRU_MSG.Timestamp");
    to.DataSize = call.value(from.DataSize, ERR_INVALID_MSG, "PASSTHRU_MSG.DataSize");
    to.ExtraDataIndex =
        call.value(from.ExtraDataIndex, ERR_INVALID_MSG, "PASSTHRU_MSG.ExtraDataIndex");
    std::memcpy(to.Data, from.Data, wholeData ? kDataBytes : wide::dataBytesOf(from.DataSize));
}

}  // namespace

NarrowMessages::NarrowMessages(std::size_t count)
    : count_(count), messages_(new PASSTHRU_MSG[std::max<std::size_t>(count, 1)]) {}

void NarrowMessages::takeFrom(const wide::Message* caller, NarrowCall& call) {
    for (std::size_t i = 0; i < count_ && !call.refused(); ++i) {
        narrow(caller[i], messages_[i], call, false);
    }
}

PASSTHRU_MSG* NarrowMessages::takeOne(std::size_t index, const wide::Message* caller,
                                      NarrowCall& call) {
    if (caller == nullptr || index >= count_) {
        return nullptr;
    }
    narrow(*caller, messages_[index], call, true);
    return &messages_[index];
}

}  // namespace vtx
