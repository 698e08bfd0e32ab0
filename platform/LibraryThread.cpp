#include "platform/LibraryThread.h"

#include <chrono>
#include <utility>

#include "platform/ThreadServices.h"

namespace vtx::platform {

LibraryThread::~LibraryThread() {
    end();
}

void LibraryThread::start(std::function<void()> body) {
    {
        const std::lock_guard lock(mutex_);
        parked_ = false;
        released_ = false;
    }
    thread_ = std::thread([this, work = std::move(body)] { runThenPark(work); });
}

void LibraryThread::runThenPark(const std::function<void()>& body) {
    body();
    std::unique_lock lock(mutex_);
    parked_ = true;
    parking_.notify_all();
    // Ends when the owner releases the thread; inside the unload notification the owner
    // terminates it here instead.
    parking_.wait(lock, [this] { return released_; });
}

bool LibraryThread::waitParked(uint32_t ms) {
    std::unique_lock lock(mutex_);
    return parking_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return parked_; });
}

void LibraryThread::end() {
    if (!thread_.joinable()) {
        return;
    }
    if (insideUnloadNotification()) {
        // Parked, it holds nothing; if it does not park in time, the termination is the last
        // resort of the stop sequence anyway.
        waitParked(kParkWaitMs);
        if (!terminate(kParkWaitMs)) {
            thread_.detach();
        }
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        released_ = true;
    }
    parking_.notify_all();
    thread_.join();
}

bool LibraryThread::terminate(uint32_t waitMs) {
    if (!thread_.joinable() || !terminateThread(thread_, waitMs)) {
        return false;
    }
    thread_.detach();
    return true;
}

}  // namespace vtx::platform
