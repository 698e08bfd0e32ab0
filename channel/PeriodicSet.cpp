#include "channel/PeriodicSet.h"

#include <algorithm>

#include "channel/ObjectIds.h"

namespace vtx {

std::size_t PeriodicSet::size() const {
    const std::lock_guard lock(mutex_);
    return periodics_.size();
}

uint32_t PeriodicSet::add(const PASSTHRU_MSG& message, uint32_t intervalMs, TimePoint firstSentAt) {
    const std::lock_guard lock(mutex_);
    if (periodics_.size() >= kMax) {
        return 0;
    }
    PeriodicRecord& added = periodics_.emplace_back();
    added.message = message;
    added.TimeInterval = intervalMs;
    added.lastSentAt = firstSentAt;
    added.id = nextObjectId();
    return added.id;
}

bool PeriodicSet::contains(uint32_t id) const {
    const std::lock_guard lock(mutex_);
    return std::any_of(periodics_.begin(), periodics_.end(),
                       [id](const PeriodicRecord& p) { return p.id == id; });
}

void PeriodicSet::remove(uint32_t id) {
    const std::lock_guard lock(mutex_);
    periodics_.remove_if([id](const PeriodicRecord& p) { return p.id == id; });
}

void PeriodicSet::clear() {
    const std::lock_guard lock(mutex_);
    periodics_.clear();
}

// More whole milliseconds than the interval: the interval and one millisecond.
PeriodicSet::TimePoint PeriodicSet::dueAt(const PeriodicRecord& periodic) {
    return periodic.lastSentAt + std::chrono::milliseconds(periodic.TimeInterval) +
           std::chrono::milliseconds(1);
}

void PeriodicSet::sendDue(TimePoint now, const std::function<void(const PASSTHRU_MSG&)>& send) {
    const std::lock_guard lock(mutex_);
    for (PeriodicRecord& periodic : periodics_) {
        if (now < dueAt(periodic)) {
            continue;
        }
        send(periodic.message);
        periodic.lastSentAt = now;
    }
}

std::optional<PeriodicSet::TimePoint> PeriodicSet::nextDue() const {
    const std::lock_guard lock(mutex_);
    std::optional<TimePoint> earliest;
    for (const PeriodicRecord& periodic : periodics_) {
        const TimePoint due = dueAt(periodic);
        if (!earliest || due < *earliest) {
            earliest = due;
        }
    }
    return earliest;
}

}  // namespace vtx
