// The services the portable core takes from the operating system. Each platform folder
// implements them; nothing else in the core includes a system header of Windows or POSIX.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/InterfaceType.h"
#include "platform/DeviceFileTransport.h"
#include "platform/PipeTransport.h"
#include "trace/TraceBackend.h"

namespace vtx::platform {

// The calling thread's identity as a 32-bit value (the T= field of trace events).
uint32_t currentThreadId();

// The log switch: Windows reads the registry value, POSIX the environment variable
// VTXPTS_ENABLELOG. nullopt when the key or value is missing or unreadable.
std::optional<uint32_t> readLogSwitch();

// The platform's tracing facility, or nullptr where there is none.
std::unique_ptr<trace::TraceBackend> createTraceBackend();

// Microseconds of the platform's monotonic high-resolution clock, computed from the whole
// counter so that the value never jumps back.
uint64_t monotonicMicroseconds();

// The communication thread runs above normal priority.
void raiseCurrentThreadPriority();

// The last resort of a stop sequence. Windows terminates the thread and waits up to waitMs for
// it to be gone (true when it is); POSIX never cancels a thread and answers false, leaving the
// caller to let it go.
bool terminateThread(std::thread& thread, uint32_t waitMs);

// Whether the calling thread is running the library's unload notification (Windows: DllMain's
// process detach, under the loader lock; a thread's exit waits for that lock). The entry point
// marks the notification's start and end. Always false on POSIX, whose threads end without it.
bool insideUnloadNotification();
void markUnloadNotification(bool inside);

// The library's own FileVersion: Windows reads it from the DLL's version resource, POSIX has
// the same text compiled in. False when it cannot be read.
bool readLibraryVersion(std::string& fileVersion);

// Whether the driver package of an interface type (2 kernel driver, 4 WinUSB) is installed for
// the device class. Windows asks SetupAPI and the driver store; POSIX looks for the kernel
// driver's device node (type 2) and for a USB back end (type 4).
bool isDriverPackageInstalled(InterfaceType type);

// A function the program that loaded the library exports under that name, or nullptr.
void* hostProgramFunction(const char* name);

// The platform's WinUSB-style pipe transport, or nullptr where there is none.
std::unique_ptr<PipeTransport> createPipeTransport();

// The platform's transport over the kernel driver's device file ("\\.\VTXUSBCAN" on Windows,
// the character device /dev/vtxusbcan on POSIX), or nullptr where there is none.
std::unique_ptr<DeviceFileTransport> createDeviceFileTransport();

}  // namespace vtx::platform
