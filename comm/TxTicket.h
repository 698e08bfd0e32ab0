#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace vtx {

// What a write that waits learns of its own frames: how many the device took, and how many were
// discarded before it could (cleared from the transmit queue, or lost with a failed device
// write). The writer is done waiting once the two add up to the frames it queued. Shared between
// the writer and the frames still queued, so a writer that stopped waiting leaves nothing
// dangling.
//
// Only the communication thread credits a ticket; anyone may read it, with no lock: the counts
// only grow, each credit is released after the time it records, and a reader that acquires a
// count sees the time of every credit it counts. A reader may see the two counts at different
// moments, which can only make it count fewer: it waits for the next wake-up then.
class TxTicket {
  public:
    using Clock = std::chrono::steady_clock;

    void creditSent(Clock::time_point at) {
        lastSentAt_.store(at.time_since_epoch().count(), std::memory_order_relaxed);
        sent_.fetch_add(1, std::memory_order_release);
    }
    void creditDiscarded() { discarded_.fetch_add(1, std::memory_order_release); }

    uint32_t sent() const { return sent_.load(std::memory_order_acquire); }
    uint32_t discarded() const { return discarded_.load(std::memory_order_acquire); }
    uint32_t resolved() const { return sent() + discarded(); }
    // When the device last took frames of this ticket; read after sent() has counted them.
    Clock::time_point lastSentAt() const {
        return Clock::time_point(Clock::duration(lastSentAt_.load(std::memory_order_relaxed)));
    }

  private:
    std::atomic<uint32_t> sent_{0};
    std::atomic<uint32_t> discarded_{0};
    std::atomic<Clock::rep> lastSentAt_{0};
};

}  // namespace vtx
