// ptcan LIBRARY send ID#DATA...: the frames, in order, each taken by the device before the
// command ends.
#include <vector>

#include "tools/ptcan/Commands.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {

namespace {
constexpr uint32_t kWriteTimeoutMs = 1000;
}  // namespace

int runSend(PassThruLibrary& library, const CommonOptions& common,
            const std::vector<Frame>& frames) {
    PassThruDevice device(library);
    CanChannel channel(device, CAN, CanChannel::canFlags(common.extended), common.bitrate);
    std::vector<PASSTHRU_MSG> messages;
    for (const Frame& frame : frames) {
        messages.push_back(PassThruMessage::fromFrame(frame));
    }
    channel.write(messages, kWriteTimeoutMs);
    return 0;
}

}  // namespace ptcan
