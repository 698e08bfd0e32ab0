#include "sim/CanFrameBits.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace vtx::sim {

namespace {

constexpr uint32_t kStandardOverhead = 47;  // SOF, arbitration, control, CRC, ACK, EOF, IFS
constexpr uint32_t kExtendedOverhead = 67;
constexpr uint16_t kCrcPolynomial = 0x4599;
constexpr uint16_t kCrcMask = 0x7FFF;
constexpr int kCrcBits = 15;
constexpr int kRunBeforeStuff = 5;
// Start of frame to the end of the CRC sequence of the longest frame: 54 + 64 bits.
constexpr std::size_t kMaxStuffable = 118;

// The stuffable part of a frame, start of frame to the end of the CRC sequence, one bit per
// element.
class StuffableBits {
  public:
    explicit StuffableBits(const CanFrame& frame) {
        const uint8_t dlc = std::min<uint8_t>(frame.dlc, 8);
        append(0, 1);  // start of frame
        if (frame.extended) {
            append(frame.id >> 18, 11);  // base identifier
            append(1, 1);                // SRR
            append(1, 1);                // IDE
            append(frame.id, 18);        // identifier extension
            append(0, 3);                // RTR (data frame), r1, r0
        } else {
            append(frame.id, 11);
            append(0, 3);  // RTR (data frame), IDE, r0
        }
        append(frame.dlc, 4);
        for (uint8_t i = 0; i < dlc; ++i) {
            append(frame.data[i], 8);
        }
        append(CanFrameBits::crc15(bits()), kCrcBits);
    }

    std::span<const uint8_t> bits() const { return {bits_.data(), count_}; }

  private:
    // The low `width` bits of value, most significant first.
    void append(uint32_t value, int width) {
        for (int bit = width - 1; bit >= 0; --bit) {
            bits_[count_++] = static_cast<uint8_t>((value >> bit) & 1u);
        }
    }

    std::array<uint8_t, kMaxStuffable> bits_{};
    std::size_t count_ = 0;
};

}  // namespace

uint32_t CanFrameBits::nominal(const CanFrame& frame) {
    const uint32_t dataBits = 8u * std::min<uint32_t>(frame.dlc, 8);
    return (frame.extended ? kExtendedOverhead : kStandardOverhead) + dataBits;
}

uint32_t CanFrameBits::stuffBits(const CanFrame& frame) {
    const StuffableBits stuffable(frame);
    uint32_t stuffed = 0;
    uint8_t level = 2;  // no bit yet
    int run = 0;
    for (const uint8_t bit : stuffable.bits()) {
        run = bit == level ? run + 1 : 1;
        level = bit;
        if (run == kRunBeforeStuff) {
            ++stuffed;
            level ^= 1u;  // the stuff bit starts a run of the other level
            run = 1;
        }
    }
    return stuffed;
}

uint32_t CanFrameBits::onWire(const CanFrame& frame, BitStuffing stuffing) {
    return nominal(frame) + (stuffing == BitStuffing::Real ? stuffBits(frame) : 0);
}

uint16_t CanFrameBits::crc15(std::span<const uint8_t> bits) {
    uint16_t crc = 0;
    for (const uint8_t bit : bits) {
        const bool feedback = ((crc >> (kCrcBits - 1)) & 1u) != (bit & 1u);
        crc = static_cast<uint16_t>((crc << 1) & kCrcMask);
        if (feedback) {
            crc ^= kCrcPolynomial;
        }
    }
    return crc;
}

}  // namespace vtx::sim
