// A raw CAN channel's receive decision: which of its filters admits a frame, with a growing
// number of pass filters (the frame matching the last one, or none) and a block filter, and
// the message an admitted frame becomes for the reader.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "base/CanFrame.h"
#include "base/J2534.h"
#include "protocol/CanProtocol.h"

namespace {

PASSTHRU_MSG identifierMessage(uint32_t id) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = CAN;
    msg.DataSize = 4;
    for (int i = 0; i < 4; ++i) {
        msg.Data[i] = static_cast<uint8_t>(id >> (24 - 8 * i));
    }
    return msg;
}

// count pass filters for 0x700, 0x701, ...; with a block filter for 0x7FF first if asked.
void addFilters(vtx::CanProtocol& protocol, int count, bool block) {
    const PASSTHRU_MSG mask = identifierMessage(0x7FF);
    uint32_t id = 1;
    if (block) {
        const PASSTHRU_MSG pattern = identifierMessage(0x7FF);
        protocol.addFilter({BLOCK_FILTER, &mask, &pattern, nullptr}, id++);
    }
    for (int i = 0; i < count; ++i) {
        const PASSTHRU_MSG pattern = identifierMessage(0x700 + static_cast<uint32_t>(i));
        protocol.addFilter({PASS_FILTER, &mask, &pattern, nullptr}, id++);
    }
}

vtx::CanFrame frameFor(uint32_t id) {
    vtx::CanFrame frame{};
    frame.idCan = id;
    frame.lenDataCan = 8;
    return frame;
}

// range(0): pass filters; range(1): 1 when the frame matches the last of them, 0 when none.
void admittingFilter(benchmark::State& state) {
    vtx::CanProtocol protocol(0);
    const auto filters = static_cast<int>(state.range(0));
    addFilters(protocol, filters, true);
    const vtx::CanFrame frame =
        frameFor(state.range(1) != 0 ? 0x700 + static_cast<uint32_t>(filters - 1) : 0x100);
    for (auto _ : state) {
        benchmark::DoNotOptimize(protocol.admittingFilter(frame, vtx::Echo::No));
    }
}
BENCHMARK(admittingFilter)->ArgNames({"filters", "match"})->ArgsProduct({{1, 4, 10}, {0, 1}});

void messageOf(benchmark::State& state) {
    vtx::CanProtocol protocol(0);
    addFilters(protocol, 1, false);
    const vtx::CanFrame frame = frameFor(0x700);
    for (auto _ : state) {
        benchmark::DoNotOptimize(protocol.messageOf(frame));
    }
}
BENCHMARK(messageOf);

}  // namespace
