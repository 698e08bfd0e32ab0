// Which driver family carries the device: the maker's kernel driver or WinUSB. The values are
// the ones the trace events and the driver-detection results have always shown.
#pragma once

#include <cstdint>

namespace vtx {

enum class InterfaceType : uint32_t {
    None = 0,
    KernelDriver = 2,
    WinUsb = 4,
};

inline uint32_t traceValue(InterfaceType type) {
    return static_cast<uint32_t>(type);
}

}  // namespace vtx
