// ptcan LIBRARY dump: received frames in candump's log format, on stdout and optionally into a
// log file, until Ctrl-C (or a count or an idle time).
#include <chrono>
#include <string>
#include <vector>

#include "tools/ptcan/Commands.h"
#include "tools/ptcan/Interrupt.h"
#include "tools/ptcan/LogOutput.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {

namespace {
constexpr uint32_t kSliceMs = 50;
constexpr uint32_t kWriteTimeoutMs = 1000;
constexpr std::size_t kBatch = 64;

void setUp(CanChannel& channel, const DumpOptions& options) {
    if (options.loopback) {
        channel.setLoopback(true);
    }
    if (options.filters.empty()) {
        channel.passAll();
    }
    for (const PassFilter& filter : options.filters) {
        channel.addPassFilter(filter);
    }
    if (!options.send.empty()) {
        std::vector<PASSTHRU_MSG> messages;
        for (const Frame& frame : options.send) {
            messages.push_back(PassThruMessage::fromFrame(frame));
        }
        channel.write(messages, kWriteTimeoutMs);
    }
}

// Reads and logs until Ctrl-C, the count or the idle time.
void listen(CanChannel& channel, const DumpOptions& options, LogOutput& output) {
    using Clock = std::chrono::steady_clock;
    std::vector<PASSTHRU_MSG> buffer(kBatch);
    auto lastFrame = Clock::now();
    while (!Interrupt::requested()) {
        const uint32_t count = channel.read(buffer, kSliceMs);
        for (uint32_t i = 0; i < count; ++i) {
            output.write(buffer[i]);
            if (options.count != 0 && output.lines() >= options.count) {
                return;
            }
        }
        if (count > 0) {
            lastFrame = Clock::now();
        } else if (options.idleTimeoutMs != 0 &&
                   Clock::now() - lastFrame >= std::chrono::milliseconds(options.idleTimeoutMs)) {
            return;
        }
    }
}
}  // namespace

int runDump(PassThruLibrary& library, const CommonOptions& common, const DumpOptions& options) {
    LogOutput output(true, options.logFile, options.loopback);
    PassThruDevice device(library);
    CanChannel channel(device, CAN, CanChannel::canFlags(common.extended), common.bitrate);
    setUp(channel, options);
    listen(channel, options, output);
    finish(channel, device,
           "dump: " + std::to_string(output.lines()) + " frames" +
               (Interrupt::requested() ? ", interrupted" : ""));
    return 0;
}

}  // namespace ptcan
