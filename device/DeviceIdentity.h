#pragma once

#include <array>
#include <cstdint>

namespace vtx {

// Where Device::identify takes the identification from.
enum class IdentitySource : uint8_t {
    Recorded,        // as the device reported it when it was opened
    ReadFromDevice,  // asked of the device again first
};

// The identification the device reports about itself.
struct DeviceIdentity {
    // The kind of interface, reported alongside the identification: always this one.
    static constexpr uint32_t kUsbCanKind = 2;

    uint32_t firmwareWord = 0;  // most significant version component in the top byte
    uint32_t serialNumber = 0;
    uint32_t customerCode = 0;
    std::array<char, 5> productCode{};  // not terminated
    uint32_t kind = kUsbCanKind;
};

}  // namespace vtx
