#include "sim/TrafficGenerator.h"

#include <algorithm>
#include <charconv>

#include "platform/ThreadServices.h"

namespace vtx::sim {

namespace {

// Frames kept queued at "max" at the least, whatever the bus rate.
constexpr std::size_t kMinQueue = 8;
// The idle scheduler looks again on its own after this long.
constexpr std::chrono::milliseconds kIdleWait{100};

// How candump writes an identifier: its width by the number of digits.
constexpr std::size_t kStandardDigits = 3;
constexpr std::size_t kExtendedDigits = 8;
constexpr uint32_t kMaxStandardIdentifier = 0x7FF;
constexpr uint32_t kMaxExtendedIdentifier = 0x1FFF'FFFF;

// The whole text as a hexadecimal number: digits only, no sign, prefix or spaces.
std::optional<uint32_t> parseHex(std::string_view text) {
    uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 16);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<TrafficGenerator::Rate> TrafficGenerator::parseSetting(std::string_view text) {
    if (text == "max") {
        return Rate{true, 0};
    }
    uint32_t perSecond = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, perSecond);
    if (text.empty() || error != std::errc() || stop != end || perSecond == 0) {
        return std::nullopt;
    }
    return Rate{false, perSecond};
}

std::optional<TrafficGenerator::Identifier> TrafficGenerator::parseIdentifier(
    std::string_view text) {
    const bool extended = text.size() == kExtendedDigits;
    if (!extended && text.size() != kStandardDigits) {
        return std::nullopt;
    }
    const std::optional<uint32_t> id = parseHex(text);
    if (!id || *id > (extended ? kMaxExtendedIdentifier : kMaxStandardIdentifier)) {
        return std::nullopt;
    }
    return Identifier{*id, extended};
}

CanFrame TrafficGenerator::frameFor(uint32_t sequence) {
    return frameFor(sequence, Identifier{});
}

CanFrame TrafficGenerator::frameFor(uint32_t sequence, Identifier identifier) {
    CanFrame frame;
    frame.id = identifier.id;
    frame.extended = identifier.extended;
    frame.dlc = 8;
    for (int i = 0; i < 4; ++i) {
        frame.data[i] = static_cast<uint8_t>(sequence >> (24 - 8 * i));
    }
    return frame;
}

TrafficGenerator::TrafficGenerator(VirtualCanBus& bus, Rate rate)
    : TrafficGenerator(bus, rate, Identifier{}) {}

TrafficGenerator::TrafficGenerator(VirtualCanBus& bus, Rate rate, Identifier identifier)
    : bus_(bus), rate_(rate), identifier_(identifier) {
    bus_.attach(this);
    if (rate_.saturate) {
        std::lock_guard lock(mutex_);
        topUp();
    } else if (rate_.framesPerSecond > 0) {
        scheduler_.start([this] {
            platform::nameCurrentThread("sim-traffic");
            runSchedule();
        });
    }
}

TrafficGenerator::~TrafficGenerator() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    scheduler_.end();
    // Not under mutex_: detach waits for a delivery whose sent callback may be taking it.
    bus_.detach(this);
}

uint32_t TrafficGenerator::bitRate() const {
    return bus_.bitRate();
}

void TrafficGenerator::onBusFrame(const CanFrame&, SimClock::time_point) {}

uint32_t TrafficGenerator::framesQueued() const {
    std::lock_guard lock(mutex_);
    return nextSequence_;
}

// Frames that cover kSaturationReserve of bus time; the most the generator keeps queued.
std::size_t TrafficGenerator::queueLimit() const {
    const std::chrono::nanoseconds frameTime =
        VirtualCanBus::frameDuration(frameFor(0, identifier_), bus_.bitRate());
    if (frameTime.count() <= 0) {
        return kMinQueue;
    }
    const auto frames = static_cast<std::size_t>(
        (std::chrono::nanoseconds(kSaturationReserve) + frameTime - std::chrono::nanoseconds(1)) /
        frameTime);
    return std::clamp(frames, kMinQueue, VirtualCanBus::kMaxPendingPerSender);
}

// Queues the next frame, to start no sooner than notBefore, unless the queue is full. At "max"
// each frame tops the queue up again once it has crossed. Caller holds mutex_.
bool TrafficGenerator::queueNext(SimClock::time_point notBefore) {
    if (stopping_ || bus_.pending(this) >= queueLimit()) {
        return false;
    }
    VirtualCanBus::SentCallback onSent;
    if (rate_.saturate) {
        onSent = [this](SimClock::time_point) {
            std::lock_guard lock(mutex_);
            topUp();
        };
    }
    if (!bus_.transmit(this, frameFor(nextSequence_, identifier_), notBefore, std::move(onSent))) {
        return false;
    }
    ++nextSequence_;
    return true;
}

// Caller holds mutex_.
void TrafficGenerator::topUp() {
    while (queueNext(SimClock::time_point::min())) {
    }
}

// Queues the frames of a fixed schedule, slot k released at origin + k / rate, each up to
// kScheduleAhead before its time. Slots whose frame the bus cannot take, and slots whose time
// has passed before their frame was queued, are left out.
void TrafficGenerator::runSchedule() {
    using Seconds = std::chrono::duration<double>;
    const double perSecond = rate_.framesPerSecond;
    const SimClock::time_point origin = SimClock::now();
    const auto dueOf = [&](uint64_t slot) {
        return origin + std::chrono::duration_cast<SimClock::duration>(Seconds(slot / perSecond));
    };
    // The first slot due after t.
    const auto slotAfter = [&](SimClock::time_point t) {
        return static_cast<uint64_t>(Seconds(t - origin).count() * perSecond) + 1;
    };
    uint64_t slot = 0;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const SimClock::time_point now = SimClock::now();
        bool full = false;
        while (!full && dueOf(slot) < now + kScheduleAhead) {
            // A slot whose time has passed (the thread woke, or ran, late) is left out: a frame
            // goes out at its time or not at all.
            if (const SimClock::time_point late = SimClock::now(); dueOf(slot) <= late) {
                slot = slotAfter(late);
                continue;
            }
            full = !queueNext(dueOf(slot));
            slot = full ? std::max(slot + 1, slotAfter(now)) : slot + 1;
        }
        // Again half way through what is queued ahead, once the next slot comes within reach;
        // with the queue full (it holds more than kScheduleAhead of bus time), half that later.
        const SimClock::time_point wakeAt =
            full ? now + kScheduleAhead / 2 : dueOf(slot) - kScheduleAhead / 2;
        wake_.wait_until(lock, std::min(wakeAt, now + kIdleWait));
    }
}

}  // namespace vtx::sim
