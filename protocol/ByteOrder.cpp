#include "protocol/ByteOrder.h"

namespace vtx {

uint32_t readBigEndian32(const uint8_t* p) {
    if (p == nullptr) {
        return 0;
    }
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace vtx
