// The "t" field of trace events: milliseconds since the timer was made. The clock is read only
// when the group's events are being written, so a call nobody traces pays nothing for it (on
// some machines reading the clock is a system call).
#pragma once

#include <chrono>
#include <cstdint>

#include "trace/TraceProvider.h"

namespace vtx::trace {

class TraceTimer {
  public:
    explicit TraceTimer(Group group) : traced_(TraceProvider::instance().admits(group)) {
        if (traced_) {
            begin_ = std::chrono::steady_clock::now();
        }
    }

    // 0 when the group was not traced as the timer was made.
    uint32_t elapsed() const {
        if (!traced_) {
            return 0;
        }
        const auto span = std::chrono::steady_clock::now() - begin_;
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
    }

  private:
    const bool traced_;
    std::chrono::steady_clock::time_point begin_{};
};

}  // namespace vtx::trace
