// The Windows entry point of the DLL.
//
// Unloading with the device open runs under the loader lock. The library's threads park in its
// own code once their work is done and are ended there without a join (see LibraryThread), so
// the unload neither waits for the lock it holds nor unmaps code a thread still runs. When the
// process itself is ending, Windows has already terminated every other thread and nothing is
// torn down: the process exits without waiting for anything of ours.
#include <windows.h>

#include "platform/LibraryLifecycle.h"
#include "platform/ThreadServices.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
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
