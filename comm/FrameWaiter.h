// A thread that waits on the device for the next received frame while the communication thread
// has nothing to read, so that a quiet bus costs one transfer per wait instead of a poll every
// few milliseconds, and a frame that arrives reaches the loop at once.
//
// The loop arms it after a read that found nothing. The wait asks the device for one packet with
// a reply timeout of kWaitMs, and ends at the first frame or at that timeout. Meanwhile the loop
// keeps writing frames (frame writes do not touch the IN pipe) but reads nothing itself: the
// reads are the waiter's until the loop has collected the wait's end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "base/CanFrame.h"
#include "device/Device.h"
#include "platform/LibraryThread.h"

namespace vtx {

class FrameWaiter {
  public:
    // Long enough that a quiet bus costs little (20 waits a second); an exchange needing the IN
    // pipe does not wait it out, but ends the wait (Device::endFrameWait).
    static constexpr int kWaitMs = 50;

    // How a wait ended.
    struct Ending {
        std::optional<CanFrame> frame;
        // Without a frame, well before its timeout: the device refused the transfer rather than
        // waiting, and should not be asked to wait again at once.
        bool cutShort = false;
    };
    // Called on the waiter's thread as each wait ends, with no lock of the waiter held. It must
    // not block.
    using EndedHandler = std::function<void()>;

    FrameWaiter(Device& device, EndedHandler onEnded);
    // Ends the thread, after the wait under way.
    ~FrameWaiter();
    FrameWaiter(const FrameWaiter&) = delete;
    FrameWaiter& operator=(const FrameWaiter&) = delete;

    // Starts a wait, unless one is under way or its ending has not been collected.
    void arm();
    // A wait has been armed and its ending not yet collected.
    bool busy();
    // The ending of a wait that has ended, leaving the waiter free; none while a wait is under way
    // or when nothing was armed.
    std::optional<Ending> collect();
    // The thread ends after the wait under way, which is asked to end now; nothing is armed any
    // more.
    void stop();

  private:
    enum class State : uint8_t { Free, Armed, Ended };

    void run();
    Ending waitOnDevice();

    Device& device_;
    const EndedHandler onEnded_;

    // Guards state_, ending_ and stopping_.
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Free;
    Ending ending_;
    bool stopping_ = false;

    platform::LibraryThread thread_;
};

}  // namespace vtx
