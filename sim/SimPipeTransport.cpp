#include "sim/SimPipeTransport.h"

#include <algorithm>

namespace vtx::sim {

SimPipeTransport::SimPipeTransport(SimDevice& device, std::chrono::microseconds latency)
    : device_(device), pacer_(latency) {}

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
    if (open_ || path != kDevicePath || !device_.plugged()) {
        return false;
    }
    open_ = true;
    openedCycle_ = device_.powerCycle();
    inPipeTimeout_ = std::chrono::milliseconds(kInPipeTimeoutMs);
    return true;
}

bool SimPipeTransport::setInPipeTimeout(uint32_t ms) {
    if (!open_) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (failedTimeoutSets_ > 0) {
            --failedTimeoutSets_;
            return false;
        }
    }
    inPipeTimeout_ =
        ms == 0 ? kLongestRead
                : std::min<std::chrono::milliseconds>(std::chrono::milliseconds(ms), kLongestRead);
    return true;
}

void SimPipeTransport::close() {
    open_ = false;
}

bool SimPipeTransport::isOpen() const {
    return open_;
}

bool SimPipeTransport::handleAlive() const {
    return open_ && device_.poweredSince(openedCycle_);
}

int SimPipeTransport::writePipe(const uint8_t* bytes, int length) {
    if (!isOpen()) {
        return 0;
    }
    pacer_.pay();
    return handleAlive() ? device_.write(bytes, length) : 0;
}

int SimPipeTransport::readPipe(uint8_t* bytes, int length) {
    if (!isOpen()) {
        return 0;
    }
    pacer_.pay();
    return handleAlive() ? device_.read(bytes, length, inPipeTimeout_) : 0;
}

void SimPipeTransport::failInPipeTimeoutSets(int count) {
    std::lock_guard lock(mutex_);
    failedTimeoutSets_ = count > 0 ? count : 0;
}

}  // namespace vtx::sim
