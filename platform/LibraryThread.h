// A thread started by the library. Its body runs; when the body returns, the thread parks in
// the library's own code until its owner ends it, so that it never leaves that code on its own.
//
// Why: on Windows, a thread's exit takes the loader lock (the process's other DLLs are told
// that the thread detaches). The DLL's unload notification runs under that lock, so it cannot
// join a thread: the join would wait for an exit that waits for the notification. Neither may
// it stop waiting early and let the DLL be unmapped while the thread still runs the DLL's code
// on its way out. A parked thread holds no lock of the process and runs no code of ours, so
// the unload notification ends it with TerminateThread, which needs no loader lock, and waits
// for that. Everywhere else the owner releases the parked thread and joins it as usual.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vtx::platform {

class LibraryThread {
  public:
    LibraryThread() = default;
    // Ends the thread (end()) if it is still there.
    ~LibraryThread();
    LibraryThread(const LibraryThread&) = delete;
    LibraryThread& operator=(const LibraryThread&) = delete;

    // Starts the thread running body. Only on a LibraryThread that has none.
    void start(std::function<void()> body);

    // Ends a thread whose body has returned or is about to (its owner has told it to): releases
    // it from its parking place and joins it; inside the DLL's unload notification, waits up to
    // kParkWaitMs for it to park and terminates it there. Afterwards the object has no thread.
    void end();

    // The last resort of a stop sequence: a body that does not return. Terminates the thread
    // wherever it is and waits up to waitMs for it to be gone; true if it is. POSIX never kills
    // a thread: false, and the thread stays (the caller must keep what it uses alive).
    bool terminate(uint32_t waitMs);

    // Started and not yet ended.
    bool running() const { return thread_.joinable(); }
    std::thread::id id() const { return thread_.get_id(); }

    static constexpr uint32_t kParkWaitMs = 5000;

  private:
    void runThenPark(const std::function<void()>& body);
    bool waitParked(uint32_t ms);

    // Guards parked_ and released_; parking carries both ways.
    std::mutex mutex_;
    std::condition_variable parking_;
    bool parked_ = false;    // the body has returned
    bool released_ = false;  // the owner lets the parked thread return
    std::thread thread_;
};

}  // namespace vtx::platform
