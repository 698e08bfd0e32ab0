#include "base/Crc32.h"

#include <array>

namespace vtx {

namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320;
constexpr uint32_t kAllOnes = 0xFFFFFFFF;

// The CRC of each byte value, one bit at a time, worked out once at compile time.
constexpr std::array<uint32_t, 256> makeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t value = 0; value < table.size(); ++value) {
        uint32_t crc = value;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ kReflectedPolynomial : crc >> 1;
        }
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = makeTable();

}  // namespace

uint32_t crc32(std::span<const uint8_t> data, uint32_t previous) {
    uint32_t crc = previous ^ kAllOnes;
    for (const uint8_t byte : data) {
        crc = kTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ kAllOnes;
}

}  // namespace vtx
