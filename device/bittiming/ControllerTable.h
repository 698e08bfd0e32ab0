#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vtx {

// Bit-timing limits of one CAN controller type. Time segments and the jump width are counted
// in time quanta; tseg1 is the part of the bit before the sample point without the
// synchronisation quantum, tseg2 the part after it.
struct ControllerType {
    static constexpr size_t kMaxClocks = 16;

    std::string_view name;  // at most 16 characters
    uint32_t tseg1Min;
    uint32_t tseg1Max;
    uint32_t tseg2Min;
    uint32_t tseg2Max;
    uint32_t sjwMax;
    uint32_t brpMin;
    uint32_t brpMax;
    uint32_t brpInc;
    // Clocks in Hz the controller is usually fed with; a 0 entry ends the list.
    std::array<uint32_t, kMaxClocks> referenceClocks;
};

inline constexpr uint32_t kControllerSja1000 = 0;
inline constexpr uint32_t kControllerCan = 1;
inline constexpr uint32_t kControllerMscan = 2;  // the controller of the USB-to-CAN device
inline constexpr uint32_t kControllerIsoCanFd = 3;

// clang-format off
inline constexpr std::array<ControllerType, 4> kControllerTable = {{
    {"SJA1000",    1, 16,  1, 8,   4,   1, 64,   1, {8000000}},
    {"CAN",        1, 256, 1, 128, 128, 1, 1024, 1,
     {80000000, 60000000, 40000000, 300000000, 24000000, 20000000}},
    {"MSCAN",      4, 16,  2, 8,   4,   1, 64,   1, {24000000, 16000000, 8000000}},
    {"ISO-CAN-FD", 1, 32,  1, 16,  16,  1, 1024, 1,
     {80000000, 60000000, 40000000, 300000000, 24000000, 20000000}},
}};
// clang-format on

// The row of the controller type at index, or null when there is no such row.
constexpr const ControllerType* controllerType(uint32_t index) {
    return index < kControllerTable.size() ? &kControllerTable[index] : nullptr;
}

}  // namespace vtx
