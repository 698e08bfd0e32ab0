#include "comm/FrameWaiter.h"

#include <chrono>

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
        if (state_ != State::Free || stopping_) {
            return;
        }
        state_ = State::Armed;
    }
    changed_.notify_all();
}

bool FrameWaiter::busy() {
    const std::lock_guard lock(mutex_);
    return state_ == State::Armed;
}

std::optional<FrameWaiter::Ending> FrameWaiter::collect() {
    const std::lock_guard lock(mutex_);
    if (state_ != State::Ended) {
        return std::nullopt;
    }
    state_ = State::Free;
    return std::move(ending_);
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
        changed_.wait(lock, [&] { return state_ == State::Armed || stopping_; });
        if (stopping_) {
            return;
        }
        lock.unlock();
        Ending ending = waitOnDevice();
        lock.lock();
        ending_ = std::move(ending);
        state_ = State::Ended;
        lock.unlock();
        onEnded_();
        lock.lock();
    }
}

FrameWaiter::Ending FrameWaiter::waitOnDevice() {
    // A wait that ends in less than half its timeout without a frame did not wait.
    constexpr auto kShortest = std::chrono::milliseconds(kWaitMs / 2);
    const auto started = std::chrono::steady_clock::now();
    CanFrame frame;
    Ending ending;
    switch (device_.awaitFrame(frame, kWaitMs)) {
        case Device::FrameWaitEnd::Frame:
            ending.frame = frame;
            break;
        case Device::FrameWaitEnd::NoFrame:
            ending.cutShort = std::chrono::steady_clock::now() - started < kShortest;
            break;
        case Device::FrameWaitEnd::GaveWay:
            break;
    }
    return ending;
}

}  // namespace vtx
