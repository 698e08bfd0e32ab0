// Load and unload of the shared object: the counterpart of the Windows entry point's process
// attach and detach. The constructor runs when the object is loaded (at program start or by
// dlopen), the destructor when it is unloaded (dlclose or process exit).
#include "platform/LibraryLifecycle.h"

namespace {

__attribute__((constructor)) void vtxpts32Load() {
    // A failed creation cannot fail a POSIX load; the exported functions then answer
    // ERR_FAILED.
    (void)vtx::platform::onLibraryLoaded();
}

__attribute__((destructor)) void vtxpts32Unload() {
    vtx::platform::onLibraryUnloading(false);
}

}  // namespace
