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
    // communication thread.
    static void onProcessDetach();

    static PassThru* passThru();
};

}  // namespace vtx
