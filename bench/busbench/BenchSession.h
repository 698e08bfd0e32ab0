// One measured setup: the library attached in this process with a fresh simulated world, the
// device opened, one CAN channel connected and a pass filter that lets every 11-bit frame
// through, all through the fourteen functions as an application calls them. The device path is
// VTXPTS_DEVICE's (sim or sim-kernel), sim when it is not set. IDs and statuses are the header's
// J2534_UINT: unsigned long in busbench-ulong, which calls the unsigned-long exports.
#pragma once

#include <cstdint>
#include <string>

#include "base/J2534.h"
#include "sim/SimControl.h"

namespace busbench {

// The program's name in its report: busbench-ulong is built from the same sources with
// VTXPTS_ULONG and calls the unsigned-long exports.
inline const char* programName() {
#if defined(VTXPTS_ULONG)
    return "busbench-ulong";
#else
    return "busbench";
#endif
}

struct SessionSettings {
    uint32_t bitRate = 500000;
    std::string traffic;    // VTXPTS_SIM_TRAFFIC; empty: no traffic generator
    std::string traceFile;  // VTXPTS_TRACE with every log switch bit on; empty: no tracing
};

class BenchSession {
  public:
    explicit BenchSession(const SessionSettings& settings);
    ~BenchSession();  // closes the device and detaches the library, ending the simulated world
    BenchSession(const BenchSession&) = delete;
    BenchSession& operator=(const BenchSession&) = delete;

    // Whether the device opened, the channel connected and the filter started.
    bool ok() const { return ok_; }
    J2534_UINT device() const { return device_; }
    J2534_UINT channel() const { return channel_; }
    // The process's simulated world, which the library built when the device opened.
    vtx::sim::SimControl& control();
    // Closes the device before the session ends, so that a scenario may open it itself.
    void closeDevice();

    // Starts a pass filter on the channel that lets every 11-bit frame through.
    static bool passEverything(J2534_UINT channel);

  private:
    static void configure(const SessionSettings& settings);
    bool openChannel(uint32_t bitRate);

    J2534_UINT device_ = 0;
    J2534_UINT channel_ = 0;
    bool opened_ = false;
    bool ok_ = false;
};

}  // namespace busbench
