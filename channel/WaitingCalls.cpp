#include "channel/WaitingCalls.h"

namespace vtx {

WaitingCalls::Entry::Entry(WaitingCalls& calls, std::unique_lock<std::mutex>& call)
    : calls_(calls) {
    calls_.enter();
    call.unlock();
}

void WaitingCalls::enter() {
    const std::lock_guard lock(mutex_);
    ++inside_;
}

// Notifies under the lock: once the last call has left, the waiter may destroy this object,
// which must not happen between the count and the notification.
void WaitingCalls::leave() {
    const std::lock_guard lock(mutex_);
    --inside_;
    left_.notify_all();
}

void WaitingCalls::waitUntilEmpty() {
    std::unique_lock lock(mutex_);
    left_.wait(lock, [&] { return inside_ == 0; });
}

}  // namespace vtx
