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
    // An indication (a first frame announced, a transmission done) carries the header only and
    // no data: its data start nowhere. A message's data run to its end.
    msg.ExtraDataIndex = isIndication() ? 0 : msg.DataSize;
    std::memcpy(msg.Data, data.data(), size);
}

}  // namespace vtx
