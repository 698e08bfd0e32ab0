#include "sim/SimPipeTransport.h"

#include <algorithm>
#include <thread>

namespace vtx::sim {

namespace {
// A long stall (a descheduled thread) does not buy more than this many free transfers' worth.
constexpr std::chrono::milliseconds kMaxCredit{20};
}  // namespace

SimPipeTransport::SimPipeTransport(SimDevice& device, std::chrono::microseconds latency)
    : device_(device), latency_(latency) {}

std::vector<std::string> SimPipeTransport::enumerateDevicePaths() {
    if (!device_.plugged()) {
        return {};
    }
    return {kDevicePath};
}

bool SimPipeTransport::isDevicePresent() {
    return device_.plugged();
}

bool SimPipeTransport::open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (open_ || path != kDevicePath || !device_.plugged()) {
        return false;
    }
    open_ = true;
    openedCycle_ = device_.powerCycle();
    inPipeTimeout_ = std::chrono::milliseconds(kInPipeTimeoutMs);
    return true;
}

bool SimPipeTransport::setInPipeTimeout(uint32_t ms) {
    std::lock_guard lock(mutex_);
    if (!open_) {
        return false;
    }
    if (failedTimeoutSets_ > 0) {
        --failedTimeoutSets_;
        return false;
    }
    inPipeTimeout_ =
        ms == 0 ? kLongestRead
                : std::min<std::chrono::milliseconds>(std::chrono::milliseconds(ms), kLongestRead);
    return true;
}

void SimPipeTransport::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
}

bool SimPipeTransport::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

bool SimPipeTransport::handleAlive() const {
    std::lock_guard lock(mutex_);
    return open_ && device_.poweredSince(openedCycle_);
}

// Sleeps off the transfer's latency. A sleep often lasts longer than asked (a whole timer tick
// on some systems); the surplus is credited to the following transfers, so that on average each
// costs the latency, however coarse the sleeps.
void SimPipeTransport::payLatency() {
    if (latency_.count() <= 0) {
        return;
    }
    std::chrono::nanoseconds owed;
    {
        std::lock_guard lock(mutex_);
        latencyCredit_ -= latency_;
        if (latencyCredit_.count() >= 0) {
            return;
        }
        owed = -latencyCredit_;
        latencyCredit_ = {};
    }
    const auto start = SimClock::now();
    std::this_thread::sleep_for(owed);
    const auto surplus = SimClock::now() - start - owed;
    std::lock_guard lock(mutex_);
    latencyCredit_ = std::min<std::chrono::nanoseconds>(latencyCredit_ + surplus, kMaxCredit);
}

int SimPipeTransport::writePipe(const uint8_t* bytes, int length) {
    if (!isOpen()) {
        return 0;
    }
    payLatency();
    return handleAlive() ? device_.write(bytes, length) : 0;
}

int SimPipeTransport::readPipe(uint8_t* bytes, int length) {
    if (!isOpen()) {
        return 0;
    }
    payLatency();
    std::chrono::milliseconds timeout;
    {
        std::lock_guard lock(mutex_);
        timeout = inPipeTimeout_;
    }
    return handleAlive() ? device_.read(bytes, length, timeout) : 0;
}

void SimPipeTransport::failInPipeTimeoutSets(int count) {
    std::lock_guard lock(mutex_);
    failedTimeoutSets_ = count > 0 ? count : 0;
}

}  // namespace vtx::sim
