// ptcan LIBRARY play FILE: replays a candump log with its original timing, as often as asked;
// with -v, each frame as the device looped it back, in candump's log format.
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tools/ptcan/Commands.h"
#include "tools/ptcan/FrameSender.h"
#include "tools/ptcan/Interrupt.h"
#include "tools/ptcan/PassThruError.h"

namespace ptcan {

namespace {
std::vector<LogEntry> readLog(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw ToolError("cannot read " + path);
    }
    std::vector<LogEntry> entries;
    std::string error;
    if (!CandumpLog::read(in, entries, error)) {
        throw ToolError(path + ": " + error);
    }
    return entries;
}

// One pass through the log, each frame at its offset from the first.
void playOnce(FrameSender& sender, const std::vector<LogEntry>& entries) {
    const auto start = FrameSender::Clock::now();
    const int64_t origin = entries.front().timestampUs;
    for (const LogEntry& entry : entries) {
        sender.waitUntil(start + std::chrono::microseconds(entry.timestampUs - origin));
        if (Interrupt::requested()) {
            return;
        }
        sender.send(entry.frame);
    }
}
}  // namespace

int runPlay(PassThruLibrary& library, const CommonOptions& common, const PlayOptions& options) {
    const std::vector<LogEntry> entries = readLog(options.file);
    LogOutput output(options.verbose, "", false);
    PassThruDevice device(library);
    CanChannel channel(device, CAN, CanChannel::canFlags(common.extended), common.bitrate);
    if (options.verbose) {
        channel.setLoopback(true);
        channel.passAll();
    }
    FrameSender sender(channel, options.verbose ? &output : nullptr);
    for (uint32_t loop = 0; loop < options.loops && !entries.empty() && !Interrupt::requested();
         ++loop) {
        playOnce(sender, entries);
    }
    sender.collectEchoes();
    finish(channel, device, "play: " + std::to_string(sender.sent()) + " frames sent");
    return 0;
}

}  // namespace ptcan
