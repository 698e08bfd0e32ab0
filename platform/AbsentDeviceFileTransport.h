#pragma once

#include "platform/DeviceFileTransport.h"

namespace vtx {

// The device file of a platform without the kernel driver: it never opens.
class AbsentDeviceFileTransport : public DeviceFileTransport {
  public:
    bool open() override { return false; }
    bool isOpen() const override { return false; }
    int read(uint8_t*, int) override { return 0; }
    int write(const uint8_t*, int) override { return 0; }
    bool controlCode(uint32_t, const void*, uint32_t, void*, uint32_t) override { return false; }
    void close() override {}
};

}  // namespace vtx
