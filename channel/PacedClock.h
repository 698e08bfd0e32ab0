// The time a protocol that paces its own frames runs on: the real time less every wait its frames
// had for the device. A separation time the protocol keeps on this clock therefore holds between
// the device's writes: a frame that waited pushes the next one back by as long. While the frames
// handed out last still wait, the clock stands at their hand-out, so nothing paced is due.
//
// Real time is handed in, so that the rules can be tested on any clock. Not locked: the channel
// reads and advances it under its receive lock; the tickets it looks at are credited by the
// communication thread and read without a lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "comm/TxTicket.h"
#include "protocol/isotp/IsoTpTime.h"

namespace vtx {

class PacedClock {
  public:
    using TimePoint = isotp::TimePoint;

    // The protocol's time at the real time now. Frames the protocol hands out on this reading
    // are handed out at readAt().
    TimePoint read(TimePoint now);
    // The real time the last reading stood for: now, or the hand-out of frames still waiting.
    TimePoint readAt() const { return readAt_; }
    // The protocol handed out count frames at the last reading; the device credits ticket as it
    // takes them.
    void handedOut(std::shared_ptr<TxTicket> ticket, uint32_t count);
    // The real time at which a protocol timer due at the protocol's time due falls due: now
    // while frames handed out still wait for the device (the write that takes them looks again).
    TimePoint realTimeOf(TimePoint due, TimePoint now) const;

  private:
    bool framesWaiting() const;

    std::shared_ptr<TxTicket> handedOut_;  // null once the device has settled them
    uint32_t handedOutCount_ = 0;
    TimePoint handedOutAt_{};
    TimePoint readAt_{};
    // How far the protocol's time runs behind the real one.
    std::chrono::nanoseconds lag_{0};
};

}  // namespace vtx
