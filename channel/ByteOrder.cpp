#include "channel/ByteOrder.h"

#include <algorithm>

namespace vtx {

namespace {
uint32_t readLittleEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
}  // namespace

uint32_t swapBytes32(uint8_t* p, bool swap, bool inPlace) {
    if (p == nullptr) {
        return 0;
    }
    if (!swap) {
        return readLittleEndian(p);
    }
    if (inPlace) {
        std::reverse(p, p + 4);
        return readLittleEndian(p);
    }
    const uint8_t reversed[4] = {p[3], p[2], p[1], p[0]};
    return readLittleEndian(reversed);
}

}  // namespace vtx
