// The simulated ECU's side of a multi-frame request: it takes the tester's first frame, grants
// its flow control (clear to send, with its own block size and separation time), and reassembles
// the consecutive frames. It is a pure state machine: frames and their bus end times in, what to
// send or hand on out; the owner puts the flow control on the bus and reports when it crossed.
//
// It enforces what it granted. A consecutive frame that ends sooner than the separation time
// after the end of the one before, or that comes after the last frame of a block before the
// next flow control has crossed the bus, aborts the reception and counts as a violation. The
// first consecutive frame of a block may follow the flow control at once. A wrong sequence
// number aborts without counting; so does a gap longer than kConsecutiveFrameTimeout (N_Cr)
// since the flow control or the consecutive frame before, noticed when the late frame comes.
// A first frame announcing more than kMaxRequestLength bytes (the 32-bit length escape) is
// refused with an overflow flow control.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/CanNode.h"

namespace vtx::sim {

class SimIsoTpReceiver {
  public:
    static constexpr std::chrono::milliseconds kConsecutiveFrameTimeout{1000};
    static constexpr std::size_t kMaxRequestLength = 4095;

    // What the ECU grants in its flow control: block size (0: no limit) and the separation
    // time code (0x00-0x7F milliseconds, 0xF1-0xF9 100-900 microseconds).
    struct FlowControlSettings {
        uint8_t blockSize = 0;
        uint8_t separationTime = 0;
    };

    // What the owner does after a frame.
    struct Step {
        enum class Action {
            None,             // nothing to do
            SendFlowControl,  // send flowControl, then call onFlowControlSent with reception
            Deliver,          // request is complete
        };
        Action action = Action::None;
        std::array<uint8_t, 3> flowControl{};  // the flow control's bytes, before padding
        uint64_t reception = 0;                // which reception the flow control belongs to
        std::vector<uint8_t> request;          // Deliver: the reassembled request
    };

    // The separation time a code stands for; reserved codes count as the longest, 127 ms.
    static std::chrono::nanoseconds separationTime(uint8_t code);
    // Whether a code is one a flow control may carry (not reserved).
    static bool isValidSeparationTime(uint8_t code);

    explicit SimIsoTpReceiver(FlowControlSettings settings);

    Step onFirstFrame(std::span<const uint8_t> data, SimClock::time_point endOfFrame);
    Step onConsecutiveFrame(std::span<const uint8_t> data, SimClock::time_point endOfFrame);
    // The flow control of the given reception crossed the bus at endOfFrame.
    void onFlowControlSent(uint64_t reception, SimClock::time_point endOfFrame);
    // Drops a reception in progress (a new single-frame request replaces it).
    void abort();

    bool receiving() const { return phase_ != Phase::Idle; }
    uint64_t violations() const { return violations_; }
    // Receptions aborted because a consecutive frame came later than N_Cr: the tester stalled.
    uint64_t timeouts() const { return timeouts_; }

  private:
    enum class Phase {
        Idle,
        AwaitingOwnFlowControl,  // the flow control is queued but has not crossed the bus
        Receiving,
    };

    // Why a reception ends early: a breach of the granted flow control and a gap past N_Cr are
    // each counted.
    enum class AbortReason { FlowControlViolation, ConsecutiveFrameTimeout, ProtocolError };

    Step flowControlStep(uint8_t flowStatus) const;
    Step abortFor(AbortReason reason);
    bool separationKept(SimClock::time_point endOfFrame) const;
    Step appendConsecutive(std::span<const uint8_t> data, SimClock::time_point endOfFrame);

    const FlowControlSettings settings_;
    Phase phase_ = Phase::Idle;
    uint64_t reception_ = 0;  // counts the receptions started
    std::size_t expectedLength_ = 0;
    std::vector<uint8_t> buffer_;
    uint8_t nextSequence_ = 1;
    uint8_t leftInBlock_ = 0;
    SimClock::time_point lastEvent_{};                            // the N_Cr timer runs from here
    std::optional<SimClock::time_point> previousConsecutiveEnd_;  // in this block
    uint64_t violations_ = 0;
    uint64_t timeouts_ = 0;
};

}  // namespace vtx::sim
