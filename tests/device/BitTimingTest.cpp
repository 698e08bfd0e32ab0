#include "device/bittiming/BitTiming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>

namespace vtx {

void PrintTo(const BitTimingResult& t, std::ostream* os) {
    *os << "{clk " << t.clk << ", spt " << t.spt << ", brp " << t.brp << ", tseg1 " << t.tseg1
        << ", tseg2 " << t.tseg2 << ", sjw " << t.sjw << "}";
}

namespace {

// Outputs that no calculation produces, to see whether a call wrote them.
constexpr BitTimingResult kUntouched{0xA5A5A5A5, 0xA5A5A5A5, 0xA5A5A5A5,
                                     0xA5A5A5A5, 0xA5A5A5A5, 0xA5A5A5A5};

// The bit rate a timing realises, in bit/s.
uint32_t realisedBitrate(const BitTimingResult& t) {
    return t.clk / (t.brp * (1 + t.tseg1 + t.tseg2));
}

// The bit-rate error in whole per mille, as the 5.0 % rule counts it.
uint64_t bitrateErrorPerMille(const BitTimingResult& t, uint32_t bitrate) {
    const uint64_t realised = realisedBitrate(t);
    const uint64_t error = realised > bitrate ? realised - bitrate : bitrate - realised;
    return error * 1000 / bitrate;
}

TEST(BitTimingMscan, ResultTableAtNominalSamplePoint800) {
    struct Row {
        uint32_t clock, bitrate, brp, tseg1, tseg2, spt;
        uint8_t btr0, btr1;
    };
    const Row rows[] = {
        {16000000, 100000, 8, 15, 4, 800, 0x07, 0x3E},
        {16000000, 125000, 8, 12, 3, 812, 0x07, 0x2B},
        {16000000, 250000, 4, 12, 3, 812, 0x03, 0x2B},
        {16000000, 500000, 2, 12, 3, 812, 0x01, 0x2B},
        {16000000, 1000000, 1, 12, 3, 812, 0x00, 0x2B},
        {24000000, 100000, 12, 15, 4, 800, 0x0B, 0x3E},
        {24000000, 500000, 3, 12, 3, 812, 0x02, 0x2B},
        {24000000, 1000000, 2, 9, 2, 833, 0x01, 0x18},
    };
    for (const Row& r : rows) {
        BitTimingResult t;
        ASSERT_TRUE(calcBitTiming(kControllerMscan, r.clock, r.bitrate, 800, 1, t))
            << r.clock << " Hz, " << r.bitrate << " bit/s";
        const BitTimingResult expected{r.clock, r.spt, r.brp, r.tseg1, r.tseg2, 1};
        EXPECT_EQ(t, expected) << r.clock << " Hz, " << r.bitrate << " bit/s";
        EXPECT_EQ(btr0(t), r.btr0) << r.clock << " Hz, " << r.bitrate << " bit/s";
        EXPECT_EQ(btr1(t), r.btr1) << r.clock << " Hz, " << r.bitrate << " bit/s";
    }
}

TEST(BitTimingMscan, ExactSamplePoint875) {
    BitTimingResult t;
    ASSERT_TRUE(calcBitTiming(kControllerMscan, 16000000, 500000, 875, 1, t));
    EXPECT_EQ(t, (BitTimingResult{16000000, 875, 2, 13, 2, 1}));
}

// At 16 MHz and 100 kbit/s several bit lengths reach the same sample point; the first found,
// the longest bit, stays.
TEST(BitTimingMscan, EqualCandidatesKeepTheLongerBit) {
    struct Case {
        uint32_t samplePoint;
        BitTimingResult expected;
    };
    const Case cases[] = {
        {590, {16000000, 600, 8, 11, 8, 1}},  // not 16 x (1 + 5 + 4)
        {620, {16000000, 625, 10, 9, 6, 1}},  // not 20 x (1 + 4 + 3)
    };
    for (const Case& c : cases) {
        BitTimingResult t;
        ASSERT_TRUE(calcBitTiming(kControllerMscan, 16000000, 100000, c.samplePoint, 1, t));
        EXPECT_EQ(t, c.expected) << "sample point " << c.samplePoint;
    }
}

TEST(BitTimingMscan, JumpWidthAsWantedAndLimitedToSjwMax) {
    struct Case {
        uint32_t wanted, used;
    };
    for (const Case c : {Case{4, 4}, Case{9, 4}, Case{0, 1}, Case{2, 2}}) {
        BitTimingResult t;
        ASSERT_TRUE(calcBitTiming(kControllerMscan, 16000000, 1000000, 750, c.wanted, t));
        EXPECT_EQ(t, (BitTimingResult{16000000, 750, 1, 11, 4, c.used})) << "sjw " << c.wanted;
    }
}

TEST(BitTimingMscan, JumpWidthLimitedToTseg2) {
    BitTimingResult t;
    ASSERT_TRUE(calcBitTiming(kControllerMscan, 16000000, 500000, 875, 4, t));
    EXPECT_EQ(t.tseg2, 2u);
    EXPECT_EQ(t.sjw, 2u);
    EXPECT_EQ(btr0(t), 0x41);
}

TEST(BitTimingMscan, NoPrescalerFitsAt5000BitPerSecond) {
    BitTimingResult t = kUntouched;
    EXPECT_FALSE(calcBitTiming(kControllerMscan, 16000000, 5000, 800, 1, t));
    EXPECT_EQ(t, kUntouched);
}

TEST(BitTimingSja1000, SamplePoint875At8MHz) {
    BitTimingResult t;
    ASSERT_TRUE(calcBitTiming(kControllerSja1000, 8000000, 500000, 875, 1, t));
    EXPECT_EQ(t, (BitTimingResult{8000000, 875, 1, 13, 2, 1}));
}

TEST(BitTimingRefusal, BadArgumentsLeaveOutputsUntouched) {
    struct Case {
        uint32_t index, clock, bitrate, samplePoint;
    };
    const Case cases[] = {
        {4, 16000000, 500000, 800},
        {0xFFFFFFFF, 16000000, 500000, 800},
        {kControllerMscan, 16000000, 0, 800},
        {kControllerMscan, 16000000, 500000, 100},
        {kControllerMscan, 16000000, 500000, 1000},
        {kControllerMscan, 16000000, 500000, 0},
        {kControllerMscan, 0, 0, 800},
        {kControllerMscan, 0, 500000, 1000},
    };
    for (const Case& c : cases) {
        BitTimingResult t = kUntouched;
        EXPECT_FALSE(calcBitTiming(c.index, c.clock, c.bitrate, c.samplePoint, 1, t))
            << "index " << c.index << " clock " << c.clock << " bitrate " << c.bitrate
            << " sample point " << c.samplePoint;
        EXPECT_EQ(t, kUntouched);
    }
}

TEST(BitTimingRefusal, SamplePointLimitsThemselvesAreAccepted) {
    for (const uint32_t sp : {101u, 999u}) {
        BitTimingResult t;
        EXPECT_TRUE(calcBitTiming(kControllerMscan, 16000000, 500000, sp, 1, t)) << sp;
    }
}

// At 16 MHz the shortest MSCAN bit (7 quanta, prescaler 1) gives 2 285 714 bit/s. Just above
// it the prescaler stays within range and only the bit-rate error decides: 50.99 per mille
// still counts as 5.0 %, one bit/s more is refused.
TEST(BitTimingRefusal, BitrateErrorAboveFivePercent) {
    BitTimingResult t;
    ASSERT_TRUE(calcBitTiming(kControllerMscan, 16000000, 2408550, 800, 1, t));
    EXPECT_EQ(t, (BitTimingResult{16000000, 714, 1, 4, 2, 1}));
    EXPECT_EQ(bitrateErrorPerMille(t, 2408550), 50u);

    t = kUntouched;
    EXPECT_FALSE(calcBitTiming(kControllerMscan, 16000000, 2408551, 800, 1, t));
    EXPECT_EQ(t, kUntouched);
}

// A bit rate times the quanta per bit does not fit 32 bits here; the calculation must neither
// fault nor wrap an 11 % error (90 Mbit/s against 100 Mbit/s) into an accepted one.
TEST(BitTimingRefusal, HugeBitratesAreRefusedSafely) {
    struct Case {
        uint32_t index, clock, bitrate;
    };
    const Case cases[] = {
        {kControllerCan, 300000000, 90000000},    {kControllerMscan, 16000000, 0x80000000},
        {kControllerMscan, 16000000, 0xFFFFFFFF}, {kControllerCan, 300000000, 0x80000000},
        {kControllerMscan, 36451796, 9697635},
    };
    for (const Case& c : cases) {
        BitTimingResult t = kUntouched;
        EXPECT_FALSE(calcBitTiming(c.index, c.clock, c.bitrate, 800, 1, t))
            << c.clock << " Hz, " << c.bitrate << " bit/s";
        EXPECT_EQ(t, kUntouched);
    }
    BitTimingResult t;
    ASSERT_TRUE(calcBitTiming(kControllerCan, 300000000, 100000000, 800, 1, t));
    EXPECT_EQ(realisedBitrate(t), 100000000u);
}

TEST(BitTimingClockCheck, EveryReferenceClockOfTheRow) {
    struct Case {
        uint32_t index, bitrate;
        bool fits;
    };
    const Case cases[] = {
        {kControllerMscan, 500000, true},    // 24, 16 and 8 MHz all fit
        {kControllerMscan, 2000000, false},  // 24 and 16 MHz fit, 8 MHz has too few quanta
        {kControllerMscan, 5000, false},     // 24 MHz has no prescaler, 8 MHz would fit
        {kControllerSja1000, 1000000, true}, {kControllerCan, 1000000, true},
        {kControllerIsoCanFd, 125000, true},
    };
    for (const Case& c : cases) {
        BitTimingResult t = kUntouched;
        EXPECT_EQ(calcBitTiming(c.index, 0, c.bitrate, 800, 1, t), c.fits)
            << "row " << c.index << ", " << c.bitrate << " bit/s";
        EXPECT_EQ(t, kUntouched);
    }
}

// A low sample point on a short bit would leave fewer quanta before the sample point than the
// controller allows (even none); the before-part is kept at the row's minimum instead.
TEST(BitTimingLowSamplePoint, Tseg1StaysAtTheRowMinimum) {
    struct Case {
        uint32_t index, clock, bitrate, samplePoint;
        BitTimingResult expected;
    };
    const Case cases[] = {
        {kControllerMscan, 8000000, 1000000, 500, {8000000, 625, 1, 4, 3, 1}},
        {kControllerMscan, 16000000, 1000000, 200, {16000000, 500, 1, 7, 8, 1}},
        {kControllerSja1000, 8000000, 100000, 101, {8000000, 200, 8, 1, 8, 1}},
    };
    for (const Case& c : cases) {
        BitTimingResult t;
        ASSERT_TRUE(calcBitTiming(c.index, c.clock, c.bitrate, c.samplePoint, 1, t));
        EXPECT_EQ(t, c.expected) << "row " << c.index << ", " << c.clock << " Hz, " << c.bitrate
                                 << " bit/s, sample point " << c.samplePoint;
    }
}

TEST(BitTimingRegisters, FieldsAreCutToTheirWidths) {
    struct Case {
        BitTimingResult t;
        uint8_t btr0, btr1;
    };
    const Case cases[] = {
        {{0, 0, 1, 1, 1, 1}, 0x00, 0x00},     {{0, 0, 64, 16, 8, 4}, 0xFF, 0x7F},
        {{0, 0, 65, 17, 9, 5}, 0x00, 0x00},    // one above each width wraps to 0
        {{0, 0, 130, 31, 16, 6}, 0x41, 0x7E},  // only the low bits of each field count
        {{0, 0, 2, 12, 3, 3}, 0x81, 0x2B},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(btr0(c.t), c.btr0) << testing::PrintToString(c.t);
        EXPECT_EQ(btr1(c.t), c.btr1) << testing::PrintToString(c.t);
        EXPECT_EQ(btr1(c.t) & 0x80, 0) << testing::PrintToString(c.t);
    }
}

// Checks a successful timing against the controller's limits and the definition of the
// outputs; names the first rule it breaks.
testing::AssertionResult soundTiming(const ControllerType& row, uint32_t clock, uint32_t bitrate,
                                     uint32_t wantedSjw, const BitTimingResult& t) {
    const struct {
        bool holds;
        const char* rule;
    } rules[] = {
        {t.clk == clock, "clk is the clock"},
        {t.tseg1 >= row.tseg1Min && t.tseg1 <= row.tseg1Max, "tseg1 within limits"},
        {t.tseg2 >= row.tseg2Min && t.tseg2 <= row.tseg2Max, "tseg2 within limits"},
        {t.brp >= row.brpMin && t.brp <= row.brpMax, "brp within limits"},
        {t.brp % row.brpInc == 0, "brp a multiple of brpInc"},
        {t.sjw == std::min({wantedSjw, row.sjwMax, t.tseg2}), "sjw as wanted within limits"},
        {t.sjw >= 1 && t.sjw <= t.tseg2, "sjw within 1 and tseg2"},
        {t.spt == (1 + t.tseg1) * 1000 / (1 + t.tseg1 + t.tseg2), "spt realised"},
        {bitrateErrorPerMille(t, bitrate) <= 50, "bit rate within 5 %"},
    };
    for (const auto& r : rules) {
        if (!r.holds) {
            return testing::AssertionFailure()
                   << r.rule << " broken by " << testing::PrintToString(t) << " for " << row.name
                   << ", " << clock << " Hz, " << bitrate << " bit/s, sjw " << wantedSjw;
        }
    }
    return testing::AssertionSuccess();
}

TEST(BitTimingProperty, EveryRowClockBitrateSamplePointAndJumpWidth) {
    size_t found = 0;
    size_t asked = 0;
    for (uint32_t index = 0; index < kControllerTable.size(); ++index) {
        const ControllerType& row = kControllerTable[index];
        for (const uint32_t clock : row.referenceClocks) {
            if (clock == 0) {
                break;
            }
            for (const uint32_t bitrate : {100000u, 125000u, 250000u, 500000u, 1000000u}) {
                for (uint32_t sp = 500; sp <= 900; sp += 10) {
                    for (uint32_t sjw = 1; sjw <= 4; ++sjw) {
                        ++asked;
                        BitTimingResult t;
                        if (calcBitTiming(index, clock, bitrate, sp, sjw, t)) {
                            ++found;
                            ASSERT_TRUE(soundTiming(row, clock, bitrate, sjw, t))
                                << "sample point " << sp;
                        }
                    }
                }
            }
        }
    }
    // Every reference clock serves every one of these bit rates.
    EXPECT_EQ(found, asked);
}

// Sample points from 10.1 % to 99.7 %, including the low ones where a short bit leaves little
// room before the sample point.
TEST(BitTimingProperty, LimitsHoldForEverySamplePoint) {
    for (uint32_t index = 0; index < kControllerTable.size(); ++index) {
        const ControllerType& row = kControllerTable[index];
        for (const uint32_t clock : row.referenceClocks) {
            if (clock == 0) {
                break;
            }
            for (const uint32_t bitrate : {100000u, 125000u, 250000u, 500000u, 1000000u}) {
                for (uint32_t sp = 101; sp <= 999; sp += 4) {
                    BitTimingResult t;
                    ASSERT_TRUE(calcBitTiming(index, clock, bitrate, sp, 2, t))
                        << row.name << ", " << clock << " Hz, " << bitrate << " bit/s, "
                        << "sample point " << sp;
                    ASSERT_TRUE(soundTiming(row, clock, bitrate, 2, t)) << "sample point " << sp;
                }
            }
        }
    }
}

TEST(BitTimingControllerTable, RowsInOrder) {
    ASSERT_EQ(kControllerTable.size(), 4u);
    EXPECT_EQ(kControllerTable[kControllerSja1000].name, "SJA1000");
    EXPECT_EQ(kControllerTable[kControllerCan].name, "CAN");
    EXPECT_EQ(kControllerTable[kControllerMscan].name, "MSCAN");
    EXPECT_EQ(kControllerTable[kControllerIsoCanFd].name, "ISO-CAN-FD");
    EXPECT_EQ(controllerType(4), nullptr);
    EXPECT_EQ(controllerType(kControllerMscan), &kControllerTable[2]);
}

}  // namespace
}  // namespace vtx
