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

}  // namespace vtx
