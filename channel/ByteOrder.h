#pragma once

#include <cstdint>

namespace vtx {

// Reads the 32-bit value at p. Without swap the bytes are read in native (little-endian)
// order. With swap the first byte becomes the most significant: in place, the four bytes are
// reversed where they stand; otherwise they are left untouched. A null pointer gives 0.
uint32_t swapBytes32(uint8_t* p, bool swap, bool inPlace);

}  // namespace vtx
