#include "protocol/isotp/SeparationTime.h"

namespace vtx::isotp {

namespace {

constexpr uint8_t kLastMillisecondCode = 0x7F;
constexpr uint8_t kFirstHundredMicrosecondCode = 0xF1;
constexpr uint8_t kLastHundredMicrosecondCode = 0xF9;
constexpr Microseconds kHundredMicroseconds{100};
constexpr Microseconds kReservedCodeGap = std::chrono::milliseconds(kLastMillisecondCode);

}  // namespace

Microseconds longestFrameTime(uint32_t bitsPerSecond) {
    constexpr uint64_t kLongestFrameBits = 160;
    constexpr uint64_t kMicrosecondsPerSecond = 1'000'000;
    if (bitsPerSecond == 0) {
        return Microseconds{0};
    }
    const uint64_t bitMicroseconds = kLongestFrameBits * kMicrosecondsPerSecond;
    return Microseconds{
        static_cast<Microseconds::rep>((bitMicroseconds + bitsPerSecond - 1) / bitsPerSecond)};
}

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
