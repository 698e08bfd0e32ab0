#pragma once

#include "platform/PipeTransport.h"

namespace vtx {

// The transport of a platform without a USB back end: no device is ever present.
class AbsentPipeTransport : public PipeTransport {
  public:
    std::vector<std::string> enumerateDevicePaths() override { return {}; }
    bool isDevicePresent() override { return false; }
    bool open(const std::string&) override { return false; }
    bool setInPipeTimeout(uint32_t) override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    int writePipe(const uint8_t*, int) override { return 0; }
    int readPipe(uint8_t*, int) override { return 0; }
};

}  // namespace vtx
