#include "sim/SimCanController.h"

#include <algorithm>
#include <cstdlib>

#include "sim/SimPacket.h"

namespace vtx::sim {

namespace {
// How long a writer waiting for room sleeps at most before it looks again. Crossings, resets
// and dropped frames wake it; this only bounds the wait should the bus lose a frame otherwise.
constexpr auto kRoomRecheck = std::chrono::milliseconds(20);
// What a wake-up mark holds when nobody waits.
constexpr uint64_t kNobodyWaits = ~uint64_t{0};
}  // namespace

SimCanController::Timing SimCanController::Timing::decode(uint8_t btr0, uint8_t btr1) {
    Timing timing;
    timing.btr0 = btr0;
    timing.btr1 = btr1;
    timing.brp = (btr0 & 0x3Fu) + 1;
    timing.sjw = (btr0 >> 6) + 1;
    timing.tseg1 = (btr1 & 0x0Fu) + 1;
    timing.tseg2 = ((btr1 >> 4) & 0x07u) + 1;
    return timing;
}

uint32_t SimCanController::Timing::bitRate() const {
    const uint64_t clocksPerBit = uint64_t{brp} * quantaPerBit();
    return static_cast<uint32_t>((kClockHz + clocksPerBit / 2) / clocksPerBit);
}

uint32_t SimCanController::Timing::samplePointPerMille() const {
    return (1 + tseg1) * 1000 / quantaPerBit();
}

bool SimCanController::Timing::runsAt(uint32_t busRate) const {
    // |clock / clocksPerBit - busRate| <= busRate / 200, in integers.
    const int64_t clocksPerBit = int64_t{brp} * quantaPerBit();
    const int64_t busClocks = int64_t{busRate} * clocksPerBit;
    const int64_t difference = int64_t{kClockHz} - busClocks;
    return busRate != 0 && std::abs(difference) * 200 <= busClocks;
}

bool SimCanController::Acceptance::admits(const CanFrame& frame) const {
    return open || ((packedIdentifierWord(frame) ^ code) & ~mask) == 0;
}

SimCanController::SimCanController(VirtualCanBus& bus, std::size_t receiveCapacity,
                                   std::size_t transmitCapacity)
    : bus_(bus),
      busRate_(bus.bitRate()),
      receiveCapacity_(receiveCapacity),
      transmitCapacity_(
          std::clamp<std::size_t>(transmitCapacity, 1, VirtualCanBus::kMaxPendingPerSender)) {
    bus_.attach(this);
}

SimCanController::~SimCanController() {
    bus_.detach(this);
}

void SimCanController::enable(const Timing& timing, const Acceptance& acceptance) {
    std::lock_guard lock(mutex_);
    enabled_ = true;
    timing_ = timing;
    acceptance_ = acceptance;
    effectiveRate_ = timing.runsAt(busRate_) ? busRate_ : timing.bitRate();
}

void SimCanController::disable() {
    {
        std::lock_guard lock(mutex_);
        enabled_ = false;
        effectiveRate_ = 0;
    }
    dropUnsent();
}

void SimCanController::reset() {
    {
        std::lock_guard lock(mutex_);
        enabled_ = false;
        effectiveRate_ = 0;
        receiveBuffer_.clear();
        ++resets_;
    }
    received_.notify_all();
    transmitted_.notify_all();
    dropUnsent();
}

void SimCanController::clearReceived() {
    std::lock_guard lock(mutex_);
    receiveBuffer_.clear();
}

// Frames still in the bus's queue for this node would otherwise go out after the controller
// stopped. (A frame already on the wire finishes.)
void SimCanController::dropUnsent() {
    const std::size_t unsent = bus_.dropPending(this);
    {
        std::lock_guard lock(mutex_);
        droppedFrames_ += unsent;
        ++dropRounds_;
    }
    transmitted_.notify_all();
}

// Whether frames go out, and how far the bus has got with this controller's frames.
SimCanController::SendingState SimCanController::sendingState() const {
    std::lock_guard lock(mutex_);
    return {enabled_ && effectiveRate_ == busRate_, framesSent_, resets_ + dropRounds_};
}

std::size_t SimCanController::transmitRoom() {
    const std::size_t queued = bus_.pending(this);
    return queued < transmitCapacity_ ? transmitCapacity_ - queued : 0;
}

std::size_t SimCanController::transmit(std::span<const CanFrame> frames,
                                       SimClock::time_point deadline) {
    // A writer with the buffer full waits for room for a share of the buffer at once (or for
    // the rest of its frames), not for each frame: the bus keeps the rest of the buffer to send
    // meanwhile.
    const std::size_t roomAtOnce = std::max<std::size_t>(1, transmitCapacity_ / 4);
    std::size_t taken = 0;
    while (taken < frames.size()) {
        const SendingState state = sendingState();
        if (!state.sending) {
            std::lock_guard lock(mutex_);
            droppedFrames_ += frames.size() - taken;
            return frames.size();
        }
        const std::size_t room = std::min(transmitRoom(), frames.size() - taken);
        if (room == 0) {
            const std::size_t wanted = std::min(roomAtOnce, frames.size() - taken);
            if (!waitForRoom(state, wanted, deadline)) {
                break;
            }
            continue;
        }
        uint64_t refused = 0;
        for (std::size_t i = 0; i < room; ++i, ++taken) {
            if (!bus_.transmit(this, frames[taken], [this](SimClock::time_point) { onSent(); })) {
                ++refused;  // the controller left the bus meanwhile
            }
        }
        if (refused != 0) {
            std::lock_guard lock(mutex_);
            droppedFrames_ += refused;
        }
    }
    return taken;
}

// Waits until `wanted` more of this controller's frames have crossed the bus since `before` was
// taken, or frames were dropped, or the controller was reset; at most kRoomRecheck. False, at
// once, when the deadline has passed.
bool SimCanController::waitForRoom(const SendingState& before, std::size_t wanted,
                                   SimClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const auto now = SimClock::now();
    if (now >= deadline) {
        return false;
    }
    const auto until = std::min(deadline, now + kRoomRecheck);
    const uint64_t target = before.framesSent + wanted;
    while (framesSent_ < target && resets_ + dropRounds_ == before.interruptions) {
        wakeAtSent_ = std::min(wakeAtSent_, target);
        if (transmitted_.wait_until(lock, until) == std::cv_status::timeout) {
            break;
        }
    }
    return true;
}

// Called on the bus thread once one of this controller's frames has crossed the bus; wakes a
// writer only once the room it waits for is there.
void SimCanController::onSent() {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        ++framesSent_;
        wake = framesSent_ >= wakeAtSent_;
        if (wake) {
            wakeAtSent_ = kNobodyWaits;
        }
    }
    if (wake) {
        transmitted_.notify_all();
    }
}

void SimCanController::waitForFrames(std::size_t count, SimClock::time_point deadline,
                                     uint64_t wakesSeen) {
    std::unique_lock lock(mutex_);
    const uint64_t resets = resets_;
    while (receiveBuffer_.size() < count && resets_ == resets && readerWakes_ == wakesSeen) {
        wakeAtFill_ = std::min<uint64_t>(wakeAtFill_, count);
        if (received_.wait_until(lock, deadline) == std::cv_status::timeout) {
            return;
        }
    }
}

void SimCanController::wakeReaders() {
    {
        std::lock_guard lock(mutex_);
        ++readerWakes_;
    }
    received_.notify_all();
}

uint64_t SimCanController::readerWakes() const {
    std::lock_guard lock(mutex_);
    return readerWakes_;
}

std::vector<CanFrame> SimCanController::takeFrames(std::size_t max) {
    std::lock_guard lock(mutex_);
    const std::size_t count = std::min(max, receiveBuffer_.size());
    std::vector<CanFrame> frames(receiveBuffer_.begin(),
                                 receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(count));
    receiveBuffer_.erase(receiveBuffer_.begin(),
                         receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(count));
    return frames;
}

SimCanController::Status SimCanController::status() const {
    std::lock_guard lock(mutex_);
    Status status;
    status.enabled = enabled_;
    status.onBus = enabled_ && effectiveRate_ == busRate_;
    status.timing = timing_;
    status.acceptance = acceptance_;
    status.receiveFill = receiveBuffer_.size();
    status.droppedFrames = droppedFrames_;
    status.overflowedFrames = overflowedFrames_;
    return status;
}

uint32_t SimCanController::bitRate() const {
    return effectiveRate_;
}

// Wakes a reader only once the buffer holds what it waits for, not on every frame.
void SimCanController::onBusFrame(const CanFrame& frame, SimClock::time_point) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (!enabled_ || effectiveRate_ != busRate_ || !acceptance_.admits(frame)) {
            return;
        }
        if (receiveBuffer_.size() >= receiveCapacity_) {
            ++overflowedFrames_;
            return;
        }
        receiveBuffer_.push_back(frame);
        wake = receiveBuffer_.size() >= wakeAtFill_;
        if (wake) {
            wakeAtFill_ = kNobodyWaits;
        }
    }
    if (wake) {
        received_.notify_all();
    }
}

}  // namespace vtx::sim
