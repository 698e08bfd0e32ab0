#include "channel/PacedClock.h"

#include <algorithm>
#include <utility>

namespace vtx {

bool PacedClock::framesWaiting() const {
    return handedOut_ && handedOut_->resolved() < handedOutCount_;
}

PacedClock::TimePoint PacedClock::read(TimePoint now) {
    readAt_ = now;
    if (handedOut_) {
        if (framesWaiting()) {
            readAt_ = handedOutAt_;
            return handedOutAt_ - lag_;
        }
        // The device's write when it took them all; now for frames that were discarded.
        const TimePoint written =
            handedOut_->sent() == handedOutCount_ ? handedOut_->lastSentAt() : now;
        lag_ += std::max(written - handedOutAt_, std::chrono::nanoseconds{0});
        handedOut_.reset();
    }
    return now - lag_;
}

void PacedClock::handedOut(std::shared_ptr<TxTicket> ticket, uint32_t count) {
    handedOut_ = std::move(ticket);
    handedOutCount_ = count;
    // The reading's time, not the real time of this call: a wait since the protocol read its
    // clock (the thread preempted, a lock) counts as a wait for the device, or the next frame
    // would be due that much early.
    handedOutAt_ = readAt_;
}

PacedClock::TimePoint PacedClock::realTimeOf(TimePoint due, TimePoint now) const {
    return framesWaiting() ? now : due + lag_;
}

}  // namespace vtx
