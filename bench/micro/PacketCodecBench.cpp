// The device's 16-byte frame packets: packing a frame for transmission and unpacking a
// received one, for both identifier widths.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "base/CanFrame.h"
#include "device/DevicePackets.h"

namespace {

vtx::CanFrame frameOf(bool extended) {
    vtx::CanFrame frame{};
    frame.idCan = extended ? 0x18DAF110u : 0x7E8u;
    frame.idExt = extended ? 1 : 0;
    frame.lenDataCan = 8;
    for (uint8_t i = 0; i < 8; ++i) {
        frame.dataCan[i] = static_cast<uint8_t>(0x10 + i);
    }
    return frame;
}

void packFrame(benchmark::State& state) {
    const vtx::CanFrame frame = frameOf(state.range(0) != 0);
    std::array<uint8_t, vtx::packet::kSize> packet{};
    for (auto _ : state) {
        vtx::packet::packFrame(frame, packet.data());
        benchmark::DoNotOptimize(packet);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(packFrame)->ArgName("29bit")->Arg(0)->Arg(1);

// A receive transfer's worth of packets, unpacked one after another as the device layer does.
void unpackFrames(benchmark::State& state) {
    constexpr int kPackets = 64;
    std::array<uint8_t, kPackets * vtx::packet::kSize> packets{};
    for (int i = 0; i < kPackets; ++i) {
        vtx::packet::packFrame(frameOf(state.range(0) != 0),
                               packets.data() + i * vtx::packet::kSize);
        packets[i * vtx::packet::kSize] = vtx::packet::kClassFrame;
    }
    for (auto _ : state) {
        for (int i = 0; i < kPackets; ++i) {
            benchmark::DoNotOptimize(
                vtx::packet::unpackFrame(packets.data() + i * vtx::packet::kSize));
        }
    }
    state.SetItemsProcessed(state.iterations() * kPackets);
}
BENCHMARK(unpackFrames)->ArgName("29bit")->Arg(0)->Arg(1);

}  // namespace
