#include "tools/ptcan/LogClock.h"

#include <chrono>

namespace ptcan {

int64_t LogClock::wallMicros(uint32_t deviceMicros) {
    if (!started_) {
        started_ = true;
        wall_ = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
    } else {
        wall_ += static_cast<uint32_t>(deviceMicros - lastDevice_);
    }
    lastDevice_ = deviceMicros;
    return wall_;
}

}  // namespace ptcan
