// The ISO-TP frame codec: decoding received frames of each type and building the frames a
// transfer sends, with normal addressing and padding on.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "base/CanFrame.h"
#include "protocol/isotp/IsoTpFrame.h"

namespace {

using namespace vtx::isotp;

const IsoTpAddress kEcu{0x7E8, CanIdWidth::Standard11, std::nullopt};
const IsoTpAddress kTester{0x7E0, CanIdWidth::Standard11, std::nullopt};
constexpr FramePadding kPadding{PaddingMode::On, 0x55};
constexpr std::array<uint8_t, 7> kPayload{0x62, 0xF1, 0x90, 0x31, 0x56, 0x54, 0x58};

// range(0): 0 single frame, 1 first frame, 2 consecutive frame, 3 flow control.
vtx::CanFrame receivedFrame(int64_t type) {
    switch (type) {
        case 0:
            return buildSingleFrame(kEcu, std::span(kPayload).first(3), kPadding);
        case 1:
            return buildFirstFrame(kEcu, 20, std::span(kPayload).first(6), kPadding);
        case 2:
            return buildConsecutiveFrame(kEcu, 1, kPayload, kPadding);
        default:
            return buildFlowControl(kEcu, FlowControl{FlowStatus::ClearToSend, 8, 0}, kPadding);
    }
}

void decodeFrame(benchmark::State& state) {
    const vtx::CanFrame frame = receivedFrame(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeFrame(frame, kEcu, PaddingMode::On));
    }
}
BENCHMARK(decodeFrame)->ArgName("type")->DenseRange(0, 3);

void buildConsecutiveFrames(benchmark::State& state) {
    uint8_t sequence = kFirstSequenceNumber;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildConsecutiveFrame(kTester, sequence, kPayload, kPadding));
        sequence = static_cast<uint8_t>((sequence + 1) % kSequenceNumberModulus);
    }
}
BENCHMARK(buildConsecutiveFrames);

void buildFlowControl(benchmark::State& state) {
    const FlowControl clearToSend{FlowStatus::ClearToSend, 0, 0};
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildFlowControl(kTester, clearToSend, kPadding));
    }
}
BENCHMARK(buildFlowControl);

}  // namespace
