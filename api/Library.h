#pragma once

namespace vtx {

class PassThru;

// The library's life in a process: what happens when it is loaded and unloaded, and the one
// PassThru object that exists in between.
class Library {
  public:
    // Reads the log switch and registers the trace provider, then creates the PassThru object.
    // False when the object could not be created: the load fails.
    static bool onProcessAttach();
    // Unregisters the trace provider, then destroys the PassThru object with its channels and
    // communication thread. When the process is terminating on Windows, its other threads are
    // already gone and nothing is torn down.
    static void onProcessDetach(bool processTerminating = false);

    static PassThru* passThru();
};

}  // namespace vtx
