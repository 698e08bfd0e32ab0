// ptcan LIBRARY open: open the device, report its ID, close it again; every call's status.
#include <cstdio>

#include "tools/ptcan/Commands.h"

namespace ptcan {

namespace {
void report(PassThruLibrary& library, const char* call, uint32_t status) {
    std::printf("%-22s %s\n", call, library.describe(status).c_str());
}
}  // namespace

int runOpen(PassThruLibrary& library, const std::string& path) {
    std::printf("library %s: 14 J2534 functions resolved\n", path.c_str());
    uint32_t deviceId = 0;
    const uint32_t status = library.open(nullptr, &deviceId);
    report(library, "PassThruOpen", status);
    if (status != STATUS_NOERROR) {
        return 1;
    }
    std::printf("device ID %u\n", deviceId);
    report(library, "PassThruClose", library.close(deviceId));
    return 0;
}

}  // namespace ptcan
