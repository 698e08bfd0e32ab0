#include "device/bittiming/BitTiming.h"

#include <algorithm>
#include <optional>

namespace vtx {
namespace {

constexpr uint32_t kNoError = 0xFFFFFFFF;  // worse than any real error
constexpr uint32_t kSamplePointMin = 101;
constexpr uint32_t kSamplePointMax = 999;
constexpr uint64_t kBitrateErrorMaxPerMille = 50;

// The distance between two values, exact over the whole 32-bit range.
uint32_t distance(uint32_t a, uint32_t b) {
    return a > b ? a - b : b - a;
}

// One way of dividing the quanta of a bit around the sample point.
struct SegmentSplit {
    uint32_t tseg1 = 0;
    uint32_t tseg2 = 0;
    uint32_t spt = 0;             // realised sample point, per mille
    uint32_t spError = kNoError;  // distance from the nominal sample point, per mille
};

// Divides tseg quanta (tseg1 + tseg2) into tseg1 and tseg2 within the row's limits, so that
// the sample point comes closest to sp. Two candidates are tried: the sample point rounded
// down to a whole quantum, and one quantum earlier; on equal distance the first stays.
// The loop of the search keeps tseg between tseg1Min + tseg2Min and tseg1Max + tseg2Max, so
// both segments always fit: a tseg2 that would leave tseg1 below its minimum (a low sample
// point on a short bit) is shortened rather than handing out a tseg1 the controller does not
// have.
SegmentSplit splitSegments(const ControllerType& row, uint32_t sp, uint32_t tseg) {
    const uint32_t quanta = tseg + 1;  // with the synchronisation quantum
    SegmentSplit best;
    for (uint32_t i = 0; i <= 1; ++i) {
        uint32_t t2 = std::clamp(quanta - quanta * sp / 1000 - i, row.tseg2Min, row.tseg2Max);
        uint32_t t1 = 0;
        if (t2 > tseg - row.tseg1Min) {
            t1 = row.tseg1Min;
            t2 = tseg - row.tseg1Min;
        } else if (tseg - t2 > row.tseg1Max) {
            t1 = row.tseg1Max;
            t2 = tseg - row.tseg1Max;
        } else {
            t1 = tseg - t2;
        }
        const uint32_t spt = (quanta - t2) * 1000 / quanta;
        const uint32_t spError = distance(sp, spt);
        if (spError < best.spError) {
            best = {t1, t2, spt, spError};
        }
    }
    return best;
}

// The prescaler for a bit of 1 + tseg / 2 quanta; an odd tseg rounds it up. Products are
// taken in 64 bits so that no bit rate can wrap them (or make them 0).
uint32_t prescaler(const ControllerType& row, uint32_t clock, uint32_t bitrate, uint32_t tseg) {
    const uint64_t quantumRate = uint64_t{bitrate} * (1 + tseg / 2);
    uint32_t brp = 1;
    if (clock != quantumRate) {
        brp = static_cast<uint32_t>(clock / quantumRate) + tseg % 2;
    }
    return brp - brp % row.brpInc;
}

// The bit rate error of a prescaler and quanta count, in bit/s.
uint32_t bitrateError(uint32_t clock, uint32_t bitrate, uint32_t brp, uint32_t tsegall) {
    return distance(bitrate, clock / (brp * tsegall));
}

bool bitrateErrorTooLarge(uint32_t error, uint32_t bitrate) {
    return error != 0 && uint64_t{error} * 1000 / bitrate > kBitrateErrorMaxPerMille;
}

// The jump width to use: the wanted one within sjwMax and tseg2, 1 when none is wanted.
uint32_t jumpWidth(const ControllerType& row, uint32_t wanted, uint32_t tseg2) {
    if (wanted == 0 || row.sjwMax == 0) {
        return 1;
    }
    return std::min({wanted, row.sjwMax, tseg2});
}

// The best prescaler and total of time segments found so far.
struct BestFit {
    bool found = false;  // some prescaler was within the row's range
    uint32_t bitrateError = kNoError;
    uint32_t spError = kNoError;
    uint32_t tseg = 0;  // tseg1 + tseg2
    uint32_t brp = 0;
};

// Walks the number of quanta per bit from the longest bit down and keeps the smallest bit
// rate error, then the smallest sample point error; the first of equal candidates (the one
// with more quanta) stays. Stops at an exact hit.
BestFit findBestFit(const ControllerType& row, uint32_t clock, uint32_t bitrate, uint32_t sp) {
    BestFit best;
    const uint32_t first = (row.tseg1Max + row.tseg2Max) * 2 + 1;
    const uint32_t last = (row.tseg1Min + row.tseg2Min) * 2;
    for (uint32_t tseg = first; tseg >= last; --tseg) {
        const uint32_t brp = prescaler(row, clock, bitrate, tseg);
        if (brp < row.brpMin || brp > row.brpMax) {
            continue;
        }
        best.found = true;
        const uint32_t error = bitrateError(clock, bitrate, brp, 1 + tseg / 2);
        if (error > best.bitrateError) {
            continue;
        }
        if (error < best.bitrateError) {
            best.spError = kNoError;
        }
        const uint32_t spError = splitSegments(row, sp, tseg / 2).spError;
        if (spError >= best.spError) {
            continue;
        }
        best.spError = spError;
        best.bitrateError = error;
        best.tseg = tseg / 2;
        best.brp = brp;
        if (error == 0 && spError == 0) {
            break;
        }
    }
    return best;
}

// The timing for one clock, or nothing when no prescaler fits or the bit rate misses by more
// than 5.0 %.
std::optional<BitTimingResult> timingForClock(const ControllerType& row, uint32_t clock,
                                              uint32_t bitrate, uint32_t sp, uint32_t sjw) {
    const BestFit best = findBestFit(row, clock, bitrate, sp);
    if (!best.found || bitrateErrorTooLarge(best.bitrateError, bitrate)) {
        return std::nullopt;
    }
    const SegmentSplit split = splitSegments(row, sp, best.tseg);
    BitTimingResult timing;
    timing.clk = clock;
    timing.spt = split.spt;
    timing.brp = best.brp;
    timing.tseg1 = split.tseg1;
    timing.tseg2 = split.tseg2;
    timing.sjw = jumpWidth(row, sjw, split.tseg2);
    return timing;
}

// Whether a timing exists at every reference clock of the row, in list order.
bool fitsEveryReferenceClock(const ControllerType& row, uint32_t bitrate, uint32_t sp,
                             uint32_t sjw) {
    for (const uint32_t clock : row.referenceClocks) {
        if (clock == 0) {
            break;
        }
        if (!timingForClock(row, clock, bitrate, sp, sjw)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool calcBitTiming(uint32_t index, uint32_t clock, uint32_t bitrate, uint32_t samplePoint,
                   uint32_t sjw, BitTimingResult& out) {
    const ControllerType* row = controllerType(index);
    if (row == nullptr || bitrate == 0 || samplePoint < kSamplePointMin ||
        samplePoint > kSamplePointMax) {
        return false;
    }
    if (clock == 0) {
        return fitsEveryReferenceClock(*row, bitrate, samplePoint, sjw);
    }
    const std::optional<BitTimingResult> timing =
        timingForClock(*row, clock, bitrate, samplePoint, sjw);
    if (!timing) {
        return false;
    }
    out = *timing;
    return true;
}

uint8_t btr0(const BitTimingResult& t) {
    return static_cast<uint8_t>(((t.sjw - 1) & 0x03) << 6 | ((t.brp - 1) & 0x3F));
}

uint8_t btr1(const BitTimingResult& t) {
    return static_cast<uint8_t>(((t.tseg2 - 1) & 0x07) << 4 | ((t.tseg1 - 1) & 0x0F));
}

}  // namespace vtx
