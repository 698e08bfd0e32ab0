// The completion signal of the device writes of queued frames, one per communication thread.
// After every such write, and after every clear of the transmit queue, the thread settles the
// frames' tickets and counts the write; every writer that waits then wakes to look at its own
// ticket, or, when it still has frames waiting for room in the queue, to queue more. Whoever ends
// what a writer waits for in another way (its channel's end, a transfer given up) wakes the
// writers too.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "comm/TxTicket.h"

namespace vtx {

class TxCompletion {
  public:
    using Clock = std::chrono::steady_clock;

    // Credits each frame's ticket (the first sent of them went out, at the time given; the
    // others were discarded), counts the write and wakes the writers.
    void settle(const std::vector<std::shared_ptr<TxTicket>>& tickets, std::size_t sent,
                Clock::time_point at);
    // The writes settled so far: a writer that read it before looking for room in the queue sees
    // every write settled after its look as a change.
    uint64_t writesSettled() const { return writesSettled_.load(std::memory_order_acquire); }
    // Waits until done() holds or the deadline passes; done()'s last answer. done() runs under the
    // signal's lock, so anything it reads that another thread changes before calling wake() (or
    // settle()) is seen; it may take a channel's receive lock, and nothing else.
    template <typename Done>
    bool waitUntil(Clock::time_point deadline, Done done) {
        std::unique_lock lock(mutex_);
        return signal_.wait_until(lock, deadline, done);
    }
    // Wakes every waiting writer to look again. Taking the lock first means a writer is either
    // before its look (and sees what changed) or inside its wait (and is woken).
    void wake();

  private:
    std::atomic<uint64_t> writesSettled_{0};
    // Guards no data: it orders the writers' looks with wake(). Taken before a channel's
    // receive lock (by a waiter's done()), never after it.
    std::mutex mutex_;
    std::condition_variable signal_;
};

}  // namespace vtx
