// Runs a program against the emulated device: the testbed and the device's answers live here,
// the program runs as a child under umockdev's preload library, its ioctls come back to this
// process. Exits with the program's status, or 77 (skipped) when umockdev cannot run here.
//
//   umockdev-wrapper vtx_umockdev_host PROGRAM [ARGUMENTS...]
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>

#include "platform/posix/libusb/UsbDeviceId.h"
#include "sim/SimWorld.h"
#include "tests/libusb/UsbDeviceEmulator.h"

extern char** environ;

namespace {
constexpr int kSkipped = 77;

// The child's exit status; 1 when it could not be started or did not exit.
int runChild(char** argv) {
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv, environ) != 0) {
        std::perror(argv[0]);
        return 1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    const std::string reason = vtx::usbtest::UsbDeviceEmulator::unavailableReason();
    if (!reason.empty()) {
        std::printf("SKIP: %s\n", reason.c_str());
        return kSkipped;
    }
    const vtx::platform::UsbDeviceId id = vtx::platform::UsbDeviceId::fromEnvironment();
    int status = 1;
    {
        vtx::usbtest::UsbDeviceEmulator emulator(
            []() -> vtx::sim::SimWorld& { return vtx::sim::SimWorld::process(); }, id.vendor,
            id.product);
        status = runChild(argv + 1);
    }
    vtx::sim::SimWorld::shutdownProcess();
    return status;
}
