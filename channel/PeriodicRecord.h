#pragma once

#include <chrono>
#include <cstdint>

#include "base/J2534.h"

namespace vtx {

// One periodic message of a channel.
struct PeriodicRecord {
    PASSTHRU_MSG message{};     // the caller's message, copied whole
    uint32_t TimeInterval = 0;  // milliseconds
    std::chrono::steady_clock::time_point lastSentAt{};
    uint32_t id = 0;  // the periodic message ID handed to the caller
};

}  // namespace vtx
