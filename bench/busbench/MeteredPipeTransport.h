// The simulated device's pipe transport as this program lends it to the library (the library
// takes a simulated device its host program offers, see device/SimulatedDeviceHost.h), with the
// CPU time spent inside each call counted. The library's communication thread calls the
// transport synchronously, so the simulated device's work on a transfer (its packet handling,
// the sleeps that model USB latency) runs on a library thread: by thread name it would count as
// the library's. The meter moves it to the simulator, and counts the transfers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/PipeTransport.h"

namespace busbench {

// CPU seconds spent inside transport calls, by the kind of thread that made them, and the
// number of transfers on either pipe, since the program started.
struct TransportTotals {
    double libraryThreadSeconds = 0;
    double applicationThreadSeconds = 0;
    uint64_t transfers = 0;
};

class MeteredPipeTransport final : public vtx::PipeTransport {
  public:
    // The one instance the program lends; its calls go to the current simulated world's
    // transport, looked up on each call so that every new world is met.
    static MeteredPipeTransport& instance();
    static TransportTotals totals();
    // Marks the calling thread as one of this program's ("app-..."), for totals().
    static void markApplicationThread();

    std::vector<std::string> enumerateDevicePaths() override;
    bool isDevicePresent() override;
    bool open(const std::string& path) override;
    bool setInPipeTimeout(uint32_t ms) override;
    void close() override;
    bool isOpen() const override;
    int writePipe(const uint8_t* bytes, int length) override;
    int readPipe(uint8_t* bytes, int length) override;

  private:
    class Meter;
    static vtx::PipeTransport& inner();

    static std::atomic<uint64_t> libraryNanoseconds_;
    static std::atomic<uint64_t> applicationNanoseconds_;
    static std::atomic<uint64_t> transfers_;
};

}  // namespace busbench
