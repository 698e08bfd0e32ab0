// What the library's threads take from the operating system.
#pragma once

#include <cstdint>
#include <thread>

namespace vtx::platform {

// The calling thread's identity as a 32-bit value (the T= field of trace events).
uint32_t currentThreadId();

// The communication thread runs above normal priority (Windows) or with timed waits that end on
// time (Linux: a timer slack of 1 us).
void raiseCurrentThreadPriority();

// Names the calling thread for debuggers and per-thread CPU accounting (Linux: at most 15
// characters are kept; Windows: only where the system offers thread descriptions).
void nameCurrentThread(const char* name);

// The last resort of a stop sequence. Windows terminates the thread and waits up to waitMs for
// it to be gone (true when it is); POSIX never cancels a thread and answers false, leaving the
// caller to let it go.
bool terminateThread(std::thread& thread, uint32_t waitMs);

// Whether the calling thread is running the library's unload notification (Windows: DllMain's
// process detach, under the loader lock; a thread's exit waits for that lock). The entry point
// marks the notification's start and end. Always false on POSIX, whose threads end without it.
bool insideUnloadNotification();

void markUnloadNotification(bool inside);

}  // namespace vtx::platform
