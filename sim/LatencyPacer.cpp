#include "sim/LatencyPacer.h"

#include <algorithm>
#include <thread>

namespace vtx::sim {

namespace {
// A long stall (a descheduled thread) does not buy more than this many free transfers' worth.
constexpr std::chrono::milliseconds kMaxCredit{20};
}  // namespace

void LatencyPacer::pay() {
    if (latency_.count() <= 0) {
        return;
    }
    std::chrono::nanoseconds owed;
    {
        std::lock_guard lock(mutex_);
        credit_ -= latency_;
        if (credit_.count() >= 0) {
            return;
        }
        owed = -credit_;
        credit_ = {};
    }
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(owed);
    const auto surplus = std::chrono::steady_clock::now() - start - owed;
    std::lock_guard lock(mutex_);
    credit_ = std::min<std::chrono::nanoseconds>(credit_ + surplus, kMaxCredit);
}

}  // namespace vtx::sim
