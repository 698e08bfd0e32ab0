#include "api/WideIoctl.h"

#include "api/NarrowConfigList.h"
#include "api/NarrowOut.h"
#include "operations/PassThru.h"

namespace vtx {

uint32_t WideIoctl::run(PassThru& passThru, NarrowCall& call) {
    if (call.refused()) {
        return passThru.refuseCall(call.status(), call.text());
    }
    switch (ioctlId_) {
        case GET_CONFIG:
            return configure(passThru, call, false);
        case SET_CONFIG:
            return configure(passThru, call, true);
        case SET_TERM_RESISTOR:
            return setTermResistor(passThru, call);
        case GET_TERM_RESISTOR:
            return getTermResistor(passThru);
        default:
            return onCore(passThru, input_, output_);
    }
}

uint32_t WideIoctl::configure(PassThru& passThru, NarrowCall& call, bool setting) {
    const auto* caller = static_cast<const wide::ConfigList*>(input_);
    if (caller == nullptr) {
        return onCore(passThru, nullptr, output_);
    }
    NarrowConfigList narrow(
        *caller, setting ? NarrowConfigList::Values::ToSet : NarrowConfigList::Values::ToGet, call);
    if (call.refused()) {
        return passThru.refuseCall(call.status(), call.text());
    }
    const uint32_t status = onCore(passThru, narrow.list(), output_);
    if (!setting && status == STATUS_NOERROR) {
        narrow.giveValuesTo(*caller);
    }
    return status;
}

uint32_t WideIoctl::setTermResistor(PassThru& passThru, NarrowCall& call) {
    const auto* callerInput = static_cast<const wide::Integer*>(input_);
    uint32_t state = 0;
    if (callerInput != nullptr) {
        state = call.value(*callerInput, ERR_INVALID_IOCTL_VALUE, "the resistor state");
    }
    if (call.refused()) {
        return passThru.refuseCall(call.status(), call.text());
    }
    NarrowOut output(static_cast<wide::Integer*>(output_));
    const uint32_t status =
        onCore(passThru, callerInput != nullptr ? &state : nullptr, output.get());
    if (status == STATUS_NOERROR) {
        output.giveBack();
    }
    return status;
}

uint32_t WideIoctl::getTermResistor(PassThru& passThru) {
    NarrowOut output(static_cast<wide::Integer*>(output_));
    const uint32_t status = onCore(passThru, input_, output.get());
    if (status == STATUS_NOERROR) {
        output.giveBack();
    }
    return status;
}

uint32_t WideIoctl::onCore(PassThru& passThru, void* input, void* output) {
    return passThru.passThruIoctl(channelId_, ioctlId_, input, output);
}

}  // namespace vtx
