#pragma once

#include <chrono>
#include <cstdint>

#include "sim/CanFrame.h"

namespace vtx::sim {

using SimClock = std::chrono::steady_clock;

// Something attached to the virtual CAN bus: a device's controller, the simulated ECU, the
// traffic generator.
class CanNode {
  public:
    virtual ~CanNode() = default;
    // The bit rate the node runs at, in bit/s; 0 while it is off the bus (controller disabled).
    // A node at another rate than the bus neither sees nor reaches it.
    virtual uint32_t bitRate() const = 0;
    // A frame that another node sent has crossed the bus; endOfFrame is when its last bit
    // passed. Called on the bus's own thread; must not call back into the bus synchronously
    // except through transmit().
    virtual void onBusFrame(const CanFrame& frame, SimClock::time_point endOfFrame) = 0;
};

}  // namespace vtx::sim
