// One CAN frame as it travels between the channels, the communication thread and the device
// layer. Packed: arrays of it are the thread's and the device layer's frame buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtx {

#pragma pack(push, 1)
struct CanFrame {
    uint32_t idCan;      // bits 0-28 identifier, bit 30 echo marker (loopback copy)
    uint8_t dataCan[8];  // the first lenDataCan bytes are valid
    uint8_t lenDataCan;  // 0 to 8
    uint8_t idExt;       // 1: 29-bit identifier, 0: 11-bit identifier
    uint32_t Timestamp;  // receive time in microseconds; 0 in frames built for transmission
};
#pragma pack(pop)

static_assert(sizeof(CanFrame) == 18);
static_assert(offsetof(CanFrame, dataCan) == 4);
static_assert(offsetof(CanFrame, lenDataCan) == 12);
static_assert(offsetof(CanFrame, idExt) == 13);
static_assert(offsetof(CanFrame, Timestamp) == 14);

inline constexpr uint32_t kCanIdMask29 = 0x1FFFFFFF;
inline constexpr uint32_t kCanIdMask11 = 0x7FF;
inline constexpr uint32_t kEchoMarker = 0x40000000;

}  // namespace vtx
