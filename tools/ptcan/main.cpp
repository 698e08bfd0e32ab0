// ptcan: talks CAN through any J2534 library, loaded by path.
//
//   ptcan LIBRARY open     open the device, report its ID, close it again
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/ptcan/PassThruLibrary.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: ptcan LIBRARY COMMAND\n"
                 "commands:\n"
                 "  open   open the device, report its ID, close it again\n");
    return 2;
}

void report(ptcan::PassThruLibrary& lib, const char* call, uint32_t status) {
    std::printf("%-22s %s\n", call, lib.describe(status).c_str());
}

int commandOpen(ptcan::PassThruLibrary& lib) {
    uint32_t deviceId = 0;
    const uint32_t status = lib.open(nullptr, &deviceId);
    report(lib, "PassThruOpen", status);
    if (status != STATUS_NOERROR) {
        return 1;
    }
    std::printf("device ID %u\n", deviceId);
    report(lib, "PassThruClose", lib.close(deviceId));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return usage();
    }
    ptcan::PassThruLibrary lib;
    if (!lib.load(argv[1])) {
        std::fprintf(stderr, "ptcan: cannot load %s: %s\n", argv[1], lib.error().c_str());
        return 1;
    }
    std::printf("library %s: 14 J2534 functions resolved\n", argv[1]);
    if (std::strcmp(argv[2], "open") == 0) {
        return commandOpen(lib);
    }
    return usage();
}
