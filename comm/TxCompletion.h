#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vtx {

// The completion signal of device writes of queued frames, one for the process: after every
// such write (and after a clear of the transmit queue) the frames' tickets are credited under the
// mutex, writesCompleted is counted up, and every waiting writer wakes to check its own ticket,
// or, when it still has frames waiting for room in the queue, to queue more. Lock order: this
// mutex before the transmit queue's.
struct TxCompletion {
    std::mutex mutexTxCompleted;
    std::condition_variable waitTxCompleted;
    uint64_t writesCompleted = 0;  // guarded by mutexTxCompleted

    // Created on first use; destroyed only by releaseProcess(), which the library calls at unload
    // after its threads have ended (never a static destructor, which a process exit runs while
    // the communication thread may still be alive).
    static TxCompletion& process();
    static void releaseProcess();
};

}  // namespace vtx
