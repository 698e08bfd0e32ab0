// CRC-32 as Ethernet and zlib compute it: reflected polynomial 0xEDB88320, initial value and
// final XOR 0xFFFFFFFF. The CRC of "123456789" is 0xCBF43926.
#pragma once

#include <cstdint>
#include <span>

namespace vtx {

// The CRC of data. To run over data in pieces, pass the CRC of what came before as previous
// (0 for the first piece).
uint32_t crc32(std::span<const uint8_t> data, uint32_t previous = 0);

}  // namespace vtx
