#include "protocol/isotp/IsoTpReceiver.h"

#include <algorithm>
#include <utility>

namespace vtx::isotp {

namespace {

PaddingCheck worse(PaddingCheck a, PaddingCheck b) {
    return (a == PaddingCheck::Short || b == PaddingCheck::Short) ? PaddingCheck::Short
                                                                  : PaddingCheck::Fine;
}

}  // namespace

IsoTpReceiver::IsoTpReceiver(const IsoTpReceiverSettings& settings) : settings_(settings) {}

ReceiverOutput IsoTpReceiver::onFrame(const CanFrame& frame, TimePoint now) {
    ReceiverOutput output;
    const std::optional<DecodedFrame> decoded =
        decodeFrame(frame, settings_.receiveAddress, settings_.padding.mode);
    if (!decoded) {
        return output;
    }
    const FrameContent& content = decoded->content;
    if (const auto* single = std::get_if<SingleFrame>(&content)) {
        handleSingleFrame(*single, decoded->padding, output);
    } else if (const auto* first = std::get_if<FirstFrame>(&content)) {
        handleFirstFrame(*first, decoded->padding, now, output);
    } else if (const auto* consecutive = std::get_if<ConsecutiveFrame>(&content)) {
        handleConsecutiveFrame(*consecutive, decoded->padding, now, output);
    }
    return output;
}

ReceiverOutput IsoTpReceiver::tick(TimePoint now) {
    ReceiverOutput output;
    if (receiving_ && now >= deadline_) {
        dropPartialMessage(DropReason::ConsecutiveFrameTimeout, output);
    }
    return output;
}

std::optional<TimePoint> IsoTpReceiver::nextTickAt() const {
    if (!receiving_) {
        return std::nullopt;
    }
    return deadline_;
}

void IsoTpReceiver::abort() {
    receiving_ = false;
    payload_.clear();
}

void IsoTpReceiver::handleSingleFrame(const SingleFrame& frame, PaddingCheck padding,
                                      ReceiverOutput& output) {
    if (receiving_) {
        dropPartialMessage(DropReason::Superseded, output);
    }
    const std::span<const uint8_t> data = frame.data.view();
    output.events.emplace_back(ReceivedMessage{{data.begin(), data.end()}, padding});
}

void IsoTpReceiver::handleFirstFrame(const FirstFrame& frame, PaddingCheck padding, TimePoint now,
                                     ReceiverOutput& output) {
    if (receiving_) {
        dropPartialMessage(DropReason::Superseded, output);
    }
    receiving_ = true;
    messageLength_ = frame.messageLength;
    payload_.clear();
    payload_.reserve(messageLength_);
    const std::span<const uint8_t> data = frame.data.view();
    payload_.insert(payload_.end(), data.begin(), data.end());
    padding_ = padding;
    expectedSequenceNumber_ = kFirstSequenceNumber;
    framesInBlock_ = 0;
    deadline_ = now + settings_.consecutiveFrameTimeout;
    output.events.emplace_back(FirstFrameIndication{messageLength_});
    sendClearToSend(output);
}

// A consecutive frame that is not the next one in sequence ends the message: its data can no
// longer be trusted. One too short to carry what its place in the message needs is ignored, as
// if never received; the next frame then comes out of sequence.
void IsoTpReceiver::handleConsecutiveFrame(const ConsecutiveFrame& frame, PaddingCheck padding,
                                           TimePoint now, ReceiverOutput& output) {
    if (!receiving_) {
        return;
    }
    if (frame.sequenceNumber != expectedSequenceNumber_) {
        dropPartialMessage(DropReason::WrongSequenceNumber, output);
        return;
    }
    if (!coversWhatIsNeeded(frame)) {
        return;
    }
    const std::size_t count = std::min(frame.data.length, messageLength_ - payload_.size());
    const std::span<const uint8_t> data = frame.data.view().first(count);
    payload_.insert(payload_.end(), data.begin(), data.end());
    padding_ = worse(padding_, padding);
    if (payload_.size() == messageLength_) {
        completeMessage(output);
        return;
    }
    expectedSequenceNumber_ = (expectedSequenceNumber_ + 1) % kSequenceNumberModulus;
    deadline_ = now + settings_.consecutiveFrameTimeout;
    ++framesInBlock_;
    if (grantedBlockSize_ != 0 && framesInBlock_ == grantedBlockSize_) {
        framesInBlock_ = 0;
        sendClearToSend(output);
    }
}

void IsoTpReceiver::dropPartialMessage(DropReason reason, ReceiverOutput& output) {
    output.events.emplace_back(ReceptionDropped{reason, messageLength_, payload_.size()});
    abort();
}

void IsoTpReceiver::completeMessage(ReceiverOutput& output) {
    output.events.emplace_back(ReceivedMessage{std::move(payload_), padding_});
    abort();
}

// The sender counts its block against what this flow control grants, so the receiver does too,
// whatever the offer becomes before the block ends.
void IsoTpReceiver::sendClearToSend(ReceiverOutput& output) {
    grantedBlockSize_ = settings_.offer.blockSize;
    const FlowControl flowControl{FlowStatus::ClearToSend, grantedBlockSize_,
                                  settings_.offer.separationTimeCode};
    output.frames.push_back(
        buildFlowControl(settings_.flowControlAddress, flowControl, settings_.padding));
}

bool IsoTpReceiver::coversWhatIsNeeded(const ConsecutiveFrame& frame) const {
    const std::size_t needed = std::min(settings_.receiveAddress.consecutiveFrameDataLength(),
                                        messageLength_ - payload_.size());
    return frame.data.length >= needed;
}

}  // namespace vtx::isotp
