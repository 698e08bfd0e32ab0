// One classic CAN frame as the tool reads, writes and logs it.
#pragma once

#include <cstdint>
#include <vector>

namespace ptcan {

struct Frame {
    uint32_t id = 0;
    bool extended = false;  // 29-bit identifier
    std::vector<uint8_t> data;

    bool operator==(const Frame&) const = default;
};

// A pass filter: a frame of the same identifier width passes when (id & mask) == (pattern & mask).
struct PassFilter {
    uint32_t pattern = 0;
    uint32_t mask = 0;
    bool extended = false;

    bool operator==(const PassFilter&) const = default;
};

}  // namespace ptcan
