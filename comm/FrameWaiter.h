// A thread that waits on the device for the next received frame while the communication thread
// has nothing to read, so that a quiet bus costs one transfer per wait instead of a poll every
// few milliseconds, and a frame that arrives reaches the loop at once.
//
// The loop arms it after a read that found nothing. The wait asks the device for one packet with
// a reply timeout of kWaitMs, and ends at the first frame or at that timeout, or early when an
// exchange makes it give way. Meanwhile the loop keeps writing frames (frame writes do not touch
// the IN pipe) but reads nothing itself: the reads are the waiter's until the loop has collected
// the wait's outcome.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/CanFrame.h"
#include "device/Device.h"
#include "platform/LibraryThread.h"

namespace vtx {

class FrameWaiter {
  public:
    // Long enough that a quiet bus costs little (20 waits a second); an exchange needing the IN
    // pipe does not wait it out, but ends the wait (Device::endFrameWait).
    static constexpr int kWaitMs = 50;

    // Called on the waiter's thread as each wait ends, with no lock of the waiter held. It must
    // not block.
    using EndedHandler = std::function<void()>;

    FrameWaiter(Device& device, EndedHandler onEnded);
    // Ends the thread, after the wait under way.
    ~FrameWaiter();
    FrameWaiter(const FrameWaiter&) = delete;
    FrameWaiter& operator=(const FrameWaiter&) = delete;

    // Starts a wait, unless one is under way or its outcome has not been collected.
    void arm();
    // What became of the wait armed last: Busy while it is under way, NoWait when none was armed
    // since the last outcome was collected, otherwise how it ended (as Device::awaitFrame says),
    // which leaves the waiter free. With Frame, frame is the frame the wait brought.
    FrameWaitOutcome collect(CanFrame& frame);
    // The thread ends after the wait under way, which is asked to end now; nothing is armed any
    // more.
    void stop();

  private:
    void run();

    Device& device_;
    const EndedHandler onEnded_;

    // Guards outcome_, frame_ and stopping_.
    std::mutex mutex_;
    std::condition_variable changed_;
    // NoWait while the waiter is free, Busy from the arming to the wait's end, then the wait's
    // outcome until it is collected.
    FrameWaitOutcome outcome_ = FrameWaitOutcome::NoWait;
    CanFrame frame_;  // the frame of a wait whose outcome is Frame
    bool stopping_ = false;

    platform::LibraryThread thread_;
};

}  // namespace vtx
