#pragma once

#include "device/bittiming/ControllerTable.h"

#include <cstdint>

namespace vtx {

// Bit timing of a CAN controller: clk in Hz, spt the realised sample point in per mille of
// the bit time, brp the clock prescaler, tseg1, tseg2 and sjw in time quanta.
struct BitTimingResult {
    uint32_t clk = 0, spt = 0, brp = 0, tseg1 = 0, tseg2 = 0, sjw = 0;

    bool operator==(const BitTimingResult&) const = default;
};

// Finds prescaler, time segments and jump width for the controller type at index (see
// kControllerTable), clock in Hz, bitrate in bit/s, the nominal samplePoint in per mille and
// the wanted sjw. The best bit rate wins, then the sample point closest to the nominal one;
// a bit-rate error above 5.0 % is refused.
//
// False, with out untouched, when index has no row, bitrate is 0, samplePoint lies outside
// 101 to 999 or no timing fits. With clock 0 the search runs for every reference clock of the
// row and the result says whether all of them fit; out is not written then.
bool calcBitTiming(uint32_t index, uint32_t clock, uint32_t bitrate, uint32_t samplePoint,
                   uint32_t sjw, BitTimingResult& out);

// The bus timing register bytes of a timing, each field cut to its width:
// BTR0 = (sjw - 1) << 6 | (brp - 1), BTR1 = (tseg2 - 1) << 4 | (tseg1 - 1), with bit 7 of BTR1
// (three samples per bit) left 0.
uint8_t btr0(const BitTimingResult& t);
uint8_t btr1(const BitTimingResult& t);

}  // namespace vtx
