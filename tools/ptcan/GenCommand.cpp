// ptcan LIBRARY gen: frames at a fixed gap, as cangen sends them; with -v or -l, each frame as
// the device looped it back, in candump's log format.
#include <chrono>
#include <string>

#include "tools/ptcan/Commands.h"
#include "tools/ptcan/FrameSender.h"
#include "tools/ptcan/Interrupt.h"

namespace ptcan {

int runGen(PassThruLibrary& library, const CommonOptions& common, const GenOptions& options) {
    const bool echo = options.verbose || !options.logFile.empty();
    LogOutput output(options.verbose, options.logFile, false);
    PassThruDevice device(library);
    const bool extendedOnly = common.extended || options.settings.extended;
    CanChannel channel(device, CAN, CanChannel::canFlags(extendedOnly), common.bitrate);
    if (echo) {
        channel.setLoopback(true);
        channel.passAll();
    }
    FrameSender sender(channel, echo ? &output : nullptr);
    FrameGenerator generator(options.settings);
    auto next = FrameSender::Clock::now();
    while (!Interrupt::requested() && (options.count == 0 || sender.sent() < options.count)) {
        sender.waitUntil(next);
        if (Interrupt::requested()) {
            break;
        }
        sender.send(generator.next());
        next += std::chrono::milliseconds(options.gapMs);
    }
    sender.collectEchoes();
    finish(channel, device, "gen: " + std::to_string(sender.sent()) + " frames sent");
    return 0;
}

}  // namespace ptcan
