#include "protocol/isotp/SeparationTime.h"

namespace vtx::isotp {

namespace {

constexpr uint8_t kLastMillisecondCode = 0x7F;
constexpr uint8_t kFirstHundredMicrosecondCode = 0xF1;
constexpr uint8_t kLastHundredMicrosecondCode = 0xF9;
constexpr Microseconds kHundredMicroseconds{100};
constexpr Microseconds kReservedCodeGap = std::chrono::milliseconds(kLastMillisecondCode);

}  // namespace

Microseconds separationTimeFromCode(uint8_t code) {
    if (code <= kLastMillisecondCode) {
        return std::chrono::milliseconds(code);
    }
    if (code >= kFirstHundredMicrosecondCode && code <= kLastHundredMicrosecondCode) {
        return kHundredMicroseconds * (code - kFirstHundredMicrosecondCode + 1);
    }
    return kReservedCodeGap;
}

}  // namespace vtx::isotp
