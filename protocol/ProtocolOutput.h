// What one call into a channel's protocol produced: frames for the bus, messages for the
// reader, and the transmit messages whose transfer came to an end.
#pragma once

#include <cstdint>
#include <vector>

#include "base/CanFrame.h"
#include "protocol/ChannelMessage.h"

namespace vtx {

// Whether a transmit message's every frame went out, and if not, why it was given up.
enum class TransmitResult : uint8_t {
    Sent,
    Cleared,             // ended by CLEAR_TX_BUFFER or the channel's end
    FlowControlTimeout,  // no flow control within N_Bs
    ReceiverOverflow,    // the receiver answered with an overflow flow control
    WaitLimitExceeded,   // more WAIT flow controls in a row than ISO15765_WFT_MAX
    InvalidFlowControl,  // a flow control with a reserved flow status
};

// A transmit message whose transfer ended: sent whole, or given up.
struct TransmitEnd {
    uint64_t transmitId = 0;  // as startTransmit returned it
    TransmitResult result = TransmitResult::Sent;

    bool sent() const { return result == TransmitResult::Sent; }
};

struct ProtocolOutput {
    std::vector<CanFrame> frames;  // to transmit now, in this order
    // For the reader, in this order, indications included. Messages made from received frames
    // carry their frame's timestamp; those the protocol makes itself (transmit indications and
    // loopback copies) carry 0, and the channel stamps them as it queues them.
    std::vector<ChannelMessage> messages;
    std::vector<TransmitEnd> ended;  // transmit messages whose transfer ended in this call

    // Empty again, keeping the room the vectors have, for the next call.
    void clear() {
        frames.clear();
        messages.clear();
        ended.clear();
    }
};

}  // namespace vtx
