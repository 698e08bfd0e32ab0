// The worker thread of an open device, and the owner of its device interface: it checks in
// every cycle that the device is still there, runs the commands operations hand it (device
// exchanges and changes of the channel list, each as part of a caller's operation, which waits
// for it), and once the device is open for J2534 use runs one service tick per cycle: due
// periodic messages, one bounded chunk of the transmit queue in one device write, and reception
// with distribution to every channel. A backlog so drains a few milliseconds of bus time per
// cycle, with a receive after each chunk, and a command, stop or clear takes effect within one
// chunk.
//
// When a read finds nothing, the wait for the next frame is handed to the frame waiter
// (FrameWaiter), and the loop sleeps until work or a command is queued, a timer is due or the
// wait ends. A wait may still be under way while a command runs: its writes pass it, an exchange
// that needs a reply ends it first (Device::endFrameWait), and the frame it brings is delivered
// before anything read later.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "base/CanFrame.h"
#include "base/InterfaceType.h"
#include "comm/FrameWaiter.h"
#include "comm/ServedChannels.h"
#include "comm/TransmitQueue.h"
#include "comm/TxCompletion.h"
#include "device/Device.h"
#include "platform/LibraryThread.h"

namespace vtx {

class CommunicationThread {
  public:
    // How the construction ended.
    enum class StartOutcome : uint8_t { Running, NoDriver, DeviceNotConnected };
    // Called on the thread when it finds the device gone, just before its loop ends. It runs
    // under the thread's flag lock: it must only record the loss, never block or call back.
    using DeviceLostHandler = std::function<void()>;

    static constexpr int kReceiveBufferFrames = 128;
    static constexpr int kCheckTimeoutMs = 40;
    static constexpr uint32_t kStopWaitMs = 30000;
    static constexpr uint32_t kTerminateWaitMs = 5000;

    // Creates the device of the type, checks the connection and starts the loop; returns once
    // the loop has begun its first cycle. startOutcome() tells whether it did, and if not, why
    // (a type with no device is a missing driver).
    CommunicationThread(InterfaceType type, ServedChannels& channels,
                        DeviceLostHandler onDeviceLost);
    // Only after the loop has ended: see stop().
    ~CommunicationThread();
    CommunicationThread(const CommunicationThread&) = delete;
    CommunicationThread& operator=(const CommunicationThread&) = delete;

    // The stop sequence every owner uses: ask the loop to end, wait up to 30 s, then terminate
    // it and wait up to 5 s more, then destroy it. A thread that cannot be ended (POSIX never
    // cancels one) is let go rather than destroyed under its feet.
    static void stop(std::unique_ptr<CommunicationThread>& thread);

    StartOutcome startOutcome() const { return startOutcome_; }
    // True from a successful construction until the loop ends.
    bool running() const { return running_.load(); }

    // Runs command on the loop's thread at the start of its next cycle, and returns once it has
    // run. The caller waits: the command is part of the caller's operation and may use what the
    // caller holds. Once the loop has ended (or never started) the command runs on the caller's
    // thread, since nobody else touches the device then. Only operations call it, never the loop.
    void execute(const std::function<void()>& command);
    // The loop ends at the end of its current cycle.
    void setStop();
    void setDeviceOpenForUse(bool open);
    // Waits at most ms for the loop to end; true when it has.
    bool wait(uint32_t ms);

    // Whether the device answered the last connection check, from any thread: how the device's
    // presence is asked for outside the device's own threads, which alone touch its handle.
    bool deviceConnected() const { return connected_.load(); }
    Device* device() { return device_.get(); }
    // Settled after every device write of queued frames and every clear of the queue.
    TxCompletion& completion() { return completion_; }

    // The frames the channels hand the device; the loop writes them a chunk per service tick.
    TransmitQueue& transmitQueue() { return transmitQueue_; }
    // Discards every queued frame; their tickets count them as discarded.
    void clearQueueOut();

  private:
    // A command handed to the loop, and whether it has run.
    struct PendingCommand {
        const std::function<void()>* command;
        bool done = false;
    };

    void start();
    void run();
    void runCycle(bool openSnapshot);
    void endCycle(bool& stopSnapshot, bool& openSnapshot);
    bool runCommands();
    void endCommands();
    void signalLoopStarted();
    void markEnded();
    void idleUntilWork();
    std::chrono::steady_clock::time_point idleUntil(std::chrono::steady_clock::duration most);
    void wakeForFrameWaitEnd();
    bool checkPresenceWhenDue();
    void idleWhileClosed();
    bool stopRequested();
    void wakeIdleLoop();

    // Service tick.
    bool serviceDevice();
    bool sendDuePeriodics();
    bool writeQueuedChunk();
    std::size_t writeChunkFrames() const;
    // What the tick's receive did.
    enum class ReadOutcome : uint8_t {
        NotRead,  // no filter anywhere (frames stay in the device), or a frame wait under way
        Empty,
        Short,  // some frames, fewer than asked for
        Full,
    };
    ReadOutcome receive();

    std::unique_ptr<Device> device_;
    ServedChannels& channels_;  // the owner's; changed only by commands or while stopped
    const DeviceLostHandler onDeviceLost_;
    StartOutcome startOutcome_ = StartOutcome::Running;  // set by the constructor only
    TxCompletion completion_;
    // Null when the device's reads cannot wait beside its writes.
    std::unique_ptr<FrameWaiter> frameWaiter_;
    // Used by the loop only.
    std::vector<CanFrame> receiveBuffer_;
    std::chrono::steady_clock::time_point lastPresenceCheck_{};
    bool presenceCheckOwed_ = false;  // a transfer failed; check at the next cycle start
    ReadOutcome lastRead_ = ReadOutcome::NotRead;
    // What the last receive collected of the frame waiter (NoWait when it did not ask).
    FrameWaitOutcome lastFrameWait_ = FrameWaitOutcome::NoWait;

    // Guards stopRequested_ and deviceOpenForUse_; never held while waiting for anything. Lock
    // order: loopMutex_ before this one (the idle waits check the flags).
    std::mutex flagsMutex_;
    bool stopRequested_ = false;
    bool deviceOpenForUse_ = false;

    // Guards loopStarted_ and loopEnded_; cycleStarted_ carries the loop's start and its end.
    std::mutex cycleMutex_;
    std::condition_variable cycleStarted_;
    bool loopStarted_ = false;
    bool loopEnded_ = false;

    // Guards frameWaitEnded_, commands_ and acceptingCommands_; the loop's idle waits look at
    // them, and at the transmit queue and the stop flag, under it. Lock order: before the flag
    // lock and the transmit queue's. Never held during a device transfer or a command.
    std::mutex loopMutex_;
    std::condition_variable workArrived_;
    std::condition_variable commandRan_;
    std::vector<PendingCommand*> commands_;  // in the order queued
    bool acceptingCommands_ = false;         // from the loop's start until it has ended
    bool frameWaitEnded_ = false;
    // Wakes the loop (wakeIdleLoop) when frames are queued.
    TransmitQueue transmitQueue_;

    // The last connection check's answer, set by the constructor and the loop after each check
    // and cleared before the device closes at destruction. While it is true the handle is open,
    // but for the check that finds the device gone and closes it before its answer is set; a
    // check that fails with the device still there leaves the handle open and this false. Only
    // the owner sets it; any thread reads it (deviceConnected).
    std::atomic<bool> connected_{false};
    std::atomic<bool> running_{false};
    platform::LibraryThread thread_;
};

}  // namespace vtx
