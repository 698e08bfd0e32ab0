#include "comm/FrameWaiter.h"

#include "platform/ThreadServices.h"

namespace vtx {

FrameWaiter::FrameWaiter(Device& device, EndedHandler onEnded)
    : device_(device), onEnded_(std::move(onEnded)) {
    thread_.start([this] { run(); });
}

FrameWaiter::~FrameWaiter() {
    stop();
    thread_.end();
}

void FrameWaiter::arm() {
    {
        const std::lock_guard lock(mutex_);
        if (outcome_ != FrameWaitOutcome::NoWait || stopping_) {
            return;
        }
        outcome_ = FrameWaitOutcome::Busy;
    }
    changed_.notify_all();
}

FrameWaitOutcome FrameWaiter::collect(CanFrame& frame) {
    const std::lock_guard lock(mutex_);
    const FrameWaitOutcome outcome = outcome_;
    if (outcome == FrameWaitOutcome::Busy || outcome == FrameWaitOutcome::NoWait) {
        return outcome;
    }
    if (outcome == FrameWaitOutcome::Frame) {
        frame = frame_;
    }
    outcome_ = FrameWaitOutcome::NoWait;
    return outcome;
}

void FrameWaiter::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    device_.endFrameWait();
}

void FrameWaiter::run() {
    platform::raiseCurrentThreadPriority();
    platform::nameCurrentThread("vtx-wait");
    std::unique_lock lock(mutex_);
    while (true) {
        // Ends at the next arm or at the stop, which the owner always makes before ending the
        // thread.
        changed_.wait(lock, [&] { return outcome_ == FrameWaitOutcome::Busy || stopping_; });
        if (stopping_) {
            return;
        }
        lock.unlock();
        CanFrame frame;
        const FrameWaitOutcome outcome = device_.awaitFrame(frame, kWaitMs);
        lock.lock();
        frame_ = frame;
        outcome_ = outcome;
        lock.unlock();
        onEnded_();
        lock.lock();
    }
}

}  // namespace vtx
