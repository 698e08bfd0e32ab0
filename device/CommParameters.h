#pragma once

#include <cstdint>

namespace vtx {

// The CAN configuration the library asks for (Device::settings()).
struct CommParameters {
    uint32_t baudrate = 0;      // kbit/s (100, 125, 250, 500, 1000); 0 until set
    uint32_t Id = 0;            // acceptance identifier (11 or 29 bits)
    uint32_t Mk = 0;            // acceptance mask, 1 = bit not compared; Id and Mk 0xFFFFFFFE: open
    uint8_t Ext = 0;            // 1: the filter is for 29-bit identifiers
    uint32_t termResistor = 0;  // wanted resistor state: 1 on, 2 off, 0 not asked for
    uint8_t Bus = 0;            // output bus, 0 or 1
    uint32_t SamplePoint = 0;   // percent
    uint32_t Sjw = 0;           // time quanta
    uint32_t Bus2 = 0;          // carried and traced only
    uint8_t fd = 0;             // 1: CAN FD requested
    uint8_t canIdBoth = 0;      // 1: 11-bit and 29-bit identifiers alike
};

// Special values of the configuration arguments.
inline constexpr uint32_t kKeepValue = 0xFFFFFFFF;      // leave as it is
inline constexpr uint32_t kOpenFilter = 0xFFFFFFFE;     // Id/Mk: accept every frame
inline constexpr uint32_t kControllerOff = 0xFFFFFFFE;  // baudrate: switch the controller off
inline constexpr uint8_t kKeepBus = 0xFF;

// States of the termination resistor.
inline constexpr uint32_t kTermResistorOn = 1;
inline constexpr uint32_t kTermResistorOff = 2;

}  // namespace vtx
