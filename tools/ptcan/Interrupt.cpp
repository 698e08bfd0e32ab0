#include "tools/ptcan/Interrupt.h"

#include <csignal>

namespace ptcan {

namespace {
// Written by the signal handler, read by the main thread: nothing else may be touched there.
volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void onStopSignal(int) {
    gStopRequested = 1;
}
}  // namespace

void Interrupt::install() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

bool Interrupt::requested() {
    return gStopRequested != 0;
}

}  // namespace ptcan
