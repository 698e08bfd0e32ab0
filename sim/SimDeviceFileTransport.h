// The simulated device behind the kernel driver's device file: unshared, openable only while the
// device is plugged in, a handle that dies with the power cycle it was opened in, the presence
// and auxiliary-value control codes, and a latency on every transfer.
//
// Like the real transports, the handle is not locked: only the device's own threads touch it,
// in the order the device layer keeps (open from one thread with no transfer under way, close
// under both of the device's transfer locks, reads on the frame waiter while the communication
// thread writes). A caller that reads it from any other thread races with them, and the thread
// sanitizer sees it. What the simulated device shares with its bus and test threads has its own
// locks, inside SimDevice and here.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/DeviceFileTransport.h"
#include "sim/LatencyPacer.h"
#include "sim/SimDevice.h"

namespace vtx::sim {

class SimDeviceFileTransport : public DeviceFileTransport {
  public:
    // Every read returns within this limit, like a read of the IN pipe.
    static constexpr std::chrono::milliseconds kReadLimit{500};

    SimDeviceFileTransport(SimDevice& device, std::chrono::microseconds latency);

    // Fails while unplugged and while already open (the file is not shared).
    bool open() override;
    bool isOpen() const override;
    // Both fail (0) while closed, and on a handle whose device was unplugged since it was
    // opened, until it is closed and opened again.
    int read(uint8_t* bytes, int length) override;
    int write(const uint8_t* bytes, int length) override;
    // The presence code succeeds while the handle's device is powered; the auxiliary-value code
    // takes exactly 4 bytes. Other codes fail.
    bool controlCode(uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength) override;
    void close() override;

    // The last value passed with the auxiliary-value code, if any since construction.
    std::optional<uint32_t> lastAuxValue() const;

  private:
    bool handleAlive() const;

    SimDevice& device_;
    LatencyPacer pacer_;

    // The handle: the device's threads only, unlocked (see above).
    bool open_ = false;
    uint64_t openedCycle_ = 0;  // the device's power cycle when the handle was opened

    // Guards lastAuxValue_, which the tests read from their own thread.
    mutable std::mutex mutex_;
    std::optional<uint32_t> lastAuxValue_;
};

}  // namespace vtx::sim
