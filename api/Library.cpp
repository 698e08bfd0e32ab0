#include "api/Library.h"

#include <new>

#include "comm/TxCompletion.h"
#include "device/DeviceSelection.h"
#include "device/GenericInterface.h"
#include "operations/PassThru.h"
#include "trace/TraceProvider.h"

namespace vtx {

namespace {
// Created at process attach, destroyed at detach; the exported functions reach it under the
// API lock. A plain pointer keeps it free of static constructors and destructors, whose order
// against the load and unload notifications is not ours to choose.
constinit PassThru* thePassThru = nullptr;

constexpr char kEvent[] = "DllMain";
}  // namespace

bool Library::onProcessAttach() {
    trace::TraceProvider& provider = trace::TraceProvider::instance();
    provider.initTrace();
    VTX_TRACE(trace::Group::EntryPoint, kEvent, "-DLL_PROCESS_ATTACH-");
    // Nothing touches the device at load: detection only asks which driver family is
    // installed.
    thePassThru = new (std::nothrow) PassThru(GenericInterface::detectInterfaceType());
    return thePassThru != nullptr;
}

void Library::onProcessDetach(bool processTerminating) {
    trace::TraceProvider& provider = trace::TraceProvider::instance();
    VTX_TRACE(trace::Group::EntryPoint, kEvent, "-DLL_PROCESS_DETACH-");
    provider.termTrace();
    if (processTerminating) {
        return;
    }
    delete thePassThru;
    thePassThru = nullptr;
    releaseProcessDevices();
    TxCompletion::releaseProcess();
    provider.releaseBackend();
}

PassThru* Library::passThru() {
    return thePassThru;
}

}  // namespace vtx
