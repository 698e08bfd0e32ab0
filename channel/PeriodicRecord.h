#pragma once

#include <cstdint>

#include "base/ElapsedTimer.h"
#include "base/J2534.h"

namespace vtx {

// One periodic message of a channel.
struct PeriodicRecord {
    PASSTHRU_MSG message{};     // the caller's message, copied whole
    uint32_t TimeInterval = 0;  // milliseconds
    ElapsedTimer timer;         // restarted at every transmission
    uint8_t enabled = 0;        // 1 once in a channel's list: only then is it sent
    uint32_t id = 0;            // the periodic message ID handed to the caller
};

}  // namespace vtx
