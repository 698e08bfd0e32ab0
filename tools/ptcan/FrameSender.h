// Sends frames one at a time on a raw CAN channel and, with loopback on, hands each copy the
// device sends back to a log output: what gen and play do.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "tools/ptcan/CanChannel.h"
#include "tools/ptcan/LogOutput.h"

namespace ptcan {

class FrameSender {
  public:
    using Clock = std::chrono::steady_clock;

    // echoes: where loopback copies go, or nullptr when loopback is off.
    FrameSender(CanChannel& channel, LogOutput* echoes);

    // Waits until the device has taken the frame (at most a second).
    void send(const Frame& frame);
    // Waits until then (or Ctrl-C), taking in loopback copies meanwhile.
    void waitUntil(Clock::time_point then);
    // Takes in loopback copies until one came back for every frame sent, until none came for
    // five seconds (the device lost some), or until Ctrl-C.
    void collectEchoes();

    uint64_t sent() const { return sent_; }

  private:
    // Reads loopback copies for up to timeoutMs; how many came.
    uint32_t takeEchoes(uint32_t timeoutMs);

    CanChannel& channel_;
    LogOutput* echoes_;
    std::vector<PASSTHRU_MSG> buffer_;
    uint64_t sent_ = 0;
    uint64_t echoed_ = 0;
};

}  // namespace ptcan
