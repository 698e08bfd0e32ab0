// The services the portable core takes from the operating system. Each platform folder
// implements them; nothing else in the core includes a system header of Windows or POSIX.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "trace/TraceBackend.h"

namespace vtx::platform {

// The calling thread's identity as a 32-bit value (the T= field of trace events).
uint32_t currentThreadId();

// The log switch: Windows reads the registry value, POSIX the environment variable
// VTXPTS_ENABLELOG. nullopt when the key or value is missing or unreadable.
std::optional<uint32_t> readLogSwitch();

// The platform's tracing facility, or nullptr where there is none.
std::unique_ptr<trace::TraceBackend> createTraceBackend();

}  // namespace vtx::platform
