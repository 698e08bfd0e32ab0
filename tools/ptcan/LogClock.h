// Turns the device's 32-bit microsecond receive timestamps into wall-clock microseconds for a
// candump log: the first message is stamped with the host's time, each later one with the
// device's distance from the one before (modulo 2^32, so the counter may wrap).
#pragma once

#include <cstdint>

namespace ptcan {

class LogClock {
  public:
    int64_t wallMicros(uint32_t deviceMicros);

  private:
    bool started_ = false;
    uint32_t lastDevice_ = 0;
    int64_t wall_ = 0;
};

}  // namespace ptcan
