// The load and unload of the library, as each platform's entry point reports them. The entry
// point lives down here because it is operating-system code; what a load and an unload do (build
// and tear down the whole stack) belongs to the top layer, which defines these two functions.
#pragma once

namespace vtx::platform {

// The library was loaded into a process. False fails the load where the platform can.
bool onLibraryLoaded();
// The library is being unloaded. processTerminating: the process itself is ending, and its other
// threads are already gone.
void onLibraryUnloading(bool processTerminating);

}  // namespace vtx::platform
