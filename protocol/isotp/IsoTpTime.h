// The time the ISO-TP machines work with. They never read a clock: the caller hands the current
// time in as a steady-clock time point, and tests hand in any time they like.
#pragma once

#include <chrono>

namespace vtx::isotp {

using TimePoint = std::chrono::steady_clock::time_point;
using Microseconds = std::chrono::microseconds;

// How long each side waits for the other by default: the sender for a flow control after a first
// frame or a block (N_Bs), the receiver for the next consecutive frame (N_Cr).
inline constexpr Microseconds kDefaultFlowControlTimeout = std::chrono::milliseconds(1000);
inline constexpr Microseconds kDefaultConsecutiveFrameTimeout = std::chrono::milliseconds(1000);

}  // namespace vtx::isotp
