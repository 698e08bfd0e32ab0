#include "tools/ptcan/CanChannel.h"

#include <cstdio>

#include "tools/ptcan/PassThruError.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {

namespace {
constexpr uint32_t kAllBitsMask = 0xFFFFFFFF;

PASSTHRU_MSG filterMessage(uint32_t protocol, uint32_t id, bool extended) {
    PASSTHRU_MSG msg = PassThruMessage::fromFrame(Frame{id, extended, {}});
    msg.ProtocolID = protocol;
    return msg;
}
}  // namespace

CanChannel::CanChannel(PassThruDevice& device, uint32_t protocol, uint32_t flags, uint32_t bitrate)
    : device_(device), protocol_(protocol), flags_(flags) {
    device_.check("PassThruConnect",
                  device_.library().connect(device_.id(), protocol, flags, bitrate, &id_));
    connected_ = true;
}

CanChannel::~CanChannel() {
    disconnect();
}

bool CanChannel::disconnect() {
    if (!connected_) {
        return true;
    }
    connected_ = false;
    const uint32_t status = device_.library().disconnect(id_);
    if (status != STATUS_NOERROR) {
        std::fprintf(stderr, "ptcan: PassThruDisconnect failed: %s (%s)\n",
                     PassThruError::statusName(status).c_str(), device_.lastError().c_str());
        return false;
    }
    return true;
}

uint32_t CanChannel::canFlags(bool extendedOnly) {
    return extendedOnly ? CAN_29BIT_ID : CAN_ID_BOTH;
}

void CanChannel::setLoopback(bool on) {
    SCONFIG parameter{LOOPBACK, on ? 1U : 0U};
    SCONFIG_LIST list{1, &parameter};
    device_.check("PassThruIoctl SET_CONFIG LOOPBACK",
                  device_.library().ioctl(id_, SET_CONFIG, &list, nullptr));
}

void CanChannel::passAll() {
    if ((flags_ & CAN_29BIT_ID) == 0) {
        addPassFilter(PassFilter{0, 0, false});
    }
    if ((flags_ & (CAN_29BIT_ID | CAN_ID_BOTH)) != 0) {
        addPassFilter(PassFilter{0, 0, true});
    }
}

void CanChannel::addPassFilter(const PassFilter& filter) {
    PASSTHRU_MSG mask = filterMessage(protocol_, filter.mask, filter.extended);
    PASSTHRU_MSG pattern = filterMessage(protocol_, filter.pattern & filter.mask, filter.extended);
    startFilter(PASS_FILTER, mask, pattern, nullptr);
}

void CanChannel::addFlowControlFilter(uint32_t rxId, uint32_t txId, bool extended) {
    PASSTHRU_MSG mask = filterMessage(protocol_, kAllBitsMask, extended);
    PASSTHRU_MSG pattern = filterMessage(protocol_, rxId, extended);
    PASSTHRU_MSG flowControl = filterMessage(protocol_, txId, extended);
    startFilter(FLOW_CONTROL_FILTER, mask, pattern, &flowControl);
}

void CanChannel::startFilter(uint32_t type, PASSTHRU_MSG& mask, PASSTHRU_MSG& pattern,
                             PASSTHRU_MSG* flowControl) {
    uint32_t filterId = 0;
    device_.check(
        "PassThruStartMsgFilter",
        device_.library().startMsgFilter(id_, type, &mask, &pattern, flowControl, &filterId));
}

void CanChannel::write(std::vector<PASSTHRU_MSG>& messages, uint32_t timeoutMs) {
    uint32_t count = static_cast<uint32_t>(messages.size());
    device_.check("PassThruWriteMsgs",
                  device_.library().writeMsgs(id_, messages.data(), &count, timeoutMs));
}

uint32_t CanChannel::read(std::vector<PASSTHRU_MSG>& buffer, uint32_t timeoutMs) {
    uint32_t count = static_cast<uint32_t>(buffer.size());
    const uint32_t status = device_.library().readMsgs(id_, buffer.data(), &count, timeoutMs);
    switch (status) {
        case STATUS_NOERROR:
        case ERR_TIMEOUT:  // fewer than asked for in time: those that came are there
            return count;
        case ERR_BUFFER_EMPTY:
            return 0;
        case ERR_BUFFER_OVERFLOW:  // frames were lost before these; the ones here are good
            std::fprintf(stderr, "ptcan: the receive buffer overflowed, frames were lost\n");
            return count;
        default:
            device_.check("PassThruReadMsgs", status);
            return 0;
    }
}

}  // namespace ptcan
