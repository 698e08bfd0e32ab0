#pragma once

#include <cstdint>

namespace vtx {

// What the device reported and what was last programmed into its controller.
struct DeviceInfo {
    uint8_t versioneFW[4] = {};   // firmware version, most significant component first
    uint32_t numSeriale = 0;      // serial number
    uint32_t codCliente = 0;      // customer code
    char codProdotto[5] = {};     // product code, not terminated
    uint32_t baudrate = 0;        // kbit/s of the running controller; 0 while it is off
    uint8_t outBus = 0;           // output bus in use; 0xFF not yet read
    uint8_t outBusSupported = 0;  // 2: two output buses offered; 0xFF not yet read
    uint32_t Id = 0;              // programmed acceptance identifier
    uint32_t Mk = 0;              // programmed acceptance mask
    uint32_t SamplePoint = 0;     // percent, of the running controller
    uint32_t Sjw = 0;
    uint32_t tseg1 = 0;
    uint32_t tseg2 = 0;

    // The firmware version as one word, most significant component in the top byte.
    uint32_t firmwareWord() const {
        return static_cast<uint32_t>(versioneFW[0]) << 24 |
               static_cast<uint32_t>(versioneFW[1]) << 16 |
               static_cast<uint32_t>(versioneFW[2]) << 8 | versioneFW[3];
    }
};

inline constexpr uint8_t kNotYetRead = 0xFF;

}  // namespace vtx
