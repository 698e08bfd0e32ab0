// The CAN controller of the simulated device: a node on the virtual bus, programmed by the
// enable command's bit-timing registers and acceptance filter. It holds the frames it received
// in a bounded buffer for the device to hand to the host, and sends the host's frames through a
// bounded transmit buffer (the bus's queue for this node).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "sim/CanFrame.h"
#include "sim/CanNode.h"
#include "sim/VirtualCanBus.h"

namespace vtx::sim {

class SimCanController : public CanNode {
  public:
    static constexpr uint32_t kClockHz = 24'000'000;

    // The bit timing that BTR0/BTR1 program: BTR0 bits 7-6 SJW - 1, bits 5-0 BRP - 1; BTR1 bits
    // 6-4 TSEG2 - 1, bits 3-0 TSEG1 - 1. A bit is 1 + TSEG1 + TSEG2 quanta of BRP clock periods.
    struct Timing {
        uint8_t btr0 = 0;
        uint8_t btr1 = 0;
        uint32_t brp = 1;
        uint32_t sjw = 1;
        uint32_t tseg1 = 1;
        uint32_t tseg2 = 1;

        static Timing decode(uint8_t btr0, uint8_t btr1);
        uint32_t quantaPerBit() const { return 1 + tseg1 + tseg2; }
        // clock / (BRP × quanta), rounded to the nearest bit/s.
        uint32_t bitRate() const;
        // Share of the bit before the sampling point, in per mille, rounded down.
        uint32_t samplePointPerMille() const;
        // The realised rate lies within 0.5 % of busRate.
        bool runsAt(uint32_t busRate) const;
    };

    // The acceptance filter over the packed identifier word: open admits everything; otherwise
    // a frame passes when the word's bits where the mask is 0 equal the code's.
    struct Acceptance {
        uint32_t code = 0;
        uint32_t mask = 0;
        bool open = true;

        bool admits(const CanFrame& frame) const;
    };

    struct Status {
        bool enabled = false;
        bool onBus = false;  // enabled at the bus's bit rate
        Timing timing;
        Acceptance acceptance;
        std::size_t receiveFill = 0;
        uint64_t droppedFrames = 0;     // taken from the host but never sent
        uint64_t overflowedFrames = 0;  // received and admitted with the buffer full
    };

    SimCanController(VirtualCanBus& bus, std::size_t receiveCapacity, std::size_t transmitCapacity);
    ~SimCanController() override;
    SimCanController(const SimCanController&) = delete;
    SimCanController& operator=(const SimCanController&) = delete;

    // Starts the controller with these settings (a running controller is reprogrammed).
    void enable(const Timing& timing, const Acceptance& acceptance);
    // Stops it: it leaves the bus, and frames still waiting to be sent are dropped and counted.
    void disable();
    // Power loss: disable, and the receive buffer emptied; waiting readers return.
    void reset();
    void clearReceived();

    // Takes frames from the host, in order. A frame taken while the controller is off or off
    // the bus is dropped and counted. With the transmit buffer full it waits for room until
    // deadline, and then returns the number taken so far (a prefix of frames).
    std::size_t transmit(std::span<const CanFrame> frames, SimClock::time_point deadline);

    // Waits until count frames are held, the deadline passes, the controller is reset, or
    // readers are woken after wakesSeen (readerWakes() read before the wait).
    void waitForFrames(std::size_t count, SimClock::time_point deadline, uint64_t wakesSeen);
    // Ends the waits of waitForFrames under way, as the device does when a command reply is
    // queued for the read that waits.
    void wakeReaders();
    uint64_t readerWakes() const;
    // Removes and returns up to max received frames, oldest first.
    std::vector<CanFrame> takeFrames(std::size_t max);

    Status status() const;

    // The bus rate while the realised rate is within tolerance of it, else the realised rate;
    // 0 while disabled.
    uint32_t bitRate() const override;
    void onBusFrame(const CanFrame& frame, SimClock::time_point endOfFrame) override;

  private:
    // How far the bus has got with this controller's frames, as a writer sees it before it
    // looks for room.
    struct SendingState {
        bool sending = false;        // enabled and on the bus
        uint64_t framesSent = 0;     // frames that have crossed
        uint64_t interruptions = 0;  // resets and rounds of dropped frames
    };

    SendingState sendingState() const;
    std::size_t transmitRoom();
    bool waitForRoom(const SendingState& before, std::size_t wanted, SimClock::time_point deadline);
    void dropUnsent();
    void onSent();

    VirtualCanBus& bus_;
    const uint32_t busRate_;
    const std::size_t receiveCapacity_;
    const std::size_t transmitCapacity_;

    mutable std::mutex mutex_;  // guards every field below; never held while calling the bus
    // The buffer reached wakeAtFill_, the controller was reset, or readers were woken.
    std::condition_variable received_;
    // framesSent_ reached wakeAtSent_, frames were dropped, or the controller was reset.
    std::condition_variable transmitted_;
    bool enabled_ = false;
    Timing timing_;
    Acceptance acceptance_;
    std::deque<CanFrame> receiveBuffer_;
    uint64_t droppedFrames_ = 0;
    uint64_t overflowedFrames_ = 0;
    uint64_t resets_ = 0;
    uint64_t readerWakes_ = 0;
    uint64_t framesSent_ = 0;
    uint64_t dropRounds_ = 0;
    // The lowest fill, and the lowest count of frames sent, a waiting reader or writer needs;
    // the wake-ups come only then (all ones: nobody waits).
    uint64_t wakeAtFill_ = ~uint64_t{0};
    uint64_t wakeAtSent_ = ~uint64_t{0};
    std::atomic<uint32_t> effectiveRate_{0};  // what bitRate() reports; written under mutex_
};

}  // namespace vtx::sim
