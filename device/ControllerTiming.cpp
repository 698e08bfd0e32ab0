#include "device/ControllerTiming.h"

#include <algorithm>
#include <cstring>

#include "device/bittiming/BitTiming.h"

namespace vtx {

namespace {
constexpr uint32_t kFixedTableClock = 16000000;
constexpr uint32_t kCalculatedClockNewFirmware = 24000000;
constexpr uint32_t kCalculatedClockOther = 16000000;
constexpr char kProductVtx20[5] = {'V', 'T', 'X', '2', '0'};
// The first firmware generation's major versions are below this one.
constexpr uint8_t kSecondGenerationMajor = 2;
// The one sample point, in percent, the first generation has a table of its own for.
constexpr uint32_t kFirstGenerationLateSamplePoint = 62;

// The fixed tables' segments: 8 quanta per bit, sampled after 6 (75 %), or after 5 (62.5 %)
// with a jump width of up to 2 quanta.
constexpr uint32_t kTableTseg1 = 5;
constexpr uint32_t kTableTseg2 = 2;
constexpr uint32_t kTableSjw = 1;
constexpr uint32_t kLateTableTseg1 = 4;
constexpr uint32_t kLateTableTseg2 = 3;
constexpr uint32_t kLateTableMaxSjw = 2;

// Whether a fixed table's time segments are reported with the timing.
enum class Segments : uint8_t { Reported, Withheld };

// Prescaler - 1 of the fixed tables (16 MHz, 8 quanta per bit).
uint32_t fixedPrescalerMinusOne(uint32_t kbps) {
    switch (kbps) {
        case 100:
            return 19;
        case 125:
            return 15;
        case 250:
            return 7;
        case 500:
            return 3;
        case 1000:
            return 1;
        default:
            return 0;
    }
}

uint8_t makeBtr0(uint32_t sjw, uint32_t brp) {
    return static_cast<uint8_t>(((sjw - 1) & 0x03) << 6 | ((brp - 1) & 0x3F));
}

uint8_t makeBtr1(uint32_t tseg1, uint32_t tseg2) {
    return static_cast<uint8_t>(((tseg2 - 1) & 0x07) << 4 | ((tseg1 - 1) & 0x0F));
}

void fixedTiming(uint32_t kbps, uint32_t tseg1, uint32_t tseg2, uint32_t sjw, Segments segments,
                 ControllerTiming& out) {
    out.clock = kFixedTableClock;
    out.brp = fixedPrescalerMinusOne(kbps) + 1;
    out.sjw = sjw;
    out.samplePoint = (1 + tseg1) * 1000 / (1 + tseg1 + tseg2);
    out.btr0 = makeBtr0(sjw, out.brp);
    out.btr1 = makeBtr1(tseg1, tseg2);
    out.tseg1 = segments == Segments::Reported ? tseg1 : 0;
    out.tseg2 = segments == Segments::Reported ? tseg2 : 0;
}

// A wanted SJW of 0 would wrap in the register field: at least one quantum.
uint32_t wantedSjw(const CommParameters& params) {
    return std::max<uint32_t>(params.Sjw, 1);
}
}  // namespace

bool controllerTimingFor(const CommParameters& params, const DeviceInfo& info,
                         ControllerTiming& out) {
    if (params.Bus == kSecondOutputBus) {
        fixedTiming(params.baudrate, kTableTseg1, kTableTseg2, kTableSjw, Segments::Withheld, out);
        return true;
    }
    const bool vtx20 = std::memcmp(info.productCode, kProductVtx20, sizeof kProductVtx20) == 0;
    const uint8_t firmwareMajor = info.firmwareVersion[0];
    if (vtx20 && firmwareMajor < kSecondGenerationMajor) {
        if (params.SamplePoint == kFirstGenerationLateSamplePoint) {
            fixedTiming(params.baudrate, kLateTableTseg1, kLateTableTseg2,
                        std::min(wantedSjw(params), kLateTableMaxSjw), Segments::Reported, out);
        } else {
            fixedTiming(params.baudrate, kTableTseg1, kTableTseg2, kTableSjw, Segments::Reported,
                        out);
        }
        return true;
    }
    const uint32_t clock = vtx20 ? kCalculatedClockNewFirmware : kCalculatedClockOther;
    // A sample point of 100 % or more is refused by the calculation, not wrapped into range.
    const uint32_t samplePointPerMille = params.SamplePoint >= 100 ? 1000 : params.SamplePoint * 10;
    BitTimingResult timing;
    if (!calcBitTiming(kControllerMscan, clock, params.baudrate * 1000, samplePointPerMille,
                       params.Sjw, timing)) {
        return false;
    }
    out.clock = timing.clk;
    out.brp = timing.brp;
    out.tseg1 = timing.tseg1;
    out.tseg2 = timing.tseg2;
    out.sjw = timing.sjw;
    out.samplePoint = timing.spt;
    out.btr0 = btr0(timing);
    out.btr1 = btr1(timing);
    return true;
}

}  // namespace vtx
