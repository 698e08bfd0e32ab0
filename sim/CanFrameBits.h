// The bits a data frame puts on the wire, with or without the stuff bits a transmitter inserts.
//
// Without stuffing a frame is 47 + 8 × DLC bits with an 11-bit identifier and 67 + 8 × DLC with
// a 29-bit one, start of frame to the end of the interframe space. With stuffing the count adds
// the stuff bits of this very frame: the transmitter follows every run of five equal bits from
// the start of frame to the last bit of the CRC sequence with one bit of the other level, which
// itself starts the next run. So the count depends on the identifier, the data and the CRC, as
// it does on a real bus; it lies between 0 and (stuffable bits - 1) / 4 stuff bits.
#pragma once

#include <cstdint>
#include <span>

#include "sim/CanFrame.h"

namespace vtx::sim {

enum class BitStuffing : uint8_t {
    None,  // every frame takes its nominal bit count
    Real,  // every frame also takes its own stuff bits
};

class CanFrameBits {
  public:
    // Start of frame to interframe space, no stuff bits.
    static uint32_t nominal(const CanFrame& frame);
    // The stuff bits a transmitter inserts into this frame.
    static uint32_t stuffBits(const CanFrame& frame);
    // What the frame occupies on a bus that stuffs as given.
    static uint32_t onWire(const CanFrame& frame, BitStuffing stuffing);
    // The frame's CRC-15 (polynomial 0x4599, initial value 0) over bits given one per element
    // (0 or 1), first bit first.
    static uint16_t crc15(std::span<const uint8_t> bits);
};

}  // namespace vtx::sim
