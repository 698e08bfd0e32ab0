// Watches the simulated bus for frames of one identifier that carry a big-endian sequence
// number in their first four data bytes (the traffic generator's and the benchmark's own), and
// keeps, for each of the first `capacity` sequence numbers, the time the frame ended on the bus
// and the time the bus thread handed it out (to the device, then to this watch): how late the
// simulated bus delivered it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/SimControl.h"

namespace busbench {

class BusWatch {
  public:
    // capacity: how many end times to keep, by sequence number; 0 keeps none.
    BusWatch(vtx::sim::SimControl& control, uint32_t identifier, std::size_t capacity);
    ~BusWatch();
    BusWatch(const BusWatch&) = delete;
    BusWatch& operator=(const BusWatch&) = delete;

    // Frames of the identifier that crossed the bus since the watch began.
    uint64_t crossed() const { return crossed_.load(); }
    // The sequence number of the latest of them, if any crossed.
    std::optional<uint32_t> latestSequence() const;
    struct Crossing {
        vtx::sim::SimClock::time_point end;        // its last bit on the bus
        vtx::sim::SimClock::time_point delivered;  // when the bus thread handed it out
    };
    // The frame with this sequence number, if it crossed and is kept.
    std::optional<Crossing> crossingOf(uint32_t sequence) const;

  private:
    void onFrame(const vtx::sim::CanFrame& frame, vtx::sim::SimClock::time_point endOfFrame);

    vtx::sim::SimControl& control_;
    const uint32_t identifier_;
    int observerId_ = -1;
    std::atomic<uint64_t> crossed_{0};
    std::atomic<int64_t> latest_{-1};  // -1: none yet

    mutable std::mutex mutex_;  // guards crossings_ and ended_
    std::vector<Crossing> crossings_;
    std::vector<bool> ended_;
};

// The sequence number a frame's first four data bytes carry, most significant first.
uint32_t sequenceIn(const uint8_t* data);

}  // namespace busbench
