#include "protocol/Iso15765Messages.h"

#include "base/ErrorTexts.h"

namespace vtx::iso15765 {

namespace {

constexpr unsigned kBitsPerByte = 8;
constexpr std::size_t kCanIdBytes = isotp::kNormalHeaderLength;

uint32_t headerLength(const PASSTHRU_MSG& msg) {
    return static_cast<uint32_t>(isotp::IsoTpAddress::headerLength(msg.TxFlags));
}

bool isHeaderOnly(const PASSTHRU_MSG& msg) {
    return msg.DataSize == headerLength(msg);
}

// The width of a message or pattern must be one the connect flags admit: 29-bit needs
// CAN_29BIT_ID or CAN_ID_BOTH, 11-bit anything but CAN_29BIT_ID alone.
bool widthAgrees(const PASSTHRU_MSG& msg, uint32_t connectFlags) {
    const uint32_t width = connectFlags & (CAN_29BIT_ID | CAN_ID_BOTH);
    const bool extended = (msg.TxFlags & CAN_29BIT_ID) != 0;
    return extended ? width != 0 : width != CAN_29BIT_ID;
}

}  // namespace

ProtocolVerdict checkMessage(const PASSTHRU_MSG& msg, uint32_t connectFlags) {
    if (msg.ProtocolID != ISO15765) {
        return {ERR_MSG_PROTOCOL_ID};
    }
    if ((msg.TxFlags & ~kTransmitFlags) != 0) {
        return {ERR_FAILED, text::kInvalidTxFlags};
    }
    if (!widthAgrees(msg, connectFlags)) {
        return {ERR_FAILED, text::kTxFlagsInconsistent};
    }
    const uint32_t header = headerLength(msg);
    if (msg.DataSize <= header || msg.DataSize - header > isotp::kMaxMessageLength) {
        return {ERR_INVALID_MSG};
    }
    return {};
}

ProtocolVerdict checkFilterMessages(const FilterRequest& request, uint32_t connectFlags) {
    const PASSTHRU_MSG& mask = *request.mask;
    const PASSTHRU_MSG& pattern = *request.pattern;
    const PASSTHRU_MSG& flowControl = *request.flowControl;
    if (mask.TxFlags != pattern.TxFlags || flowControl.TxFlags != pattern.TxFlags ||
        !isHeaderOnly(mask) || !isHeaderOnly(pattern) || !isHeaderOnly(flowControl)) {
        return {ERR_INVALID_MSG};
    }
    if (mask.ProtocolID != ISO15765 || pattern.ProtocolID != ISO15765 ||
        flowControl.ProtocolID != ISO15765) {
        return {ERR_MSG_PROTOCOL_ID};
    }
    if (!widthAgrees(pattern, connectFlags)) {
        return {ERR_FAILED, text::kTxFlagsInconsistent};
    }
    return {};
}

isotp::IsoTpAddress addressOf(const PASSTHRU_MSG& msg) {
    return isotp::IsoTpAddress::fromMessageHeader({msg.Data, headerLength(msg)}, msg.TxFlags);
}

std::span<const uint8_t> payloadOf(const PASSTHRU_MSG& msg) {
    const uint32_t header = headerLength(msg);
    return {msg.Data + header, msg.DataSize - header};
}

isotp::FramePadding paddingOf(const PASSTHRU_MSG& msg) {
    isotp::FramePadding padding;
    if ((msg.TxFlags & ISO15765_FRAME_PAD) != 0) {
        padding.mode = isotp::PaddingMode::On;
    }
    return padding;
}

bool sameAddress(const isotp::IsoTpAddress& a, const isotp::IsoTpAddress& b) {
    return a.canId == b.canId && a.width == b.width && a.extendedAddress == b.extendedAddress;
}

uint32_t addressStatus(const isotp::IsoTpAddress& address) {
    uint32_t status = 0;
    if (address.width == isotp::CanIdWidth::Extended29) {
        status |= CAN_29BIT_ID;
    }
    if (address.extendedAddress) {
        status |= ISO15765_EXT_ADDR;
    }
    return status;
}

ChannelMessage messageFor(const isotp::IsoTpAddress& address, uint32_t status,
                          std::span<const uint8_t> payload, uint32_t timestamp) {
    ChannelMessage message;
    message.rxStatus = addressStatus(address) | status;
    message.timestamp = timestamp;
    message.data.reserve(isotp::kExtendedHeaderLength + payload.size());
    for (std::size_t i = 0; i < kCanIdBytes; ++i) {
        const unsigned shift = static_cast<unsigned>(kCanIdBytes - 1 - i) * kBitsPerByte;
        message.data.push_back(static_cast<uint8_t>(address.canId >> shift));
    }
    if (address.extendedAddress) {
        message.data.push_back(*address.extendedAddress);
    }
    message.data.append(payload);
    return message;
}

}  // namespace vtx::iso15765
