#include "protocol/MessageFrames.h"

#include <algorithm>
#include <cstring>

#include "protocol/ByteOrder.h"

namespace vtx {

CanFrame frameFromMessage(const PASSTHRU_MSG& msg, EchoMarker marker) {
    CanFrame frame{};
    frame.idCan = readBigEndian32(msg.Data);
    if (marker == EchoMarker::With) {
        frame.idCan |= kEchoMarker;
    }
    frame.idExt = (msg.TxFlags & CAN_29BIT_ID) ? 1 : 0;
    frame.lenDataCan = std::min<uint8_t>(static_cast<uint8_t>(msg.DataSize - 4), 8);
    std::memcpy(frame.dataCan, msg.Data + 4, frame.lenDataCan);
    return frame;
}

void messageFromFrame(const CanFrame& frame, uint32_t protocolID, PASSTHRU_MSG& msg) {
    const uint32_t id = frame.idCan & ~kEchoMarker;
    const uint8_t length = std::min<uint8_t>(frame.lenDataCan, 8);
    msg.ProtocolID = protocolID;
    msg.RxStatus =
        ((frame.idCan & kEchoMarker) ? TX_MSG_TYPE : 0) | (frame.idExt ? CAN_29BIT_ID : 0);
    msg.TxFlags = 0;
    msg.Timestamp = frame.Timestamp;
    msg.DataSize = length + 4u;
    msg.ExtraDataIndex = msg.DataSize;
    msg.Data[0] = static_cast<uint8_t>(id >> 24);
    msg.Data[1] = static_cast<uint8_t>(id >> 16);
    msg.Data[2] = static_cast<uint8_t>(id >> 8);
    msg.Data[3] = static_cast<uint8_t>(id);
    std::memcpy(msg.Data + 4, frame.dataCan, length);
}

}  // namespace vtx
