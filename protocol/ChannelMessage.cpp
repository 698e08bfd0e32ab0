#include "protocol/ChannelMessage.h"

#include <algorithm>
#include <cstring>

namespace vtx {

void ChannelMessage::toPassThru(uint32_t protocolId, PASSTHRU_MSG& msg) const {
    const std::size_t size = std::min(data.size(), sizeof msg.Data);
    msg.ProtocolID = protocolId;
    msg.RxStatus = rxStatus;
    msg.TxFlags = 0;
    msg.Timestamp = timestamp;
    msg.DataSize = static_cast<uint32_t>(size);
    msg.ExtraDataIndex = msg.DataSize;
    std::memcpy(msg.Data, data.data(), size);
}

}  // namespace vtx
