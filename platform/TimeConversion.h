#pragma once

#include <cstdint>

namespace vtx::platform {

// Microseconds from a tick count at a frequency (ticks per second), from the whole count: the
// whole seconds and the remainder are scaled separately, so nothing overflows for counts up to
// 2^64 ticks.
constexpr uint64_t ticksToMicroseconds(uint64_t ticks, uint64_t frequency) {
    if (frequency == 0) {
        return 0;
    }
    return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

}  // namespace vtx::platform
