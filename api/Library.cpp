#include "api/Library.h"

#include <new>

#include "device/DeviceSelection.h"
#include "device/DriverDetection.h"
#include "operations/PassThru.h"
#include "platform/LibraryLifecycle.h"
#include "platform/ThreadServices.h"
#include "platform/TraceServices.h"
#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"

#if VTX_WITH_SIMULATED_DEVICE
#include "sim/SimWorld.h"
#endif

namespace vtx {

namespace {
// Created at process attach, destroyed at detach; the exported functions reach it between the
// two (a call still inside at unload is the caller's error). A plain pointer keeps it free of
// static constructors and destructors, whose order against the load and unload notifications is
// not ours to choose.
constinit PassThru* thePassThru = nullptr;

constexpr char kEvent[] = "DllMain";

// The simulated device built into this library, offered to the device layer, which chooses it
// when VTXPTS_DEVICE asks for it.
void registerBuiltInDevices() {
#if VTX_WITH_SIMULATED_DEVICE
    registerSimulatedDevice(SimulatedDeviceProvider{
        []() -> PipeTransport& { return sim::SimWorld::process().transport(); },
        []() -> DeviceFileTransport& { return sim::SimWorld::process().deviceFile(); },
        [] { sim::SimWorld::shutdownProcess(); }});
#endif
}
}  // namespace

bool Library::onProcessAttach() {
    trace::TraceProvider& provider = trace::TraceProvider::instance();
    provider.start(platform::readLogSwitch(), platform::createTraceBackend(),
                   &platform::currentThreadId);
    VTX_TRACE(trace::Group::EntryPoint, kEvent, trace::place::kLibraryAttached);
    registerBuiltInDevices();
    // Nothing touches the device at load: detection only asks which driver family is
    // installed.
    thePassThru = new (std::nothrow) PassThru(detectInterfaceType());
    return thePassThru != nullptr;
}

void Library::onProcessDetach(bool processTerminating) {
    trace::TraceProvider& provider = trace::TraceProvider::instance();
    VTX_TRACE(trace::Group::EntryPoint, kEvent, trace::place::kLibraryDetaching);
    provider.termTrace();
    if (processTerminating) {
        return;
    }
    delete thePassThru;
    thePassThru = nullptr;
    releaseProcessDevices();
    provider.releaseBackend();
}

PassThru* Library::passThru() {
    return thePassThru;
}

namespace platform {

bool onLibraryLoaded() {
    return Library::onProcessAttach();
}

void onLibraryUnloading(bool processTerminating) {
    Library::onProcessDetach(processTerminating);
}

}  // namespace platform

}  // namespace vtx
