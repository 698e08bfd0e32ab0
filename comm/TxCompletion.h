#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vtx {

// The completion signal of device writes of queued frames, one per communication thread: after
// every such write (and after a clear of the transmit queue) the frames' tickets are credited under
// the mutex, writesCompleted is counted up, and every waiting writer wakes to check its own ticket,
// or, when it still has frames waiting for room in the queue, to queue more. Lock order: this
// mutex before the transmit queue's.
struct TxCompletion {
    std::mutex mutexTxCompleted;
    std::condition_variable waitTxCompleted;
    uint64_t writesCompleted = 0;  // guarded by mutexTxCompleted
};

}  // namespace vtx
