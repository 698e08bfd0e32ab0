#pragma once

#include <cstdint>

namespace vtx {

// What the device reported and what was last programmed into its controller.
struct DeviceInfo {
    uint8_t firmwareVersion[4] = {};  // most significant component first
    uint32_t serialNumber = 0;
    uint32_t customerCode = 0;
    char productCode[5] = {};     // not terminated
    uint32_t baudrate = 0;        // kbit/s of the running controller; 0 while it is off
    uint8_t outBus = 0;           // output bus in use; 0xFF not yet read
    uint8_t outBusSupported = 0;  // what the output-bus query found (below); 0xFF not yet read
    uint32_t Id = 0;              // programmed acceptance identifier
    uint32_t Mk = 0;              // programmed acceptance mask
    uint32_t SamplePoint = 0;     // percent, of the running controller
    uint32_t Sjw = 0;
    uint32_t tseg1 = 0;
    uint32_t tseg2 = 0;

    // The firmware version as one word, most significant component in the top byte.
    uint32_t firmwareWord() const {
        return static_cast<uint32_t>(firmwareVersion[0]) << 24 |
               static_cast<uint32_t>(firmwareVersion[1]) << 16 |
               static_cast<uint32_t>(firmwareVersion[2]) << 8 | firmwareVersion[3];
    }
    void setFirmwareWord(uint32_t word) {
        firmwareVersion[0] = static_cast<uint8_t>(word >> 24);
        firmwareVersion[1] = static_cast<uint8_t>(word >> 16);
        firmwareVersion[2] = static_cast<uint8_t>(word >> 8);
        firmwareVersion[3] = static_cast<uint8_t>(word);
    }
};

inline constexpr uint8_t kNotYetRead = 0xFF;

// What the output-bus query found, as kept in outBusSupported. A device that answers the
// fallback probe drives the second bus only; one that answers neither drives the first.
inline constexpr int kOutputBusNoDevice = -1;
inline constexpr int kOutputBusNoChoice = 0;
inline constexpr int kOutputBusProbeAnswered = 1;
inline constexpr int kOutputBusChoiceOfTwo = 2;

// The output buses.
inline constexpr uint8_t kFirstOutputBus = 0;
inline constexpr uint8_t kSecondOutputBus = 1;

}  // namespace vtx
