// The platform's monotonic clock.
#pragma once

#include <cstdint>

namespace vtx::platform {

// Microseconds of the platform's monotonic high-resolution clock, computed from the whole
// counter so that the value never jumps back.
uint64_t monotonicMicroseconds();

}  // namespace vtx::platform
