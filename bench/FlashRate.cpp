// How close a reprogramming session over ISO15765 comes to what the bus can carry: a 256 KiB
// image flashed at 500 kbit/s through the fourteen functions (the built library, loaded by path)
// against the simulated ECU, once with the ECU granting block size 0 and STmin 0, once with
// STmin 1 ms. The payload rate of the transfer-data phase (the ECU's answer to each block
// included) is set against the bus's limit for 7-byte consecutive frames: 11-bit frames of 8
// data bytes take 111 bits, so 4504.5 frames/s or 31.5 kB/s at 500 kbit/s.
//
// With STmin 1 ms the limit is the rate of a sender that keeps STmin as the gap between the end
// of one consecutive frame and the start of the next: one frame per STmin plus the frame's own
// 222 us on the bus, 5.73 kB/s. That is the sender the ECU itself is (its consecutive frames go
// out STmin after the previous one ended). The run also prints the rate against one frame per
// STmin, 7 kB/s, which a sender reaches only with no gap at all between the receiver's
// reception intervals and STmin; the library keeps STmin between its writes to the device, and
// each write holds one USB transfer (125 us on the simulated device), so against that figure
// the ceiling is 1 / 1.125, 0.889.
//
// A frame the device takes while another node's frame is on the wire goes out after it, and the
// device tells nothing of when; so the library keeps, besides STmin, the time of the longest
// frame (320 us at 500 kbit/s) between its consecutive frames, and with STmin 1 ms its pace is
// one frame per 1.445 ms plus the loop's own delays: 0.85 of the limit at best, 0.70 the target.
//
// Each scenario runs on a quiet bus and again on a loaded one: another node sends 2000 frames/s
// (VTXPTS_SIM_TRAFFIC, identifier 0x100, which wins arbitration), about 44 % of the bus. There
// the rate is set against the same limits; what counts is that the flash succeeds (a consecutive
// frame that breaks the ECU's STmin makes it drop the request, and the flash fails).
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
    const char* traffic;         // VTXPTS_SIM_TRAFFIC, or nullptr for a quiet bus
    double target;               // 0: none, the flash must only succeed
    double separationSeconds;    // the ECU's STmin
};

double frameSeconds() {
    return kFrameBits / kBitRate;
}

// The payload rate of a sender that leaves the separation time between one frame's end and the
// next one's start (none: frames back to back).
double limitBytesPerSecond(const Scenario& scenario) {
    return kBytesPerFrame / (scenario.separationSeconds + frameSeconds());
}

// The same rate with the separation time between frame starts, where it is the longer.
double startToStartBytesPerSecond(const Scenario& scenario) {
    return kBytesPerFrame / std::max(scenario.separationSeconds, frameSeconds());
}

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
    const Scenario scenarios[] = {
        {"ECU BS 0, STmin 0", "0", nullptr, 0.85, 0},
        {"ECU BS 0, STmin 1 ms", "1", nullptr, 0.70, 0.001},
        {"  loaded, STmin 0", "0", "2000", 0, 0},
        {"  loaded, STmin 1 ms", "1", "2000", 0, 0.001},
    };
    vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
    vtx::platform::setEnvironment("VTXPTS_SIM_ECU_BS", "0");
    bool met = true;
    for (const Scenario& scenario : scenarios) {
        vtx::platform::setEnvironment("VTXPTS_SIM_ECU_STMIN", scenario.separationTime);
        if (scenario.traffic != nullptr) {
            vtx::platform::setEnvironment("VTXPTS_SIM_TRAFFIC", scenario.traffic);
        } else {
            vtx::platform::unsetEnvironment("VTXPTS_SIM_TRAFFIC");
        }
        for (int run = 0; run < runs; ++run) {
            const double rate = flashOnce(image);
            const double limit = limitBytesPerSecond(scenario);
            const double ratio = rate / limit;
            const bool reached = rate > 0 && ratio >= scenario.target;
            std::printf("%-22s %8.0f B/s of %8.0f B/s: %.3f (target %.2f) %s\n", scenario.name,
                        rate, limit, ratio, scenario.target, reached ? "met" : "MISSED");
            if (scenario.separationSeconds > frameSeconds()) {
                const double startToStart = startToStartBytesPerSecond(scenario);
                std::printf(
                    "%-22s %8s     of %8.0f B/s (one frame per STmin): %.3f, ceiling %.3f\n", "",
                    "", startToStart, rate / startToStart,
                    scenario.separationSeconds / (scenario.separationSeconds + kTransferSeconds));
            }
            met = met && reached;
        }
    }
    return met ? 0 : 1;
}
