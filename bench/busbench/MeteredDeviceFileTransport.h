// The simulated device's device-file transport (the kernel-driver path) as this program lends it
// to the library, with the CPU time spent inside each call counted as the simulator's
// (TransportMeter).
#pragma once

#include <cstdint>

#include "platform/DeviceFileTransport.h"

namespace busbench {

class MeteredDeviceFileTransport final : public vtx::DeviceFileTransport {
  public:
    // The one instance the program lends; its calls go to the current simulated world's
    // device file, looked up on each call so that every new world is met.
    static MeteredDeviceFileTransport& instance();

    bool open() override;
    bool isOpen() const override;
    int read(uint8_t* bytes, int length) override;
    int write(const uint8_t* bytes, int length) override;
    bool controlCode(uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength) override;
    void close() override;

  private:
    static vtx::DeviceFileTransport& inner();
};

}  // namespace busbench
