// The ISO 15765 messages a channel has to send, one transfer at a time in the order they came:
// only the message at the head talks to the bus; the next starts when it ends.
//
// When a message ended sent whole, the reader gets a transmit indication (its header only,
// RxStatus TX_MSG_TYPE | TX_DONE with the address's width and addressing bits), whatever the
// loopback setting: the indication tells that the transfer is over, which a writer
// of multi-frame messages needs to know with loopback off too. With loopback on the whole
// message follows it as the loopback copy (TX_MSG_TYPE): the indication always comes first.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "base/CanFrame.h"
#include "protocol/ChannelProtocol.h"
#include "protocol/ProtocolOutput.h"
#include "protocol/isotp/IsoTpAddress.h"
#include "protocol/isotp/IsoTpSender.h"
#include "protocol/isotp/IsoTpTime.h"

namespace vtx {

// A message to send: its transmit ID, how its sender runs, and its payload.
struct TransmitRequest {
    uint64_t transmitId = 0;
    Loopback loopback = Loopback::Off;
    isotp::IsoTpSenderSettings settings;
    std::vector<uint8_t> payload;
};

class Iso15765TransmitQueue {
  public:
    // Queues the message; it starts at once when nothing is ahead of it.
    void push(TransmitRequest request, isotp::TimePoint now, ProtocolOutput& out);
    // A received frame: the flow control the head's transfer waits for, perhaps.
    void receiveFrame(const CanFrame& frame, isotp::TimePoint now, ProtocolOutput& out);
    // Consecutive frames due by now, or the end of a flow-control wait.
    void tick(isotp::TimePoint now, ProtocolOutput& out);
    std::optional<isotp::TimePoint> nextTickAt() const;
    // Ends every transfer, the head's and those waiting, as not sent.
    void abortAll(ProtocolOutput& out);

    bool empty() const { return pending_.empty(); }

  private:
    struct Pending {
        uint64_t transmitId;
        Loopback loopback;
        isotp::IsoTpAddress address;
        std::vector<uint8_t> loopbackPayload;  // kept only with loopback on
        isotp::IsoTpSender sender;
    };

    // Takes what the head's sender produced; when its transfer ended, the next ones start.
    void takeHeadOutput(isotp::SenderOutput output, isotp::TimePoint now, ProtocolOutput& out);
    // Starts the head, and the ones behind it as long as each ends at once (single frames).
    void startHead(isotp::TimePoint now, ProtocolOutput& out);
    void endHead(isotp::SendOutcome outcome, ProtocolOutput& out);

    std::deque<Pending> pending_;  // the head is the transfer under way
};

}  // namespace vtx
