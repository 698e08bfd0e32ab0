#pragma once

#include <cstdint>

namespace vtx {

// The 32-bit value whose most significant byte is at p, as a message carries its CAN
// identifier in its first four data bytes. The bytes are left as they are; a null pointer
// gives 0.
uint32_t readBigEndian32(const uint8_t* p);

}  // namespace vtx
