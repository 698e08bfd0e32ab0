#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vtx {

// The completion signal of device writes of queued frames, one for the process: the
// communication thread holds the mutex across every such write and signals after it; a writer
// that waits locks the mutex before it queues its frames, so the signal of the write carrying
// them cannot come before it waits. Lock order: this mutex before the transmit queue's.
struct TxCompletion {
    std::mutex mutexTxCompleted;
    std::condition_variable waitTxCompleted;
    uint64_t writesCompleted =
        0;  // guarded by mutexTxCompleted; tells a signal from a spurious wake

    // Created on first use; destroyed only by releaseProcess(), which the library calls at unload
    // after its threads have ended (never a static destructor, which a process exit runs while
    // the communication thread may still be alive).
    static TxCompletion& process();
    static void releaseProcess();
};

}  // namespace vtx
