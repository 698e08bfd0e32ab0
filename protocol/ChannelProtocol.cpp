#include "protocol/ChannelProtocol.h"

#include "protocol/CanProtocol.h"
#include "protocol/Iso15765Protocol.h"

namespace vtx {

namespace {
// The connect flags each protocol takes.
constexpr uint32_t kCanConnectFlags = CAN_29BIT_ID | CAN_ID_BOTH;
constexpr uint32_t kIso15765ConnectFlags = CAN_29BIT_ID | CAN_ID_BOTH | ISO15765_ADDR_TYPE;

// The connect flags a protocol the library offers takes; none for any other protocol.
std::optional<uint32_t> connectFlagsOf(uint32_t protocolId) {
    switch (protocolId) {
        case CAN:
            return kCanConnectFlags;
        case ISO15765:
            return kIso15765ConnectFlags;
        default:
            return std::nullopt;
    }
}
}  // namespace

void ChannelProtocol::receiveFrame(const CanFrame& frame, Echo echo, isotp::TimePoint /*now*/,
                                   ProtocolOutput& out) {
    if (admittingFilter(frame, echo) != nullptr) {
        out.messages.push_back(messageOf(frame));
    }
}

uint64_t ChannelProtocol::startTransmit(const PASSTHRU_MSG& msg, Loopback loopback,
                                        isotp::TimePoint /*now*/, ProtocolOutput& out) {
    const EchoMarker marker = loopback == Loopback::On ? EchoMarker::With : EchoMarker::Without;
    const CanFrame frame = frameOf(msg, marker);
    if (loopback == Loopback::On && admittingFilter(frame, Echo::Yes) != nullptr) {
        out.messages.push_back(messageOf(frame));
    }
    out.frames.push_back(frame);
    const uint64_t id = nextTransmitId();
    out.ended.push_back({id, TransmitResult::Sent});
    return id;
}

void ChannelProtocol::tick(isotp::TimePoint /*now*/, ProtocolOutput& /*out*/) {}

std::optional<isotp::TimePoint> ChannelProtocol::nextTickAt() const {
    return std::nullopt;
}

ProtocolVerdict ChannelProtocol::getConfig(uint32_t /*parameter*/, uint32_t& /*value*/) const {
    return {ERR_NOT_SUPPORTED};
}

ProtocolVerdict ChannelProtocol::setConfig(uint32_t /*parameter*/, uint32_t /*value*/) {
    return {ERR_NOT_SUPPORTED};
}

void ChannelProtocol::setBitRate(uint32_t /*bitsPerSecond*/) {}

void ChannelProtocol::abortTransmits(ProtocolOutput& /*out*/) {}

void ChannelProtocol::abortReceptions() {}

ProtocolVerdict checkConnect(uint32_t protocolId, uint32_t flags) {
    const std::optional<uint32_t> allowed = connectFlagsOf(protocolId);
    if (!allowed) {
        return {ERR_NOT_SUPPORTED};
    }
    if ((flags & ~*allowed) != 0) {
        return {ERR_INVALID_FLAGS};
    }
    return {};
}

std::unique_ptr<ChannelProtocol> createChannelProtocol(uint32_t protocolId, uint32_t flags) {
    if (protocolId == CAN) {
        return std::make_unique<CanProtocol>(flags);
    }
    if (protocolId == ISO15765) {
        return std::make_unique<Iso15765Protocol>(flags);
    }
    return nullptr;
}

}  // namespace vtx
