// What KernelDriverDevice needs from below: the kernel driver's device file, carrying the device's
// 16-byte packets unchanged in both directions, and the driver's control codes. Implemented on
// Windows and POSIX over the driver's device file, and by the simulated device. The open handle
// is process-wide: there is one device per process.
#pragma once

#include <cstdint>

namespace vtx {

class DeviceFileTransport {
  public:
    // Succeeds while the device is present; 4 bytes of output, not examined.
    static constexpr uint32_t kPresenceCode = 0x222028;
    // Takes 4 bytes: the auxiliary value just sent, little-endian.
    static constexpr uint32_t kAuxValueCode = 0x22202C;

    virtual ~DeviceFileTransport() = default;

    // Opens the device file for reading and writing, unshared. False leaves it closed (no
    // driver, no device, or the file already open elsewhere).
    virtual bool open() = 0;
    virtual bool isOpen() const = 0;
    // One synchronous transfer each; the bytes transferred, 0 on failure. How long a read waits
    // is the driver's.
    virtual int read(uint8_t* bytes, int length) = 0;
    virtual int write(const uint8_t* bytes, int length) = 0;
    // One driver control code; whether the driver accepted it.
    virtual bool controlCode(uint32_t code, const void* input, uint32_t inputLength, void* output,
                             uint32_t outputLength) = 0;
    // Closes the device file; nothing when closed.
    virtual void close() = 0;
};

}  // namespace vtx
