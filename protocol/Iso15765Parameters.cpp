#include "protocol/Iso15765Parameters.h"

#include <utility>

namespace vtx {

namespace {

// Every parameter is one byte; the transmit overrides may also say "use the ECU's value".
constexpr uint32_t kLargestByteValue = 0xFF;

bool takesReceiverValue(uint32_t parameter) {
    return parameter == ISO15765_BS_TX || parameter == ISO15765_STMIN_TX;
}

bool inRange(uint32_t parameter, uint32_t value) {
    return value <= kLargestByteValue ||
           (takesReceiverValue(parameter) && value == isotp::kUseReceiverValue);
}

}  // namespace

ProtocolVerdict Iso15765Parameters::get(uint32_t parameter, uint32_t& value) const {
    const uint32_t* stored = find(parameter);
    if (stored == nullptr) {
        return {ERR_NOT_SUPPORTED};
    }
    value = *stored;
    return {};
}

ProtocolVerdict Iso15765Parameters::set(uint32_t parameter, uint32_t value) {
    uint32_t* stored = find(parameter);
    if (stored == nullptr) {
        return {ERR_NOT_SUPPORTED};
    }
    if (!inRange(parameter, value)) {
        return {ERR_INVALID_IOCTL_VALUE};
    }
    *stored = value;
    return {};
}

isotp::FlowControlOffer Iso15765Parameters::offer() const {
    return {static_cast<uint8_t>(blockSize_), static_cast<uint8_t>(separationTime_)};
}

std::optional<uint8_t> Iso15765Parameters::blockSizeOverride() const {
    return isotp::overrideFromParameter(blockSizeTx_);
}

std::optional<uint8_t> Iso15765Parameters::separationTimeOverride() const {
    return isotp::overrideFromParameter(separationTimeTx_);
}

uint32_t* Iso15765Parameters::find(uint32_t parameter) {
    return const_cast<uint32_t*>(std::as_const(*this).find(parameter));
}

const uint32_t* Iso15765Parameters::find(uint32_t parameter) const {
    switch (parameter) {
        case ISO15765_BS:
            return &blockSize_;
        case ISO15765_STMIN:
            return &separationTime_;
        case ISO15765_BS_TX:
            return &blockSizeTx_;
        case ISO15765_STMIN_TX:
            return &separationTimeTx_;
        case ISO15765_WFT_MAX:
            return &waitFrameLimit_;
        default:
            return nullptr;
    }
}

}  // namespace vtx
