// Ctrl-C (SIGINT) and SIGTERM only raise a flag; the commands' loops poll it between short
// reads and end through their normal path, so channels are disconnected and the device closed.
#pragma once

namespace ptcan {

class Interrupt {
  public:
    static void install();
    static bool requested();
};

}  // namespace ptcan
