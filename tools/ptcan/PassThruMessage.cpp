#include "tools/ptcan/PassThruMessage.h"

#include <algorithm>

namespace ptcan {

namespace {
void writeId(PASSTHRU_MSG& msg, uint32_t id) {
    msg.Data[0] = static_cast<uint8_t>(id >> 24);
    msg.Data[1] = static_cast<uint8_t>(id >> 16);
    msg.Data[2] = static_cast<uint8_t>(id >> 8);
    msg.Data[3] = static_cast<uint8_t>(id);
}
}  // namespace

PASSTHRU_MSG PassThruMessage::fromFrame(const Frame& frame) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = CAN;
    msg.TxFlags = frame.extended ? CAN_29BIT_ID : 0;
    writeId(msg, frame.id);
    std::copy(frame.data.begin(), frame.data.end(), msg.Data + kIdBytes);
    msg.DataSize = static_cast<uint32_t>(kIdBytes + frame.data.size());
    return msg;
}

Frame PassThruMessage::toFrame(const PASSTHRU_MSG& msg) {
    Frame frame;
    frame.id = id(msg);
    frame.extended = ((msg.RxStatus | msg.TxFlags) & CAN_29BIT_ID) != 0;
    frame.data = payload(msg);
    return frame;
}

PASSTHRU_MSG PassThruMessage::iso15765(uint32_t id, bool extended,
                                       const std::vector<uint8_t>& payload, uint32_t txFlags) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = ISO15765;
    msg.TxFlags = txFlags | (extended ? CAN_29BIT_ID : 0);
    writeId(msg, id);
    std::copy(payload.begin(), payload.end(), msg.Data + kIdBytes);
    msg.DataSize = static_cast<uint32_t>(kIdBytes + payload.size());
    return msg;
}

std::vector<uint8_t> PassThruMessage::payload(const PASSTHRU_MSG& msg) {
    if (msg.DataSize <= kIdBytes) {
        return {};
    }
    const uint32_t size = std::min<uint32_t>(msg.DataSize, sizeof msg.Data);
    return std::vector<uint8_t>(msg.Data + kIdBytes, msg.Data + size);
}

uint32_t PassThruMessage::id(const PASSTHRU_MSG& msg) {
    if (msg.DataSize < kIdBytes) {
        return 0;
    }
    return (uint32_t{msg.Data[0]} << 24) | (uint32_t{msg.Data[1]} << 16) |
           (uint32_t{msg.Data[2]} << 8) | msg.Data[3];
}

}  // namespace ptcan
