// The latency of a USB transfer, paid by sleeping. A sleep often lasts longer than asked (a
// whole timer tick on some systems); the surplus is credited to the following transfers, so
// that on average each costs the latency, however coarse the sleeps.
#pragma once

#include <chrono>
#include <mutex>

namespace vtx::sim {

class LatencyPacer {
  public:
    explicit LatencyPacer(std::chrono::microseconds latency) : latency_(latency) {}

    // Sleeps off one transfer's latency (nothing when it is covered by credit).
    void pay();
    std::chrono::microseconds latency() const { return latency_; }

  private:
    const std::chrono::microseconds latency_;
    std::mutex mutex_;                    // guards credit_
    std::chrono::nanoseconds credit_{0};  // sleeping done ahead for later transfers
};

}  // namespace vtx::sim
