#include "protocol/isotp/IsoTpSender.h"

#include <algorithm>
#include <span>
#include <utility>

#include "protocol/isotp/SeparationTime.h"

namespace vtx::isotp {

namespace {

constexpr uint32_t kParameterByteMask = 0xFF;

}  // namespace

std::optional<uint8_t> overrideFromParameter(uint32_t value) {
    if (value == kUseReceiverValue) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(value & kParameterByteMask);
}

IsoTpSender::IsoTpSender(const IsoTpSenderSettings& settings, std::vector<uint8_t> message)
    : settings_(settings), message_(std::move(message)) {}

SenderOutput IsoTpSender::start(TimePoint now) {
    if (phase_ != SenderPhase::NotStarted) {
        return {};
    }
    if (message_.empty() || message_.size() > kMaxMessageLength) {
        return finish(SendOutcome::InvalidLength);
    }
    if (message_.size() <= settings_.transmitAddress.maxSingleFrameLength()) {
        return sendSingleFrame();
    }
    return sendFirstFrame(now);
}

SenderOutput IsoTpSender::onFrame(const CanFrame& frame, TimePoint now, std::size_t maxFrames) {
    if (phase_ != SenderPhase::AwaitingFlowControl) {
        return {};
    }
    const std::optional<DecodedFrame> decoded =
        decodeFrame(frame, settings_.flowControlAddress, PaddingMode::Off);
    if (!decoded) {
        return {};
    }
    const auto* flowControl = std::get_if<FlowControl>(&decoded->content);
    if (flowControl == nullptr) {
        return {};
    }
    return handleFlowControl(*flowControl, now, maxFrames);
}

SenderOutput IsoTpSender::tick(TimePoint now, std::size_t maxFrames) {
    if (phase_ == SenderPhase::AwaitingFlowControl && now >= flowControlDeadline_) {
        return finish(SendOutcome::FlowControlTimeout);
    }
    if (phase_ == SenderPhase::SendingBlock) {
        return sendDueFrames(now, maxFrames);
    }
    return {};
}

std::optional<TimePoint> IsoTpSender::nextTickAt() const {
    switch (phase_) {
        case SenderPhase::SendingBlock:
            return nextFrameAt_;
        case SenderPhase::AwaitingFlowControl:
            return flowControlDeadline_;
        case SenderPhase::NotStarted:
        case SenderPhase::Finished:
        case SenderPhase::Aborted:
            break;
    }
    return std::nullopt;
}

void IsoTpSender::abort() {
    if (phase_ != SenderPhase::Finished) {
        phase_ = SenderPhase::Aborted;
    }
}

SenderOutput IsoTpSender::sendSingleFrame() {
    SenderOutput output;
    output.frames.push_back(
        buildSingleFrame(settings_.transmitAddress, message_, settings_.padding));
    offset_ = message_.size();
    return finish(SendOutcome::Completed, std::move(output));
}

SenderOutput IsoTpSender::sendFirstFrame(TimePoint now) {
    const std::size_t leading = settings_.transmitAddress.firstFrameDataLength();
    SenderOutput output;
    output.frames.push_back(buildFirstFrame(settings_.transmitAddress,
                                            static_cast<uint16_t>(message_.size()),
                                            std::span(message_).first(leading), settings_.padding));
    offset_ = leading;
    sequenceNumber_ = kFirstSequenceNumber;
    awaitFlowControl(now);
    return output;
}

SenderOutput IsoTpSender::handleFlowControl(const FlowControl& flowControl, TimePoint now,
                                            std::size_t maxFrames) {
    switch (flowControl.status) {
        case FlowStatus::ClearToSend:
            return handleClearToSend(flowControl, now, maxFrames);
        case FlowStatus::Wait:
            return handleWait(now);
        case FlowStatus::Overflow:
            return finish(SendOutcome::ReceiverOverflow);
        case FlowStatus::Reserved:
            break;
    }
    return finish(SendOutcome::InvalidFlowControl);
}

// The first frame of the block may go at once, unless the separation since the last consecutive
// frame of the previous block has not passed yet: a receiver measuring the gap from frame to
// frame sees it kept across flow controls too.
SenderOutput IsoTpSender::handleClearToSend(const FlowControl& flowControl, TimePoint now,
                                            std::size_t maxFrames) {
    blockSize_ = settings_.blockSizeOverride.value_or(flowControl.blockSize);
    separationTime_ = separationTimeFromCode(
        settings_.separationTimeOverride.value_or(flowControl.separationTimeCode));
    framesInBlock_ = 0;
    waitFrames_ = 0;
    nextFrameAt_ = lastFrameAt_ ? std::max(now, *lastFrameAt_ + separation()) : now;
    phase_ = SenderPhase::SendingBlock;
    return sendDueFrames(now, maxFrames);
}

SenderOutput IsoTpSender::handleWait(TimePoint now) {
    ++waitFrames_;
    if (waitFrames_ > settings_.waitFrameLimit) {
        return finish(SendOutcome::WaitLimitExceeded);
    }
    awaitFlowControl(now);
    return {};
}

SenderOutput IsoTpSender::sendDueFrames(TimePoint now, std::size_t maxFrames) {
    SenderOutput output;
    while (phase_ == SenderPhase::SendingBlock && now >= nextFrameAt_ &&
           output.frames.size() < maxFrames) {
        output.frames.push_back(nextConsecutiveFrame());
        lastFrameAt_ = now;
        nextFrameAt_ = now + separation();
        if (offset_ == message_.size()) {
            return finish(SendOutcome::Completed, std::move(output));
        }
        ++framesInBlock_;
        if (blockSize_ != 0 && framesInBlock_ == blockSize_) {
            awaitFlowControl(now);
        }
    }
    return output;
}

CanFrame IsoTpSender::nextConsecutiveFrame() {
    const std::size_t count =
        std::min(settings_.transmitAddress.consecutiveFrameDataLength(), message_.size() - offset_);
    const CanFrame frame =
        buildConsecutiveFrame(settings_.transmitAddress, sequenceNumber_,
                              std::span(message_).subspan(offset_, count), settings_.padding);
    offset_ += count;
    sequenceNumber_ = (sequenceNumber_ + 1) % kSequenceNumberModulus;
    return frame;
}

Microseconds IsoTpSender::separation() const {
    return separationTime_.count() == 0 ? separationTime_
                                        : separationTime_ + settings_.wireWaitMargin;
}

void IsoTpSender::awaitFlowControl(TimePoint now) {
    phase_ = SenderPhase::AwaitingFlowControl;
    flowControlDeadline_ = now + settings_.flowControlTimeout;
}

SenderOutput IsoTpSender::finish(SendOutcome outcome, SenderOutput output) {
    phase_ = SenderPhase::Finished;
    outcome_ = outcome;
    output.finished = outcome;
    return output;
}

}  // namespace vtx::isotp
