#include "channel/ObjectIds.h"

#include <atomic>

namespace vtx {

namespace {
std::atomic<uint32_t> idCounter{0};

// A bijection of the 32-bit values (multiplication by an odd constant, then a xor-shift), so
// distinct counts give distinct identifiers that do not look like a sequence.
constexpr uint32_t scramble(uint32_t n) {
    uint32_t x = n * 0x9E3779B1u;
    return x ^ (x >> 16);
}
}  // namespace

uint32_t nextObjectId() {
    for (;;) {
        const uint32_t id = scramble(idCounter.fetch_add(1, std::memory_order_relaxed) + 1);
        if (id != 0) {
            return id;
        }
    }
}

}  // namespace vtx
