// A call counts itself into a channel's waiting calls and releases the call lock in one step;
// whoever then takes the call lock and waits for the calls inside waits until it has left.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>

#include "channel/WaitingCalls.h"

namespace vtx {
namespace {

// A call is counted in only together with the release of the call lock it holds.
static_assert(
    std::is_constructible_v<WaitingCalls::Entry, WaitingCalls&, std::unique_lock<std::mutex>&>);
static_assert(!std::is_constructible_v<WaitingCalls::Entry, WaitingCalls&>);

// The main thread stands for a disconnect: under the call lock it wakes the call inside (as a
// channel's end does), then waits for the calls inside. The call records that it is leaving
// before it leaves.
TEST(WaitingCalls, DrainWaitsForTheCallInsideToLeave) {
    std::mutex callMutex;
    WaitingCalls calls;
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool woken = false;  // guarded by wakeMutex
    std::atomic<bool> leaving{false};
    std::atomic<bool> lockReleased{false};
    std::promise<void> entered;
    std::future<void> inside = entered.get_future();
    std::thread call([&] {
        std::unique_lock callLock(callMutex);
        const WaitingCalls::Entry entry(calls, callLock);
        lockReleased = !callLock.owns_lock();
        entered.set_value();
        {
            std::unique_lock lock(wakeMutex);
            // Ends: the drain sets woken before it waits for the calls inside.
            wake.wait(lock, [&] { return woken; });
        }
        leaving = true;
    });
    // Ends once the call has entered: nobody else holds the call lock.
    inside.wait();
    {
        const std::lock_guard callLock(callMutex);
        {
            const std::lock_guard lock(wakeMutex);
            woken = true;
        }
        wake.notify_all();
        calls.waitUntilEmpty();
        EXPECT_TRUE(leaving.load());
    }
    call.join();
    EXPECT_TRUE(lockReleased.load());
}

}  // namespace
}  // namespace vtx
