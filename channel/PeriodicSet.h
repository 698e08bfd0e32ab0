// The periodic messages of one channel, at most kMax: which are due, and when the next one is.
// Time is handed in, so that the rules can be tested on any clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>

#include "base/J2534.h"
#include "channel/PeriodicRecord.h"

namespace vtx {

class PeriodicSet {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr std::size_t kMax = 10;

    std::size_t size() const;
    // Adds the message, its first frame sent at firstSentAt; its new ID, or 0 when the set has
    // kMax already.
    uint32_t add(const PASSTHRU_MSG& message, uint32_t intervalMs, TimePoint firstSentAt);
    bool contains(uint32_t id) const;
    void remove(uint32_t id);
    void clear();

    // Calls send with each message due at now, and counts its interval from now. A message is
    // due once more whole milliseconds than its interval have passed since it was last sent.
    // send runs under the set's lock, so that once remove() or clear() has returned, a message
    // they took away is never sent again.
    void sendDue(TimePoint now, const std::function<void(const PASSTHRU_MSG&)>& send);
    // When the next message is due; none while the set is empty.
    std::optional<TimePoint> nextDue() const;

  private:
    static TimePoint dueAt(const PeriodicRecord& periodic);

    // Guards periodics_. Held across send, and so across the device write of a periodic frame.
    mutable std::mutex mutex_;
    std::list<PeriodicRecord> periodics_;
};

}  // namespace vtx
