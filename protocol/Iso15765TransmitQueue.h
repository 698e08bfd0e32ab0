// The ISO 15765 messages a channel has to send, one transfer at a time in the order they came:
// only the message at the head talks to the bus; the next starts when it ends.
//
// A message given up (no flow control in time, refused by the receiver, cleared) ends with the
// reason as its result, and no indication.
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
    // What the queue holds at most, the transfer under way included: an application that
    // queues without waiting gets ERR_BUFFER_FULL past it instead of growing the process's
    // memory without end. 1 MiB is 256 messages of the longest kind.
    static constexpr std::size_t kMaxMessages = 4096;
    static constexpr std::size_t kMaxPayloadBytes = 1024 * 1024;

    // Whether a message of that many payload bytes fits the queue now.
    bool hasRoomFor(std::size_t payloadBytes) const;
    // Queues the message (the caller has checked there is room); it starts at once when nothing
    // is ahead of it.
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
    // The payload bytes of pending_, kept beside it so that a full queue is found without
    // walking it.
    std::size_t pendingBytes_ = 0;
};

}  // namespace vtx
