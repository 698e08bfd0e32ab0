#pragma once

#include "platform/DeviceFileTransport.h"

namespace vtx::platform {

// The kernel driver's character device: open, read, write and ioctl, the control code being the
// ioctl request. One per process: its descriptor is the device's.
class PosixDeviceFileTransport : public DeviceFileTransport {
  public:
    static constexpr const char* kDeviceNode = "/dev/vtxusbcan";

    PosixDeviceFileTransport() = default;
    ~PosixDeviceFileTransport() override;
    PosixDeviceFileTransport(const PosixDeviceFileTransport&) = delete;
    PosixDeviceFileTransport& operator=(const PosixDeviceFileTransport&) = delete;

    bool open() override;
    bool isOpen() const override;
    int read(uint8_t* bytes, int length) override;
    int write(const uint8_t* bytes, int length) override;
    bool controlCode(uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength) override;
    void close() override;

  private:
    // Unlocked: only the communication thread and the frame waiter touch it, and the device layer
    // never lets a transfer run beside its open or close.
    int fd_ = -1;
};

}  // namespace vtx::platform
