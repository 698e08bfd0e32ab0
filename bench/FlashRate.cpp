// How close a reprogramming session over ISO15765 comes to what the bus can carry: a 256 KiB
// image flashed at 500 kbit/s through the fourteen functions (the built library, loaded by path)
// against the simulated ECU, once with the ECU granting block size 0 and STmin 0, once with
// STmin 1 ms. The payload rate of the transfer-data phase (the ECU's answer to each block
// included) is set against the bus's limit for 7-byte consecutive frames: 11-bit frames of 8
// data bytes take 111 bits, so 4504.5 frames/s or 31.5 kB/s at 500 kbit/s; with STmin 1 ms at
// most one frame a millisecond, 7 kB/s. A separation time is kept between the device's writes,
// and a frame reaches the bus only once the device has taken it, so each separation also holds
// one USB transfer (125 us on the simulated device): the ceiling is 1 / 1.125 of that, 0.889.
//
//   vtx_bench_flash [RUNS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "examples/DiagnosticSession.h"
#include "examples/UdsFlasher.h"
#include "platform/DynamicLibrary.h"

namespace {

constexpr std::size_t kImageBytes = 256 * 1024;
constexpr double kFrameBits = 111;  // 11-bit identifier, 8 data bytes, unstuffed
constexpr double kBitRate = 500000;
constexpr double kBytesPerFrame = 7;
constexpr double kTransferSeconds = 125e-6;  // the simulated device's USB latency, by default

struct Scenario {
    const char* name;
    const char* separationTime;  // VTXPTS_SIM_ECU_STMIN
    double limitBytesPerSecond;
    double target;
    double separationSeconds;  // the ECU's STmin
};

// One flash in a fresh simulated world; the payload rate in bytes per second, or 0 on failure.
double flashOnce(const std::vector<uint8_t>& image) {
    ptcan::PassThruLibrary library;
    if (!library.load(VTX_LIBRARY_PATH)) {
        std::fprintf(stderr, "cannot load %s: %s\n", VTX_LIBRARY_PATH, library.error().c_str());
        return 0;
    }
    examples::DiagnosticSession session(library, examples::DiagnosticSession::Echo::Quiet);
    if (!session.open()) {
        return 0;
    }
    examples::UdsFlasher flasher(session, examples::UdsFlasher::Progress::Hidden);
    const bool flashed = flasher.run(image);
    session.close();
    return flashed && flasher.transferSeconds() > 0
               ? static_cast<double>(image.size()) / flasher.transferSeconds()
               : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    std::vector<uint8_t> image(kImageBytes);
    std::mt19937 random(1);
    for (uint8_t& byte : image) {
        byte = static_cast<uint8_t>(random());
    }
    const double busLimit = kBitRate / kFrameBits * kBytesPerFrame;
    const Scenario scenarios[] = {
        {"ECU BS 0, STmin 0", "0", busLimit, 0.85, 0},
        {"ECU BS 0, STmin 1 ms", "1", 1000 * kBytesPerFrame, 0.95, 0.001},
    };
    vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
    vtx::platform::setEnvironment("VTXPTS_SIM_ECU_BS", "0");
    bool met = true;
    for (const Scenario& scenario : scenarios) {
        vtx::platform::setEnvironment("VTXPTS_SIM_ECU_STMIN", scenario.separationTime);
        for (int run = 0; run < runs; ++run) {
            const double rate = flashOnce(image);
            const double ratio = rate / scenario.limitBytesPerSecond;
            std::printf("%-22s %8.0f B/s of %8.0f B/s: %.3f (target %.2f) %s\n", scenario.name,
                        rate, scenario.limitBytesPerSecond, ratio, scenario.target,
                        ratio >= scenario.target ? "met" : "MISSED");
            if (scenario.separationSeconds > 0) {
                std::printf(
                    "%-22s ceiling with one USB transfer per frame: %.3f\n", "",
                    scenario.separationSeconds / (scenario.separationSeconds + kTransferSeconds));
            }
            met = met && ratio >= scenario.target;
        }
    }
    return met ? 0 : 1;
}
