#include "platform/PlatformServices.h"

namespace vtx::platform {

// Event tracing for Windows arrives as its own back end; until then the provider does not
// register on Windows and no event is written.
std::unique_ptr<trace::TraceBackend> createTraceBackend() {
    return nullptr;
}

}  // namespace vtx::platform
