// The end of a long-running command: the channel and the device closed in order, and a line on
// stderr that says what the command did and that both were closed.
#include <cstdio>

#include "tools/ptcan/CanChannel.h"
#include "tools/ptcan/Commands.h"

namespace ptcan {

void finish(CanChannel& channel, PassThruDevice& device, const std::string& summary) {
    const bool disconnected = channel.disconnect();
    const bool closed = device.close();
    std::fprintf(stderr, "ptcan: %s; %s, %s\n", summary.c_str(),
                 disconnected ? "channel disconnected" : "disconnect failed",
                 closed ? "device closed" : "close failed");
}

}  // namespace ptcan
