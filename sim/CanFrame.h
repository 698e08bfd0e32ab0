// One frame on the simulated CAN bus.
#pragma once

#include <array>
#include <cstdint>

namespace vtx::sim {

struct CanFrame {
    uint32_t id = 0;        // 11 or 29 bits
    bool extended = false;  // 29-bit identifier
    uint8_t dlc = 0;        // 0 to 8
    std::array<uint8_t, 8> data{};

    friend bool operator==(const CanFrame&, const CanFrame&) = default;
};

}  // namespace vtx::sim
