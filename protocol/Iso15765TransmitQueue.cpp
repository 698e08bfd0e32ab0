#include "protocol/Iso15765TransmitQueue.h"

#include <utility>

#include "protocol/Iso15765Messages.h"

namespace vtx {

namespace {

TransmitResult resultOf(isotp::SendOutcome outcome) {
    switch (outcome) {
        case isotp::SendOutcome::Completed:
            return TransmitResult::Sent;
        case isotp::SendOutcome::FlowControlTimeout:
            return TransmitResult::FlowControlTimeout;
        case isotp::SendOutcome::ReceiverOverflow:
            return TransmitResult::ReceiverOverflow;
        case isotp::SendOutcome::WaitLimitExceeded:
            return TransmitResult::WaitLimitExceeded;
        case isotp::SendOutcome::InvalidFlowControl:
        case isotp::SendOutcome::InvalidLength:  // never: the message was checked
            break;
    }
    return TransmitResult::InvalidFlowControl;
}

}  // namespace

bool Iso15765TransmitQueue::hasRoomFor(std::size_t payloadBytes) const {
    return pending_.size() < kMaxMessages && pendingBytes_ + payloadBytes <= kMaxPayloadBytes;
}

void Iso15765TransmitQueue::push(TransmitRequest request, isotp::TimePoint now,
                                 ProtocolOutput& out) {
    pendingBytes_ += request.payload.size();
    std::vector<uint8_t> loopbackPayload;
    if (request.loopback == Loopback::On) {
        loopbackPayload = request.payload;
    }
    pending_.push_back({request.transmitId, request.loopback, request.settings.transmitAddress,
                        std::move(loopbackPayload),
                        isotp::IsoTpSender(request.settings, std::move(request.payload))});
    if (pending_.size() == 1) {
        startHead(now, out);
    }
}

void Iso15765TransmitQueue::receiveFrame(const CanFrame& frame, isotp::TimePoint now,
                                         ProtocolOutput& out) {
    if (!pending_.empty()) {
        takeHeadOutput(pending_.front().sender.onFrame(frame, now), now, out);
    }
}

void Iso15765TransmitQueue::tick(isotp::TimePoint now, ProtocolOutput& out) {
    if (!pending_.empty()) {
        takeHeadOutput(pending_.front().sender.tick(now), now, out);
    }
}

std::optional<isotp::TimePoint> Iso15765TransmitQueue::nextTickAt() const {
    if (pending_.empty()) {
        return std::nullopt;
    }
    return pending_.front().sender.nextTickAt();
}

void Iso15765TransmitQueue::abortAll(ProtocolOutput& out) {
    for (Pending& pending : pending_) {
        pending.sender.abort();
        out.ended.push_back({pending.transmitId, TransmitResult::Cleared});
    }
    pending_.clear();
    pendingBytes_ = 0;
}

void Iso15765TransmitQueue::takeHeadOutput(isotp::SenderOutput output, isotp::TimePoint now,
                                           ProtocolOutput& out) {
    out.frames.insert(out.frames.end(), output.frames.begin(), output.frames.end());
    if (output.finished) {
        endHead(*output.finished, out);
        startHead(now, out);
    }
}

void Iso15765TransmitQueue::startHead(isotp::TimePoint now, ProtocolOutput& out) {
    while (!pending_.empty()) {
        isotp::SenderOutput output = pending_.front().sender.start(now);
        out.frames.insert(out.frames.end(), output.frames.begin(), output.frames.end());
        if (!output.finished) {
            return;
        }
        endHead(*output.finished, out);
    }
}

void Iso15765TransmitQueue::endHead(isotp::SendOutcome outcome, ProtocolOutput& out) {
    const Pending& head = pending_.front();
    const TransmitResult result = resultOf(outcome);
    out.ended.push_back({head.transmitId, result});
    if (result == TransmitResult::Sent) {
        out.messages.push_back(iso15765::messageFor(head.address, TX_MSG_TYPE | TX_DONE, {}, 0));
        if (head.loopback == Loopback::On) {
            out.messages.push_back(
                iso15765::messageFor(head.address, TX_MSG_TYPE, head.loopbackPayload, 0));
        }
    }
    pendingBytes_ -= head.sender.messageLength();
    pending_.pop_front();
}

}  // namespace vtx
