#include "bench/busbench/BusWatch.h"

namespace busbench {

uint32_t sequenceIn(const uint8_t* data) {
    return static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
           static_cast<uint32_t>(data[2]) << 8 | data[3];
}

BusWatch::BusWatch(vtx::sim::SimControl& control, uint32_t identifier, std::size_t capacity)
    : control_(control), identifier_(identifier), crossings_(capacity), ended_(capacity, false) {
    observerId_ = control_.addBusObserver(
        [this](const vtx::sim::CanFrame& frame, vtx::sim::SimClock::time_point endOfFrame) {
            onFrame(frame, endOfFrame);
        });
}

// removeBusObserver waits for a delivery in progress, so no callback runs after it.
BusWatch::~BusWatch() {
    control_.removeBusObserver(observerId_);
}

std::optional<uint32_t> BusWatch::latestSequence() const {
    const int64_t latest = latest_.load();
    return latest < 0 ? std::nullopt : std::optional<uint32_t>(static_cast<uint32_t>(latest));
}

std::optional<BusWatch::Crossing> BusWatch::crossingOf(uint32_t sequence) const {
    const std::lock_guard lock(mutex_);
    if (sequence >= ended_.size() || !ended_[sequence]) {
        return std::nullopt;
    }
    return crossings_[sequence];
}

// Runs on the bus thread, so it does as little as it can: its time counts as the simulator's.
void BusWatch::onFrame(const vtx::sim::CanFrame& frame, vtx::sim::SimClock::time_point endOfFrame) {
    if (frame.id != identifier_ || frame.extended || frame.dlc < 4) {
        return;
    }
    const uint32_t sequence = sequenceIn(frame.data.data());
    latest_.store(sequence);
    crossed_.fetch_add(1);
    if (sequence < crossings_.size()) {
        const Crossing crossing{endOfFrame, vtx::sim::SimClock::now()};
        const std::lock_guard lock(mutex_);
        crossings_[sequence] = crossing;
        ended_[sequence] = true;
    }
}

}  // namespace busbench
