#include "comm/TransmitQueue.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"

namespace vtx {

using namespace trace;

namespace {
constexpr char kEvent[] = "CommInterfaceThread";
constexpr Group kGroup = Group::CommAndChannel;
}  // namespace

TransmitQueue::TransmitQueue(std::function<void()> onQueued) : onQueued_(std::move(onQueued)) {}

std::size_t TransmitQueue::admit(std::span<const CanFrame> frames,
                                 const std::shared_ptr<TxTicket>& ticket,
                                 const std::function<void(std::size_t)>& beforeQueueing) {
    const auto started = std::chrono::steady_clock::now();
    const std::lock_guard admission(admissionMutex_);
    std::size_t queued = 0;
    {
        const std::lock_guard lock(mutex_);
        VTX_TRACE(kGroup, kEvent, place::kCommFramesQueueingStarted,
                  u32("listPkts.count", static_cast<uint32_t>(frames.size())),
                  u32("queueOutPktsCAN.count", static_cast<uint32_t>(frames_.size())),
                  hex("numPktsTransmitted", 0));
        queued = std::min(kLimit - std::min(kLimit, frames_.size()), frames.size());
    }
    if (queued == 0) {
        return 0;
    }
    if (beforeQueueing) {
        beforeQueueing(queued);
    }
    {
        // Only frames queued beyond the limit can have come in meanwhile; these still go.
        const std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < queued; ++i) {
            frames_.push_back(QueuedFrame{frames[i], ticket});
        }
        VTX_TRACE(
            kGroup, kEvent, place::kCommFramesQueueingEnded,
            u32("queueOutPktsCAN.count", static_cast<uint32_t>(frames_.size())),
            u32("t", static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - started)
                                               .count())));
    }
    onQueued_();
    return queued;
}

void TransmitQueue::pushBeyondLimit(std::span<const CanFrame> frames,
                                    const std::shared_ptr<TxTicket>& ticket) {
    {
        const std::lock_guard lock(mutex_);
        for (const CanFrame& frame : frames) {
            frames_.push_back(QueuedFrame{frame, ticket});
        }
    }
    onQueued_();
}

TransmitQueue::Chunk TransmitQueue::take(std::size_t most) {
    Chunk chunk;
    const std::lock_guard lock(mutex_);
    const std::size_t n = std::min(frames_.size(), most);
    chunk.frames.reserve(n);
    chunk.tickets.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        QueuedFrame& head = frames_.front();
        chunk.frames.push_back(head.frame);
        chunk.tickets.push_back(std::move(head.ticket));
        frames_.pop_front();
    }
    return chunk;
}

std::vector<std::shared_ptr<TxTicket>> TransmitQueue::clear() {
    std::vector<std::shared_ptr<TxTicket>> tickets;
    const std::lock_guard lock(mutex_);
    tickets.reserve(frames_.size());
    for (QueuedFrame& queued : frames_) {
        tickets.push_back(std::move(queued.ticket));
    }
    frames_.clear();
    return tickets;
}

bool TransmitQueue::empty() const {
    const std::lock_guard lock(mutex_);
    return frames_.empty();
}

}  // namespace vtx
