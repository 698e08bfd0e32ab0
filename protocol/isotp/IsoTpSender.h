// Sends one ISO-TP message: a single frame, or a first frame followed by consecutive frames paced
// by the receiver's flow control. Pure: frames come in and go out as values, time comes in as an
// argument, and nothing is sent behind the caller's back.
//
// Use: start() once, then hand in every frame from the flow-control address with onFrame() and
// call tick() no later than nextTickAt(). Every call returns the frames to transmit now, in order.
// A frame counts as sent when it is handed out: N_Bs runs from then after a first frame or the
// last frame of a block, and so does the separation before the next consecutive frame. That
// separation is STmin plus the wire wait margin: the device tells nothing of when a frame it took
// is on the wire, and a frame that waited behind another node's frame ends that much later, so
// without the margin the next one could follow it sooner than STmin. STmin 0 needs no margin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "base/CanFrame.h"
#include "protocol/isotp/FramePadding.h"
#include "protocol/isotp/IsoTpAddress.h"
#include "protocol/isotp/IsoTpFrame.h"
#include "protocol/isotp/IsoTpTime.h"

namespace vtx::isotp {

// The value of a J2534 BS_TX or STMIN_TX parameter that means "use what the receiver grants".
inline constexpr uint32_t kUseReceiverValue = 0xFFFF;

// A block size or STmin override from its J2534 parameter value: none for kUseReceiverValue,
// the low byte otherwise.
std::optional<uint8_t> overrideFromParameter(uint32_t value);

struct IsoTpSenderSettings {
    IsoTpAddress transmitAddress;     // where the message's frames go
    IsoTpAddress flowControlAddress;  // where the receiver's flow control comes from
    FramePadding padding;
    Microseconds flowControlTimeout = kDefaultFlowControlTimeout;  // N_Bs
    uint32_t waitFrameLimit = 0;  // WAIT flow controls accepted in a row (WFT_MAX)
    // Added to a non-zero STmin: the longest a handed-out frame may wait on the wire behind
    // another node's frame (longestFrameTime at the bus's bit rate).
    Microseconds wireWaitMargin{};
    // When set, they replace the block size and STmin of every flow control received.
    std::optional<uint8_t> blockSizeOverride;
    std::optional<uint8_t> separationTimeOverride;  // an STmin code
};

enum class SenderPhase : uint8_t {
    NotStarted,
    SendingBlock,         // consecutive frames go out as STmin allows
    AwaitingFlowControl,  // after the first frame or a full block
    Finished,             // outcome() tells how
    Aborted,
};

enum class SendOutcome : uint8_t {
    Completed,           // the last frame was handed out
    FlowControlTimeout,  // no flow control within N_Bs
    ReceiverOverflow,    // the receiver answered OVERFLOW
    WaitLimitExceeded,   // more WAIT flow controls in a row than the limit
    InvalidFlowControl,  // a flow control with a reserved status
    InvalidLength,       // the message is empty or longer than a first frame can announce
};

struct SenderOutput {
    std::vector<CanFrame> frames;         // to transmit now, in this order
    std::optional<SendOutcome> finished;  // set by the one call that ended the transfer
};

// No limit on the frames one call hands out.
inline constexpr std::size_t kNoFrameLimit = std::numeric_limits<std::size_t>::max();

class IsoTpSender {
  public:
    // message: the payload without the identifier, 1 to kMaxMessageLength bytes.
    IsoTpSender(const IsoTpSenderSettings& settings, std::vector<uint8_t> message);

    // The single frame (transfer complete) or the first frame (now awaiting flow control).
    SenderOutput start(TimePoint now);
    // A frame received from the flow-control address. Only a flow control while one is awaited
    // counts; everything else is ignored. Consecutive frames it allows come out at once, at most
    // maxFrames of them.
    SenderOutput onFrame(const CanFrame& frame, TimePoint now,
                         std::size_t maxFrames = kNoFrameLimit);
    // Consecutive frames due by now (at most maxFrames), or the end of a flow-control wait.
    SenderOutput tick(TimePoint now, std::size_t maxFrames = kNoFrameLimit);
    // When tick() has something to do next; none when the machine waits for nothing.
    std::optional<TimePoint> nextTickAt() const;
    // Stops the transfer; the machine then ignores everything.
    void abort();

    SenderPhase phase() const { return phase_; }
    std::optional<SendOutcome> outcome() const { return outcome_; }
    std::size_t bytesSent() const { return offset_; }
    std::size_t messageLength() const { return message_.size(); }

  private:
    SenderOutput sendSingleFrame();
    SenderOutput sendFirstFrame(TimePoint now);
    SenderOutput handleFlowControl(const FlowControl& flowControl, TimePoint now,
                                   std::size_t maxFrames);
    SenderOutput handleClearToSend(const FlowControl& flowControl, TimePoint now,
                                   std::size_t maxFrames);
    SenderOutput handleWait(TimePoint now);
    SenderOutput sendDueFrames(TimePoint now, std::size_t maxFrames);
    CanFrame nextConsecutiveFrame();
    void awaitFlowControl(TimePoint now);
    SenderOutput finish(SendOutcome outcome, SenderOutput output = {});
    // What is kept between two consecutive frames handed out: STmin plus the margin.
    Microseconds separation() const;

    IsoTpSenderSettings settings_;
    std::vector<uint8_t> message_;
    SenderPhase phase_ = SenderPhase::NotStarted;
    std::optional<SendOutcome> outcome_;
    std::size_t offset_ = 0;  // message bytes handed out
    uint8_t sequenceNumber_ = 0;
    uint8_t blockSize_ = 0;          // granted: 0 means no limit
    Microseconds separationTime_{};  // granted
    std::size_t framesInBlock_ = 0;
    uint32_t waitFrames_ = 0;  // WAIT flow controls in a row
    TimePoint flowControlDeadline_{};
    TimePoint nextFrameAt_{};
    std::optional<TimePoint> lastFrameAt_;  // of the last consecutive frame
};

}  // namespace vtx::isotp
