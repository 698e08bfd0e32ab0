// Microseconds from a high-resolution counter: exact from the whole count, also where the count
// is far beyond 32 bits, so that the 32-bit receive timestamp wraps only every 2^32 µs.
#include "platform/TimeConversion.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vtx::platform {
namespace {

// The exact value, by schoolbook arithmetic: the 128-bit product of the ticks and a million,
// then a long division one bit at a time (the frequency stays below 2^63).
uint64_t reference(uint64_t ticks, uint64_t frequency) {
    constexpr uint64_t kMillion = 1'000'000;
    const uint64_t low = (ticks & 0xFFFFFFFFu) * kMillion;
    const uint64_t high = (ticks >> 32) * kMillion;
    const uint64_t productLow = low + (high << 32);
    const uint64_t productHigh = (high >> 32) + (productLow < low ? 1 : 0);
    uint64_t remainder = 0;
    uint64_t quotient = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const uint64_t next = bit >= 64 ? productHigh >> (bit - 64) & 1 : productLow >> bit & 1;
        remainder = remainder << 1 | next;
        if (remainder >= frequency) {
            remainder -= frequency;
            EXPECT_LT(bit, 64) << "the result does not fit 64 bits";
            quotient |= bit < 64 ? uint64_t{1} << bit : 0;
        }
    }
    return quotient;
}

struct Counter {
    const char* name;
    uint64_t frequency;
};

// Counter frequencies met in practice: the usual 10 MHz, the old 3.579545 MHz timer, a counter
// that runs at the processor's clock, and one in microseconds.
constexpr Counter kCounters[] = {
    {"10 MHz", 10'000'000},
    {"3.579545 MHz", 3'579'545},
    {"2.4 GHz", 2'400'000'000},
    {"1 MHz", 1'000'000},
};

TEST(TimeConversion, ExactForSmallAndLargeCounts) {
    constexpr uint64_t kTwo32 = uint64_t{1} << 32;
    constexpr uint64_t kTwo63 = uint64_t{1} << 63;
    const uint64_t counts[] = {
        0,          1,      999,         kTwo32 - 1, kTwo32, kTwo32 + 1, 3 * kTwo32 + 12345,
        kTwo63 - 1, kTwo63, kTwo63 + 777};
    for (const Counter& counter : kCounters) {
        for (const uint64_t ticks : counts) {
            SCOPED_TRACE(counter.name);
            SCOPED_TRACE(ticks);
            EXPECT_EQ(ticksToMicroseconds(ticks, counter.frequency),
                      reference(ticks, counter.frequency));
        }
    }
}

// Across 2^32 ticks the microseconds go on increasing; the low 32 bits that the timestamp keeps
// step by the elapsed time, not back by the counter's lost high bits.
TEST(TimeConversion, KeepsCountingAcrossTwoToThe32Ticks) {
    for (const Counter& counter : kCounters) {
        SCOPED_TRACE(counter.name);
        const uint64_t base = (uint64_t{1} << 32) - counter.frequency / 1000;  // 1 ms before
        const uint64_t before = ticksToMicroseconds(base, counter.frequency);
        const uint64_t after =
            ticksToMicroseconds(base + counter.frequency / 500, counter.frequency);
        EXPECT_GT(after, before);
        const auto step =
            static_cast<uint32_t>(static_cast<uint32_t>(after) - static_cast<uint32_t>(before));
        EXPECT_GE(step, 1999u);
        EXPECT_LE(step, 2001u);
    }
}

TEST(TimeConversion, OneSecondOfTicksIsAMillionMicroseconds) {
    for (const Counter& counter : kCounters) {
        SCOPED_TRACE(counter.name);
        EXPECT_EQ(ticksToMicroseconds(counter.frequency, counter.frequency), 1'000'000u);
        const uint64_t late = uint64_t{1} << 62;
        EXPECT_EQ(ticksToMicroseconds(late + counter.frequency, counter.frequency) -
                      ticksToMicroseconds(late, counter.frequency),
                  1'000'000u);
    }
}

TEST(TimeConversion, NoFrequencyGivesZero) {
    EXPECT_EQ(ticksToMicroseconds(12345, 0), 0u);
}

}  // namespace
}  // namespace vtx::platform
