// Where the trace provider's switch and events come from on this platform.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "trace/TraceBackend.h"

namespace vtx::platform {

// The log switch: Windows reads the registry value, POSIX the environment variable
// VTXPTS_ENABLELOG. nullopt when the key or value is missing or unreadable.
std::optional<uint32_t> readLogSwitch();

// The platform's tracing facility, or nullptr where there is none.
std::unique_ptr<trace::TraceBackend> createTraceBackend();

}  // namespace vtx::platform
