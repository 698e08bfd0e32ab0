// A client built as an application's developer builds one, against the installed package only:
// the header <vtxpts/J2534.h> and `pkg-config --cflags --libs vtxpts`. It links the library by
// its SONAME, opens the device, reads its versions and closes it, and prints the library
// version it was given.
#include <cstdio>

#include <vtxpts/J2534.h>

int main() {
    uint32_t device = 0;
    if (const uint32_t status = PassThruOpen(nullptr, &device); status != STATUS_NOERROR) {
        std::printf("PassThruOpen: %u\n", status);
        return 1;
    }
    char firmware[80] = {};
    char library[80] = {};
    char api[80] = {};
    const uint32_t status = PassThruReadVersion(device, firmware, library, api);
    std::printf("PassThruReadVersion: %u firmware=%s library=%s api=%s\n", status, firmware,
                library, api);
    return status == STATUS_NOERROR && PassThruClose(device) == STATUS_NOERROR ? 0 : 1;
}
