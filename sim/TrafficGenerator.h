// Load on the virtual CAN bus: a node that sends frames with one identifier (0x100, 11-bit,
// unless it is given another 11- or 29-bit one), 8 data bytes, the first four a big-endian
// sequence number starting at 0, the other four zero, so a reader can count the frames it lost.
// Each frame takes the bus time of its width: a 29-bit frame is 20 bits longer.
//
// At a rate of n frames per second the frames go on the bus on a fixed schedule (the k-th not
// before start + k / n s, without drift). They are queued up to kScheduleAhead ahead of their
// time, each released at its own, so the generator wakes a few times per kScheduleAhead rather
// than once a frame. When the bus cannot carry them, or the generator's thread runs so late that
// a slot's time has passed before its frame is queued, those frames are left out of the
// schedule, never sent late in a burst: the load stays the steady one asked for whatever the
// host machine's scheduling, as another node's would. The sequence numbers stay without gaps. At
// "max" the bus is kept saturated: the generator keeps enough frames queued to cover
// kSaturationReserve of bus time, topping up whenever one of them has crossed. Its default
// identifier is low, so on a saturated bus it wins arbitration against any frame with a higher
// identifier, as a real flooding node would.
//
// The generator attaches to the bus and starts in its constructor, and detaches (dropping the
// frames still queued) in its destructor; it runs at the bus's rate and ignores what it hears.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "platform/LibraryThread.h"
#include "sim/CanNode.h"
#include "sim/VirtualCanBus.h"

namespace vtx::sim {

class TrafficGenerator : public CanNode {
  public:
    // How much traffic: a saturated bus, or framesPerSecond (above 0).
    struct Rate {
        bool saturate = false;
        uint32_t framesPerSecond = 0;
        friend bool operator==(const Rate&, const Rate&) = default;
    };

    static constexpr uint32_t kIdentifier = 0x100;  // the default, 11-bit

    // The identifier the frames carry.
    struct Identifier {
        uint32_t id = kIdentifier;
        bool extended = false;  // 29-bit
        friend bool operator==(const Identifier&, const Identifier&) = default;
    };

    static constexpr std::chrono::milliseconds kSaturationReserve{50};
    static constexpr std::chrono::milliseconds kScheduleAhead{20};

    // The setting as text: "max", or a positive decimal number of frames per second. Anything
    // else (empty, zero, signs, spaces, other words, a number above 2^32 - 1) means off:
    // nullopt.
    static std::optional<Rate> parseSetting(std::string_view text);
    // The identifier as candump writes it: three hexadecimal digits for an 11-bit identifier (at
    // most 7FF), eight for a 29-bit one (at most 1FFFFFFF). Anything else: nullopt.
    static std::optional<Identifier> parseIdentifier(std::string_view text);
    // The frame with the given sequence number, from the default identifier or the given one.
    static CanFrame frameFor(uint32_t sequence);
    static CanFrame frameFor(uint32_t sequence, Identifier identifier);

    // Sending from the default identifier, or the given one.
    TrafficGenerator(VirtualCanBus& bus, Rate rate);
    TrafficGenerator(VirtualCanBus& bus, Rate rate, Identifier identifier);
    ~TrafficGenerator() override;
    TrafficGenerator(const TrafficGenerator&) = delete;
    TrafficGenerator& operator=(const TrafficGenerator&) = delete;

    uint32_t bitRate() const override;
    void onBusFrame(const CanFrame& frame, SimClock::time_point endOfFrame) override;

    // Frames queued on the bus so far, those waiting for their time included (the next sequence
    // number).
    uint32_t framesQueued() const;

  private:
    std::size_t queueLimit() const;
    bool queueNext(SimClock::time_point notBefore);
    void topUp();
    void runSchedule();

    VirtualCanBus& bus_;
    const Rate rate_;
    const Identifier identifier_;

    // Lock order: the bus's delivery (sent callbacks run inside it) before mutex_, mutex_
    // before the bus's queues.
    mutable std::mutex mutex_;
    std::condition_variable wake_;       // stopping
    uint32_t nextSequence_ = 0;          // guarded by mutex_
    bool stopping_ = false;              // guarded by mutex_
    platform::LibraryThread scheduler_;  // runs at a rate in frames per second only
};

}  // namespace vtx::sim
