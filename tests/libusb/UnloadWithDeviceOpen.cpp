// The library unloaded with the device open over libusb, twice: every thread it started, libusb's
// own among them, has ended once it is unloaded, and a second load finds and opens the device
// again (its libusb context was released, not left half torn down). Run under the emulated
// device: umockdev-wrapper vtx_umockdev_host vtx_libusb_unload_test LIBRARY
#include <cstdio>
#include <filesystem>
#include <thread>

#include "tests/support/CanMessage.h"
#include "tools/ptcan/PassThruLibrary.h"

namespace {

std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// Loads, opens, connects and asks the device's version, then unloads with the device open.
bool sessionLeftOpen(const char* path) {
    ptcan::PassThruLibrary library;
    if (!library.load(path)) {
        std::fprintf(stderr, "%s\n", library.error().c_str());
        return false;
    }
    uint32_t deviceId = 0;
    uint32_t channelId = 0;
    char firmware[80] = {};
    char dll[80] = {};
    char api[80] = {};
    if (library.open(nullptr, &deviceId) != STATUS_NOERROR ||
        library.connect(deviceId, CAN, 0, 500000, &channelId) != STATUS_NOERROR ||
        library.readVersion(deviceId, firmware, dll, api) != STATUS_NOERROR) {
        char text[80] = {};
        library.getLastError(text);
        std::fprintf(stderr, "session failed: %s\n", text);
        return false;
    }
    std::printf("firmware %s\n", firmware);
    library.unload();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    // A sanitizer's runtime starts a thread of its own with the process's first one: that one
    // is there before the count starts.
    std::thread([] {}).join();
    const std::size_t before = threadCount();
    for (int round = 1; round <= 2; ++round) {
        if (!sessionLeftOpen(argv[1])) {
            return 1;
        }
        const std::size_t after = threadCount();
        if (after != before) {
            std::fprintf(stderr, "round %d: %zu threads before loading, %zu after unloading\n",
                         round, before, after);
            return 1;
        }
    }
    return 0;
}
