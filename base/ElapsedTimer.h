#pragma once

#include <chrono>
#include <cstdint>

namespace vtx {

// Milliseconds since start() or restart(), on the steady clock.
class ElapsedTimer {
  public:
    ElapsedTimer() { start(); }
    void start() { begin_ = std::chrono::steady_clock::now(); }
    // Restarts and returns the milliseconds elapsed until now.
    uint32_t restart() {
        const uint32_t ms = elapsed();
        start();
        return ms;
    }
    std::chrono::steady_clock::time_point startedAt() const { return begin_; }
    uint32_t elapsed() const {
        const auto span = std::chrono::steady_clock::now() - begin_;
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
    }

  private:
    std::chrono::steady_clock::time_point begin_;
};

}  // namespace vtx
