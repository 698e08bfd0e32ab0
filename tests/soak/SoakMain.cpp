// soak MINUTES [WARM_UP_MINUTES]: the soak run against the simulated device, with the library
// linked into this program so that it can pull the device's plug. Not a CTest test: it runs
// for as long as it is told (scripts/soak.sh).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/Library.h"
#include "platform/DynamicLibrary.h"
#include "sim/SimWorld.h"
#include "tests/soak/Soak.h"

int main(int argc, char** argv) {
    if (argc < 2 || std::atof(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: %s MINUTES [WARM_UP_MINUTES]\n", argv[0]);
        return 2;
    }
    vtx::soak::SoakOptions options;
    options.duration = std::chrono::seconds(static_cast<int64_t>(std::atof(argv[1]) * 60));
    if (argc > 2) {
        options.warmUp = std::chrono::seconds(static_cast<int64_t>(std::atof(argv[2]) * 60));
    }
    // The simulated device behind the WinUSB path, no ECU, the generator's frames at about a
    // quarter of the bus; the application's writes and periodic messages bring it to half.
    vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
    vtx::platform::setEnvironment("VTXPTS_SIM_ECU", "0");
    vtx::platform::setEnvironment("VTXPTS_SIM_TRAFFIC", "1000");
    if (!vtx::Library::onProcessAttach()) {
        std::fprintf(stderr, "soak: the library did not attach\n");
        return 1;
    }
    int result = 0;
    {
        vtx::soak::Soak soak(options);
        result = soak.run();
    }
    vtx::Library::onProcessDetach();
    return result;
}
