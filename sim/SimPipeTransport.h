// The simulated device behind the pipe transport: one device path while the device is plugged
// in, a handle that dies with the power cycle it was opened in, and a latency on every pipe
// transfer, so that a caller polling the pipes paces itself as it would on the real bus.
//
// Like the real transports, the handle is not locked: only the device's own threads touch it,
// in the order the device layer keeps (open and the IN pipe's timeout from one thread with no
// transfer under way, close under both of the device's transfer locks, reads on the frame
// waiter while the communication thread writes). A caller that reads it from any other thread
// races with them, and the thread sanitizer sees it. What the simulated device shares with its
// bus and test threads has its own locks, inside SimDevice and here.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PipeTransport.h"
#include "sim/LatencyPacer.h"
#include "sim/SimDevice.h"

namespace vtx::sim {

class SimPipeTransport : public PipeTransport {
  public:
    // The one device's path; any stable string does.
    static constexpr const char* kDevicePath = "\\\\?\\usb#vid_0000&pid_0000#vtxsim1234#winusb";
    static constexpr std::chrono::milliseconds kLongestRead{5000};

    SimPipeTransport(SimDevice& device, std::chrono::microseconds latency);

    std::vector<std::string> enumerateDevicePaths() override;
    bool isDevicePresent() override;
    // Fails while unplugged, for any other path, and while already open.
    bool open(const std::string& path) override;
    // The IN pipe's timeout is 500 ms from open on; 0 (the pipe's "no limit") and longer values
    // are held to kLongestRead, so that every read ends.
    bool setInPipeTimeout(uint32_t ms) override;
    void close() override;
    bool isOpen() const override;
    // Both fail (0) while closed, and on a handle whose device was unplugged since it was
    // opened, until it is closed and opened again.
    int writePipe(const uint8_t* bytes, int length) override;
    int readPipe(uint8_t* bytes, int length) override;

    // The next count calls of setInPipeTimeout fail.
    void failInPipeTimeoutSets(int count);
    std::chrono::microseconds latency() const { return pacer_.latency(); }

  private:
    bool handleAlive() const;

    SimDevice& device_;
    LatencyPacer pacer_;  // every transfer's latency

    // The handle: the device's threads only, unlocked (see above).
    bool open_ = false;
    uint64_t openedCycle_ = 0;  // the device's power cycle when the handle was opened
    std::chrono::milliseconds inPipeTimeout_{kInPipeTimeoutMs};

    // Guards failedTimeoutSets_, which the test control sets from its own thread.
    std::mutex mutex_;
    int failedTimeoutSets_ = 0;
};

}  // namespace vtx::sim
