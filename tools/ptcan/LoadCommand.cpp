// ptcan LIBRARY load: frames per second and bus load, measured over each second; one line
// rewritten in place on a terminal, a line per second on a pipe or file.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ptcan/BusLoadMeter.h"
#include "tools/ptcan/Commands.h"
#include "tools/ptcan/Interrupt.h"
#include "tools/ptcan/PassThruMessage.h"
#include "tools/ptcan/Terminal.h"

namespace ptcan {

namespace {
constexpr uint32_t kSliceMs = 50;
constexpr std::size_t kBatch = 256;
constexpr auto kWindow = std::chrono::seconds(1);

void show(const BusLoadMeter::Reading& reading, bool live) {
    if (live) {
        std::printf("\r%8.0f frames/s  %5.1f %% bus load ", reading.framesPerSecond,
                    reading.loadPercent);
    } else {
        std::printf("%.0f frames/s %.1f %% bus load\n", reading.framesPerSecond,
                    reading.loadPercent);
    }
    std::fflush(stdout);
}
}  // namespace

int runLoad(PassThruLibrary& library, const CommonOptions& common, const LoadOptions& options) {
    using Clock = std::chrono::steady_clock;
    const bool live = Terminal::stdoutIsTerminal();
    PassThruDevice device(library);
    CanChannel channel(device, CAN, CanChannel::canFlags(common.extended), common.bitrate);
    channel.passAll();
    BusLoadMeter meter(common.bitrate);
    std::vector<PASSTHRU_MSG> buffer(kBatch);
    uint32_t shown = 0;
    auto windowStart = Clock::now();
    while (!Interrupt::requested() && (options.seconds == 0 || shown < options.seconds)) {
        const uint32_t count = channel.read(buffer, kSliceMs);
        for (uint32_t i = 0; i < count; ++i) {
            meter.add(PassThruMessage::toFrame(buffer[i]));
        }
        const auto now = Clock::now();
        if (now - windowStart >= kWindow) {
            show(meter.take(std::chrono::duration<double>(now - windowStart).count()), live);
            windowStart = now;
            ++shown;
        }
    }
    if (live) {
        std::printf("\n");
    }
    finish(channel, device, "load: " + std::to_string(shown) + " seconds measured");
    return 0;
}

}  // namespace ptcan
