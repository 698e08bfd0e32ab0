// Receives ISO-TP messages from one address and answers with flow control on its partner
// address: the pairing of one flow-control filter. Pure: frames come in and go out as values,
// time comes in as an argument.
//
// Use: hand in every frame from the receive address with onFrame(), and call tick() no later than
// nextTickAt(). Each call returns the flow-control frames to transmit now and what happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "base/CanFrame.h"
#include "protocol/isotp/FramePadding.h"
#include "protocol/isotp/IsoTpAddress.h"
#include "protocol/isotp/IsoTpFrame.h"
#include "protocol/isotp/IsoTpTime.h"

namespace vtx::isotp {

// What the receiver grants the sender in each flow control.
struct FlowControlOffer {
    uint8_t blockSize = 0;           // consecutive frames per flow control; 0: all of them
    uint8_t separationTimeCode = 0;  // STmin code (SeparationTime.h)
};

struct IsoTpReceiverSettings {
    IsoTpAddress receiveAddress;      // where the sender's frames come from
    IsoTpAddress flowControlAddress;  // where our flow control goes
    // Pads the flow controls sent; when on, a received frame shorter than 8 bytes marks its
    // message with a padding fault.
    FramePadding padding;
    FlowControlOffer offer;
    Microseconds consecutiveFrameTimeout = kDefaultConsecutiveFrameTimeout;  // N_Cr
};

// A first frame arrived: a message of messageLength bytes is on its way.
struct FirstFrameIndication {
    uint16_t messageLength = 0;
};

// A whole message, never with a byte out of place.
struct ReceivedMessage {
    std::vector<uint8_t> payload;
    PaddingCheck padding = PaddingCheck::Fine;  // Short: a frame of it was short though padded
};

enum class DropReason : uint8_t {
    WrongSequenceNumber,      // a consecutive frame out of order
    ConsecutiveFrameTimeout,  // no consecutive frame within N_Cr
    Superseded,               // a new single or first frame came before the message was whole
};

// A message being received was given up; its bytes are gone.
struct ReceptionDropped {
    DropReason reason = DropReason::WrongSequenceNumber;
    uint16_t messageLength = 0;
    std::size_t bytesReceived = 0;
};

using ReceiverEvent = std::variant<FirstFrameIndication, ReceivedMessage, ReceptionDropped>;

struct ReceiverOutput {
    std::vector<CanFrame> frames;       // flow control to transmit now
    std::vector<ReceiverEvent> events;  // in the order they happened
};

class IsoTpReceiver {
  public:
    explicit IsoTpReceiver(const IsoTpReceiverSettings& settings);

    // A frame from the receive address; frames of other addresses and frames that are not well
    // formed are ignored.
    ReceiverOutput onFrame(const CanFrame& frame, TimePoint now);
    // Gives up a message whose next consecutive frame is overdue.
    ReceiverOutput tick(TimePoint now);
    // When tick() has something to do next; none while no message is being received.
    std::optional<TimePoint> nextTickAt() const;
    // Drops the message being received, without an event.
    void abort();
    // The block size and STmin of the flow controls sent from now on; a block under way keeps
    // the size its flow control granted.
    void setOffer(const FlowControlOffer& offer) { settings_.offer = offer; }

    bool isReceiving() const { return receiving_; }
    const IsoTpReceiverSettings& settings() const { return settings_; }

  private:
    void handleSingleFrame(const SingleFrame& frame, PaddingCheck padding, ReceiverOutput& output);
    void handleFirstFrame(const FirstFrame& frame, PaddingCheck padding, TimePoint now,
                          ReceiverOutput& output);
    void handleConsecutiveFrame(const ConsecutiveFrame& frame, PaddingCheck padding, TimePoint now,
                                ReceiverOutput& output);
    void dropPartialMessage(DropReason reason, ReceiverOutput& output);
    void completeMessage(ReceiverOutput& output);
    void sendClearToSend(ReceiverOutput& output);
    bool coversWhatIsNeeded(const ConsecutiveFrame& frame) const;

    IsoTpReceiverSettings settings_;
    bool receiving_ = false;
    uint16_t messageLength_ = 0;
    std::vector<uint8_t> payload_;  // received so far
    PaddingCheck padding_ = PaddingCheck::Fine;
    uint8_t expectedSequenceNumber_ = 0;
    std::size_t framesInBlock_ = 0;
    uint8_t grantedBlockSize_ = 0;  // in the last flow control sent; 0: no limit
    TimePoint deadline_{};
};

}  // namespace vtx::isotp
