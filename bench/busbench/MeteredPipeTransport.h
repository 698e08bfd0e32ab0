// The simulated device's pipe transport as this program lends it to the library (the library
// takes a simulated device its host program offers, see device/SimulatedDeviceHost.h), with the
// CPU time spent inside each call counted as the simulator's (TransportMeter).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PipeTransport.h"

namespace busbench {

class MeteredPipeTransport final : public vtx::PipeTransport {
  public:
    // The one instance the program lends; its calls go to the current simulated world's
    // transport, looked up on each call so that every new world is met.
    static MeteredPipeTransport& instance();

    std::vector<std::string> enumerateDevicePaths() override;
    bool isDevicePresent() override;
    bool open(const std::string& path) override;
    bool setInPipeTimeout(uint32_t ms) override;
    void close() override;
    bool isOpen() const override;
    int writePipe(const uint8_t* bytes, int length) override;
    int readPipe(uint8_t* bytes, int length) override;

  private:
    static vtx::PipeTransport& inner();
};

}  // namespace busbench
