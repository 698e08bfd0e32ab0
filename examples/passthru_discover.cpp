// passthru_discover: finds J2534 devices the way Linux clients do, by their JSON descriptors in
// ~/.passthru/ and /etc/passthru/, then loads each device's library (FUNCTION_LIB), opens the
// device, reads its versions and closes it again.
//
//   passthru_discover [--dir FOLDER]... [NAME]
//
// --dir scans the given folders instead of the standard ones; NAME tries only the device of
// that name. Exit status 0 when every device tried opened, read its versions and closed; 1 when
// none was found or one failed; 2 on bad usage. (VTXPTS_DEVICE=sim selects the simulated device.)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "examples/DeviceDescriptor.h"
#include "tools/ptcan/PassThruLibrary.h"

namespace {

using examples::DeviceDescriptor;

struct Options {
    std::vector<std::filesystem::path> folders;
    std::string name;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            options.folders.emplace_back(argv[++i]);
        } else if (argv[i][0] != '-' && options.name.empty()) {
            options.name = argv[i];
        } else {
            return false;
        }
    }
    if (options.folders.empty()) {
        options.folders = DeviceDescriptor::standardFolders();
    }
    return true;
}

void describe(const DeviceDescriptor& device) {
    std::printf("%s: %s (%s)\n  library:   %s\n  protocols:", device.file.c_str(),
                device.name.c_str(), device.vendor.c_str(), device.functionLibrary.c_str());
    for (const auto& protocol : device.protocols) {
        std::printf(" %s", protocol.c_str());
    }
    std::printf("\n");
}

bool report(ptcan::PassThruLibrary& library, const char* call, uint32_t status) {
    if (status != STATUS_NOERROR) {
        std::printf("  %s failed: %s\n", call, library.describe(status).c_str());
    }
    return status == STATUS_NOERROR;
}

// Loads the device's library and opens, identifies and closes the device through it.
bool tryDevice(const DeviceDescriptor& device) {
    ptcan::PassThruLibrary library;
    if (!library.load(device.functionLibrary)) {
        std::printf("  cannot load the library: %s\n", library.error().c_str());
        return false;
    }
    uint32_t deviceId = 0;
    if (!report(library, "PassThruOpen", library.open(nullptr, &deviceId))) {
        return false;
    }
    char firmware[80] = {};
    char dll[80] = {};
    char api[80] = {};
    const bool versions =
        report(library, "PassThruReadVersion", library.readVersion(deviceId, firmware, dll, api));
    if (versions) {
        std::printf("  device %u: firmware %s, library %s, API %s\n", deviceId, firmware, dll, api);
    }
    const bool closed = report(library, "PassThruClose", library.close(deviceId));
    return versions && closed;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: passthru_discover [--dir FOLDER]... [NAME]\n");
        return 2;
    }
    std::vector<std::string> problems;
    const auto devices = DeviceDescriptor::scan(options.folders, problems);
    for (const auto& problem : problems) {
        std::fprintf(stderr, "passthru_discover: skipped %s\n", problem.c_str());
    }
    int tried = 0;
    int failed = 0;
    for (const auto& device : devices) {
        if (!options.name.empty() && device.name != options.name) {
            continue;
        }
        describe(device);
        ++tried;
        failed += tryDevice(device) ? 0 : 1;
    }
    if (tried == 0) {
        std::fprintf(stderr, "passthru_discover: no device%s%s found\n",
                     options.name.empty() ? "" : " named ", options.name.c_str());
        return 1;
    }
    return failed == 0 ? 0 : 1;
}
