// The Windows entry point of the DLL.
//
// Unloading with the device open runs under the loader lock. The library's threads park in its
// own code once their work is done and are ended there without a join (see LibraryThread), so
// the unload neither waits for the lock it holds nor unmaps code a thread still runs. When the
// process itself is ending, Windows has already terminated every other thread and nothing is
// torn down: the process exits without waiting for anything of ours.
#include <windows.h>

#include <chrono>

#include "platform/LibraryLifecycle.h"
#include "platform/ThreadServices.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            // The thread library finds the precise system clock in kernel32 at its first
            // reading of the real-time clock, which every timed wait makes, and that lookup
            // takes the loader lock. Were the first reading a library thread's, inside a timed
            // wait with one of our mutexes held, while an unload notification holds the loader
            // lock, the thread would block there, and the unload, taking that mutex to stop the
            // thread, would wait for it for ever. Read it here, where this thread holds the
            // loader lock already.
            (void)std::chrono::system_clock::now();
            const bool created = vtx::platform::onLibraryLoaded();
            // No notifications for threads the process creates or ends later.
            DisableThreadLibraryCalls(instance);
            return created ? TRUE : FALSE;
        }
        case DLL_PROCESS_DETACH:
            // A non-null reserved pointer: the process is ending.
            vtx::platform::markUnloadNotification(true);
            vtx::platform::onLibraryUnloading(reserved != nullptr);
            vtx::platform::markUnloadNotification(false);
            return TRUE;
        default:
            return TRUE;
    }
}
