// The program's side of running the end-to-end suite through the built library: it loads the
// library from its file for each test and lends it the simulated device that the tests watch
// and steer.
#ifdef VTX_E2E_THROUGH_LIBRARY

#include <chrono>

#include "device/SimulatedDeviceHost.h"

#include "sim/SimWorld.h"
#include "tests/e2e/SimFixture.h"

#ifdef _WIN32
#define VTX_HOST_EXPORT __declspec(dllexport)
#else
#define VTX_HOST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" VTX_HOST_EXPORT void vtxSimulatedDeviceHost(vtx::SimulatedDeviceHost* host) {
    // As the library does at load (see its entry point): the program's own thread library
    // finds the precise clock under the loader lock at its first real-time reading, which must
    // not be a simulator thread's while the library's unload notification holds that lock.
    (void)std::chrono::system_clock::now();
    vtx::sim::SimWorld& world = vtx::sim::SimWorld::process();
    host->pipe = &world.transport();
    host->deviceFile = &world.deviceFile();
}

namespace vtx::e2e {

ptcan::PassThruLibrary& loadedLibrary() {
    static ptcan::PassThruLibrary library;
    return library;
}

}  // namespace vtx::e2e

#endif
