#include "sim/SimIsoTpReceiver.h"

#include <algorithm>

namespace vtx::sim {

namespace {

constexpr std::size_t kClassicFrameLength = 8;
constexpr std::size_t kFirstFramePayloadOffset = 2;
constexpr std::size_t kConsecutivePayloadOffset = 1;
// A first frame whose 12-bit length is 0 announces a 32-bit length: more than this ECU takes.
constexpr std::size_t kLengthEscape = 0;
// Shorter messages go in a single frame; a first frame announcing one is malformed.
constexpr std::size_t kMinFirstFrameLength = 8;

constexpr uint8_t kFlowControlPci = 0x30;
constexpr uint8_t kClearToSend = 0x0;
constexpr uint8_t kOverflow = 0x2;
constexpr uint8_t kSequenceMask = 0x0F;

constexpr uint8_t kLongestMillisecondCode = 0x7F;
constexpr uint8_t kFirstMicrosecondCode = 0xF1;
constexpr uint8_t kLastMicrosecondCode = 0xF9;
constexpr uint8_t kMicrosecondCodeBase = 0xF0;
constexpr int kMicrosecondStep = 100;

}  // namespace

std::chrono::nanoseconds SimIsoTpReceiver::separationTime(uint8_t code) {
    if (code <= kLongestMillisecondCode) {
        return std::chrono::milliseconds(code);
    }
    if (code >= kFirstMicrosecondCode && code <= kLastMicrosecondCode) {
        return std::chrono::microseconds(kMicrosecondStep * (code - kMicrosecondCodeBase));
    }
    return std::chrono::milliseconds(kLongestMillisecondCode);
}

bool SimIsoTpReceiver::isValidSeparationTime(uint8_t code) {
    return code <= kLongestMillisecondCode ||
           (code >= kFirstMicrosecondCode && code <= kLastMicrosecondCode);
}

SimIsoTpReceiver::SimIsoTpReceiver(FlowControlSettings settings) : settings_(settings) {}

SimIsoTpReceiver::Step SimIsoTpReceiver::onFirstFrame(std::span<const uint8_t> data,
                                                      SimClock::time_point /*endOfFrame*/) {
    if (data.size() < kClassicFrameLength) {
        return Step{};
    }
    const std::size_t length = (std::size_t{data[0] & 0x0Fu} << 8) | data[1];
    if (length == kLengthEscape) {
        phase_ = Phase::Idle;
        return flowControlStep(kOverflow);
    }
    if (length < kMinFirstFrameLength) {
        return Step{};
    }
    phase_ = Phase::AwaitingOwnFlowControl;
    ++reception_;
    expectedLength_ = length;
    buffer_.assign(data.begin() + kFirstFramePayloadOffset, data.begin() + kClassicFrameLength);
    nextSequence_ = 1;
    return flowControlStep(kClearToSend);
}

void SimIsoTpReceiver::onFlowControlSent(uint64_t reception, SimClock::time_point endOfFrame) {
    if (reception != reception_ || phase_ != Phase::AwaitingOwnFlowControl) {
        return;
    }
    phase_ = Phase::Receiving;
    leftInBlock_ = settings_.blockSize;
    lastEvent_ = endOfFrame;
    previousConsecutiveEnd_.reset();
}

SimIsoTpReceiver::Step SimIsoTpReceiver::onConsecutiveFrame(std::span<const uint8_t> data,
                                                            SimClock::time_point endOfFrame) {
    if (phase_ == Phase::Idle || data.empty()) {
        return Step{};
    }
    if (phase_ == Phase::AwaitingOwnFlowControl) {
        // Past the end of a block, or ahead of the first flow control.
        return abortFor(AbortReason::FlowControlViolation);
    }
    if (endOfFrame - lastEvent_ > kConsecutiveFrameTimeout) {
        return abortFor(AbortReason::ConsecutiveFrameTimeout);
    }
    if ((data[0] & kSequenceMask) != nextSequence_) {
        return abortFor(AbortReason::ProtocolError);
    }
    if (!separationKept(endOfFrame)) {
        return abortFor(AbortReason::FlowControlViolation);
    }
    return appendConsecutive(data, endOfFrame);
}

void SimIsoTpReceiver::abort() {
    phase_ = Phase::Idle;
    buffer_.clear();
}

SimIsoTpReceiver::Step SimIsoTpReceiver::flowControlStep(uint8_t flowStatus) const {
    Step step;
    step.action = Step::Action::SendFlowControl;
    step.flowControl = {static_cast<uint8_t>(kFlowControlPci | flowStatus), settings_.blockSize,
                        settings_.separationTime};
    step.reception = reception_;
    return step;
}

SimIsoTpReceiver::Step SimIsoTpReceiver::abortFor(AbortReason reason) {
    if (reason == AbortReason::FlowControlViolation) {
        ++violations_;
    } else if (reason == AbortReason::ConsecutiveFrameTimeout) {
        ++timeouts_;
    }
    abort();
    return Step{};
}

bool SimIsoTpReceiver::separationKept(SimClock::time_point endOfFrame) const {
    return !previousConsecutiveEnd_ ||
           endOfFrame - *previousConsecutiveEnd_ >= separationTime(settings_.separationTime);
}

SimIsoTpReceiver::Step SimIsoTpReceiver::appendConsecutive(std::span<const uint8_t> data,
                                                           SimClock::time_point endOfFrame) {
    const std::size_t wanted =
        std::min(kClassicFrameLength - kConsecutivePayloadOffset, expectedLength_ - buffer_.size());
    if (data.size() < kConsecutivePayloadOffset + wanted) {
        // A frame too short for the bytes it must carry.
        return abortFor(AbortReason::ProtocolError);
    }
    const auto payload = data.begin() + kConsecutivePayloadOffset;
    buffer_.insert(buffer_.end(), payload, payload + static_cast<std::ptrdiff_t>(wanted));
    nextSequence_ = (nextSequence_ + 1) & kSequenceMask;
    lastEvent_ = endOfFrame;
    previousConsecutiveEnd_ = endOfFrame;
    if (buffer_.size() == expectedLength_) {
        phase_ = Phase::Idle;
        Step step;
        step.action = Step::Action::Deliver;
        step.request = std::move(buffer_);
        buffer_.clear();
        return step;
    }
    if (settings_.blockSize != 0 && --leftInBlock_ == 0) {
        phase_ = Phase::AwaitingOwnFlowControl;
        return flowControlStep(kClearToSend);
    }
    return Step{};
}

}  // namespace vtx::sim
