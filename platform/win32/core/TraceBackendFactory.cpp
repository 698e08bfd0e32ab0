#include <windows.h>

#include <string>

#include "platform/TraceServices.h"
#include "platform/win32/core/EtwTraceBackend.h"
#include "trace/JsonLinesSession.h"
#include "trace/LogSwitch.h"

namespace vtx::platform {

namespace {

// A variable of the process environment, "" when unset. Read from the process environment
// block rather than the C runtime's copy: this runs inside the DLL's load notification, and
// the host may have set the variable through the system call alone.
std::string environmentValue(const char* name) {
    char small[260];
    DWORD length = GetEnvironmentVariableA(name, small, sizeof small);
    if (length == 0) {
        return {};
    }
    if (length < sizeof small) {
        return std::string(small, length);
    }
    // Too long for the small buffer: length is the size needed, its zero included.
    std::string value(length, '\0');
    length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

}  // namespace

// Windows event tracing, unless VTXPTS_TRACE names a JSON-lines destination: a developer's
// listener without event-tracing tools, and what the tests under Wine read the events from.
std::unique_ptr<trace::TraceBackend> createTraceBackend() {
    std::string destination = environmentValue("VTXPTS_TRACE");
    if (destination.empty()) {
        return std::make_unique<EtwTraceBackend>();
    }
    const uint8_t level =
        trace::parseSessionLevel(environmentValue("VTXPTS_TRACE_LEVEL"), trace::kLevelVerbose);
    return std::make_unique<trace::JsonLinesSession>(std::move(destination), level);
}

}  // namespace vtx::platform
