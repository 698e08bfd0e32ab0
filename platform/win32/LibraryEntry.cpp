// The Windows entry point of the DLL.
#include <windows.h>

#include "api/Library.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            const bool created = vtx::Library::onProcessAttach();
            // No notifications for threads the process creates or ends later.
            DisableThreadLibraryCalls(instance);
            return created ? TRUE : FALSE;
        }
        case DLL_PROCESS_DETACH:
            // A non-null reserved pointer: the process is ending and its other threads have
            // already been terminated; there is nothing left to stop or free.
            vtx::Library::onProcessDetach(reserved != nullptr);
            return TRUE;
        default:
            return TRUE;
    }
}
