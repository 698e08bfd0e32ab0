// The CPU time spent inside the simulated device's transports, by the kind of thread that
// called them, and the number of transfers. The library's communication thread calls a transport
// synchronously, so the simulated device's work on a transfer (its packet handling, the sleeps
// that model USB latency) runs on a library thread: by thread name it would count as the
// library's. The metered transports (MeteredPipeTransport, MeteredDeviceFileTransport) move it to
// the simulator.
#pragma once

#include <atomic>
#include <cstdint>

namespace busbench {

// CPU seconds spent inside transport calls, by the kind of thread that made them, and the
// number of transfers on the device's pipes or file, since the program started.
struct TransportTotals {
    double libraryThreadSeconds = 0;
    double applicationThreadSeconds = 0;
    uint64_t transfers = 0;
};

// Adds the calling thread's CPU time from its construction to its destruction to the totals.
// The two clock readings (system calls) count too, as the simulator's: on a virtual machine each
// costs about a microsecond, more than a call such as isOpen() itself.
class TransportMeter {
  public:
    enum class Kind : uint8_t { Control, Transfer };

    explicit TransportMeter(Kind kind = Kind::Control);
    ~TransportMeter();
    TransportMeter(const TransportMeter&) = delete;
    TransportMeter& operator=(const TransportMeter&) = delete;

    // Measures what a clock reading costs, once, before the first meter needs it (else the
    // first meter's caller pays for the measuring).
    static void calibrate();
    static TransportTotals totals();
    // Marks the calling thread as one of this program's ("app-..."), for totals().
    static void markApplicationThread();

  private:
    static std::atomic<uint64_t> libraryNanoseconds_;
    static std::atomic<uint64_t> applicationNanoseconds_;
    static std::atomic<uint64_t> transfers_;

    const uint64_t start_;
};

}  // namespace busbench
