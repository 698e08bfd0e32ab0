// What WinUsbDevice needs from below: the device's two bulk pipes and the device lists of its
// setup class and of its WinUSB interface class. Implemented over WinUSB and SetupAPI on
// Windows, and by the simulated device. The open handles are process-wide: there is one device
// per process, and every WinUsbDevice uses the one transport of the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtx {

class PipeTransport {
  public:
    static constexpr uint8_t kOutPipe = 0x02;
    static constexpr uint8_t kInPipe = 0x82;
    static constexpr uint32_t kInPipeTimeoutMs = 500;

    virtual ~PipeTransport() = default;

    // Device interface paths of the present devices of the WinUSB interface class, in
    // enumeration order.
    virtual std::vector<std::string> enumerateDevicePaths() = 0;
    // A device of the device setup class is present.
    virtual bool isDevicePresent() = 0;

    // Opens the device file at path and initialises WinUSB on it. False leaves it closed.
    virtual bool open(const std::string& path) = 0;
    // Sets the IN pipe's transfer timeout (milliseconds). False when refused.
    virtual bool setInPipeTimeout(uint32_t ms) = 0;
    // Frees WinUSB and closes the device file; nothing when closed.
    virtual void close() = 0;
    // The WinUSB interface handle is set.
    virtual bool isOpen() const = 0;

    // One synchronous transfer on the OUT pipe; the bytes transferred, 0 on failure.
    virtual int writePipe(const uint8_t* bytes, int length) = 0;
    // One synchronous transfer on the IN pipe, returning within the pipe's timeout; the bytes
    // transferred, 0 on failure or timeout.
    virtual int readPipe(uint8_t* bytes, int length) = 0;
};

}  // namespace vtx
