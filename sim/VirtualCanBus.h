// The virtual CAN bus: nodes attach to it, queue frames on it, and receive every frame another
// node sent. Frames take their real time on the bus (their bit count at the bus rate), one at a
// time, the lowest identifier winning arbitration among the frames waiting at the head of each
// sender's queue; so the bus has the physical capacity of a real one.
//
// The bus keeps a virtual timeline: a frame starts when the bus is free and the frame has been
// queued (or has been released, for a frame queued ahead of its time), whichever is later, and
// ends its frame duration after that. A frame takes its place on the timeline only once the
// clock has passed its start, so no frame queued later can have a better claim to that start;
// when exactly the bus thread looks does not change the timeline, only how late the frames are
// handed out.
//
// The bus thread hands frames to the nodes and observers in batches, each with the time its last
// bit passed: it wakes at the end of the next frame, but no sooner than kDeliveryTick after its
// previous delivery, and then hands out every frame that has ended. A frame on a quiet bus is
// handed out at its end; on a busy bus the thread wakes once a tick, not once a frame. Nobody
// else wakes it unless a newly queued frame would end before it means to look.
//
// Callbacks (CanNode::onBusFrame, CanNode::bitRate, observers, sent callbacks) run on the bus
// thread. They may call transmit, pending, dropPending, attach, detach, addObserver and
// removeObserver; they must not destroy the bus. detach and removeObserver called from another
// thread wait for a delivery in progress, so they must not be called while holding a lock that a
// callback of the bus takes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "sim/CanFrame.h"
#include "sim/CanFrameBits.h"
#include "sim/CanNode.h"

namespace vtx::sim {

class VirtualCanBus {
  public:
    using Observer = std::function<void(const CanFrame&, SimClock::time_point endOfFrame)>;
    // Told the end time of one particular frame once it has crossed the bus.
    using SentCallback = std::function<void(SimClock::time_point endOfFrame)>;

    // Frames a sender may have waiting; transmit refuses more.
    static constexpr std::size_t kMaxPendingPerSender = 4096;
    // The shortest time between two deliveries while frames follow each other closely.
    static constexpr std::chrono::microseconds kDeliveryTick{1000};

    // stuffing: whether frames take their stuff bits on the bus, besides their nominal bits.
    explicit VirtualCanBus(uint32_t bitRate, BitStuffing stuffing = BitStuffing::None);
    ~VirtualCanBus();  // stops the bus thread; frames still queued are dropped
    VirtualCanBus(const VirtualCanBus&) = delete;
    VirtualCanBus& operator=(const VirtualCanBus&) = delete;

    uint32_t bitRate() const;
    BitStuffing stuffing() const;

    // Attaching a node twice has no further effect.
    void attach(CanNode* node);
    // After it returns, the node receives no further call and its queued frames are dropped.
    void detach(CanNode* node);

    // Queues a frame from sender (nullptr: injected from outside, as by a test). False, and
    // nothing queued, when the sender runs at another bit rate than the bus or is off, when it
    // is not attached, when it already has kMaxPendingPerSender frames waiting, or when the
    // frame is malformed (DLC above 8, identifier wider than 11 or 29 bits).
    bool transmit(CanNode* sender, const CanFrame& frame);
    // The same, and onSent is called on the bus thread with the frame's end time once it has
    // crossed the bus (never if the frame is dropped or the sender detached first).
    bool transmit(CanNode* sender, const CanFrame& frame, SentCallback onSent);
    // The same for a frame that may not start before notBefore (a time in the future queues it
    // ahead of its time; one in the past is the same as now).
    bool transmit(CanNode* sender, const CanFrame& frame, SimClock::time_point notBefore,
                  SentCallback onSent);
    // Frames queued by sender that have not yet crossed the bus.
    std::size_t pending(CanNode* sender) const;
    // Drops sender's queued frames that have not started on the bus; returns how many.
    std::size_t dropPending(CanNode* sender);

    // Every frame that crosses the bus, with the time its last bit passed. Returns an id for
    // removeObserver. After removeObserver returns, the observer is not called again.
    int addObserver(Observer observer);
    void removeObserver(int id);

    // Bits of a frame on the wire, without stuff bits: 47 + 8 × DLC for an 11-bit identifier,
    // 67 + 8 × DLC for a 29-bit one (start of frame to interframe space).
    static uint32_t frameBits(const CanFrame& frame);
    // How long a frame occupies the bus at the given rate (rounded up to whole nanoseconds;
    // zero for rate 0), with its stuff bits or without.
    static std::chrono::nanoseconds frameDuration(const CanFrame& frame, uint32_t bitRate,
                                                  BitStuffing stuffing = BitStuffing::None);

  private:
    struct State;
    std::unique_ptr<State> state_;  // the bus thread and its queues
};

}  // namespace vtx::sim
