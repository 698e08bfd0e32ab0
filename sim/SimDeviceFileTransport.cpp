#include "sim/SimDeviceFileTransport.h"

#include <cstring>

namespace vtx::sim {

SimDeviceFileTransport::SimDeviceFileTransport(SimDevice& device, std::chrono::microseconds latency)
    : device_(device), pacer_(latency) {}

bool SimDeviceFileTransport::open() {
    if (open_ || !device_.plugged()) {
        return false;
    }
    open_ = true;
    openedCycle_ = device_.powerCycle();
    return true;
}

bool SimDeviceFileTransport::isOpen() const {
    return open_;
}

void SimDeviceFileTransport::close() {
    open_ = false;
}

bool SimDeviceFileTransport::handleAlive() const {
    return open_ && device_.poweredSince(openedCycle_);
}

int SimDeviceFileTransport::write(const uint8_t* bytes, int length) {
    if (!isOpen()) {
        return 0;
    }
    pacer_.pay();
    return handleAlive() ? device_.write(bytes, length) : 0;
}

int SimDeviceFileTransport::read(uint8_t* bytes, int length) {
    if (!isOpen()) {
        return 0;
    }
    pacer_.pay();
    return handleAlive() ? device_.read(bytes, length, kReadLimit) : 0;
}

bool SimDeviceFileTransport::controlCode(uint32_t code, const void* input, uint32_t inputLength,
                                         void* output, uint32_t outputLength) {
    if (!handleAlive()) {
        return false;
    }
    if (code == kPresenceCode) {
        if (output != nullptr) {
            std::memset(output, 0, outputLength);
        }
        return true;
    }
    if (code == kAuxValueCode && input != nullptr && inputLength == 4) {
        const auto* in = static_cast<const uint8_t*>(input);
        std::lock_guard lock(mutex_);
        lastAuxValue_ = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                        static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
        return true;
    }
    return false;
}

std::optional<uint32_t> SimDeviceFileTransport::lastAuxValue() const {
    std::lock_guard lock(mutex_);
    return lastAuxValue_;
}

}  // namespace vtx::sim
