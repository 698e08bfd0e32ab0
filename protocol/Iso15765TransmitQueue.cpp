#include "protocol/Iso15765TransmitQueue.h"

#include <utility>

#include "protocol/Iso15765Messages.h"

namespace vtx {

void Iso15765TransmitQueue::push(TransmitRequest request, isotp::TimePoint now,
                                 ProtocolOutput& out) {
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
        out.ended.push_back({pending.transmitId, TransmitResult::NotSent});
    }
    pending_.clear();
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
    const bool sent = outcome == isotp::SendOutcome::Completed;
    out.ended.push_back({head.transmitId, sent ? TransmitResult::Sent : TransmitResult::NotSent});
    if (sent) {
        out.messages.push_back(iso15765::messageFor(head.address, TX_MSG_TYPE | TX_DONE, {}, 0));
        if (head.loopback == Loopback::On) {
            out.messages.push_back(
                iso15765::messageFor(head.address, TX_MSG_TYPE, head.loopbackPayload, 0));
        }
    }
    pending_.pop_front();
}

}  // namespace vtx
