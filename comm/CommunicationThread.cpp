#include "comm/CommunicationThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "device/DeviceFactory.h"
#include "platform/ThreadServices.h"
#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"

namespace vtx {

using namespace trace;

namespace {
constexpr char kEvent[] = "CommInterfaceThread";
constexpr Group kGroup = Group::CommAndChannel;
constexpr auto kIdleCycle = std::chrono::milliseconds(120);
// A tick that read only some frames (frames are coming in) waits this long for work before the
// next read, so that the frames arriving meanwhile come in one read: about 27 frames at 1 Mbit/s.
// The same bounds a tick after a frame wait that did not wait.
constexpr auto kIdleTick = std::chrono::milliseconds(3);
// How often the loop asks whether the device is still there while its transfers go through (on
// Windows each asking enumerates the devices); a failed transfer has it asked at once.
constexpr auto kPresenceCheckInterval = std::chrono::milliseconds(250);

}  // namespace

CommunicationThread::CommunicationThread(InterfaceType type, ServedChannels& channels,
                                         DeviceLostHandler onDeviceLost)
    : device_(createDevice(type)),
      channels_(channels),
      onDeviceLost_(std::move(onDeviceLost)),
      receiveBuffer_(kReceiveBufferFrames),
      transmitQueue_([this] { wakeIdleLoop(); }) {
    VTX_TRACE(kGroup, kEvent, place::kCommThreadCreationStarted,
              u32("interfacetype", traceValue(device_ ? type : InterfaceType::None)));
    if (!device_) {
        startOutcome_ = StartOutcome::NoDriver;
    } else {
        device_->setReplyTimeout(kCheckTimeoutMs);
        connected_ = device_->checkConnection();
        if (connected_) {
            frameWaiter_ =
                std::make_unique<FrameWaiter>(*device_, [this] { wakeForFrameWaitEnd(); });
            start();
        } else {
            startOutcome_ = StartOutcome::DeviceNotConnected;
        }
    }
    VTX_TRACE(kGroup, kEvent, place::kCommThreadCreationEnded);
}

CommunicationThread::~CommunicationThread() {
    VTX_TRACE(kGroup, kEvent, place::kCommThreadDestructionStarted);
    thread_.end();
    // Before the device it reads and the queue lock its ending takes.
    frameWaiter_.reset();
    // The interface's close sequence switches the device's outputs off and closes it.
    connected_ = false;
    device_.reset();
    VTX_TRACE(kGroup, kEvent, place::kCommThreadDestructionEnded);
}

void CommunicationThread::start() {
    {
        const std::lock_guard loop(loopMutex_);
        acceptingCommands_ = true;
    }
    std::unique_lock started(cycleMutex_);
    running_ = true;
    thread_.start([this] { run(); });
    // Ends when the loop begins its first cycle, or when it ends without one.
    cycleStarted_.wait(started, [&] { return loopStarted_ || loopEnded_; });
}

void CommunicationThread::stop(std::unique_ptr<CommunicationThread>& thread) {
    if (!thread) {
        return;
    }
    thread->setStop();
    if (!thread->wait(kStopWaitMs)) {
        if (!thread->thread_.terminate(kTerminateWaitMs)) {
            // Still running and not ours to kill: let it go, never free what it uses.
            (void)thread.release();
            return;
        }
    }
    thread.reset();
}

bool CommunicationThread::wait(uint32_t ms) {
    std::unique_lock started(cycleMutex_);
    return cycleStarted_.wait_for(started, std::chrono::milliseconds(ms),
                                  [&] { return loopEnded_ || !running_; });
}

// ---------------------------------------------------------------------------------------------
// The loop

void CommunicationThread::run() {
    VTX_TRACE(kGroup, kEvent, place::kCommLoopStarted);
    platform::raiseCurrentThreadPriority();
    platform::nameCurrentThread("vtx-comm");
    bool stopSnapshot;
    bool openSnapshot;
    {
        const std::lock_guard flags(flagsMutex_);
        stopSnapshot = stopRequested_;
        openSnapshot = deviceOpenForUse_;
    }
    signalLoopStarted();
    while (!stopSnapshot) {
        runCycle(openSnapshot);
        endCycle(stopSnapshot, openSnapshot);
    }
    VTX_TRACE(kGroup, kEvent, place::kCommLoopEnded, u32("_connection", connected_.load()),
              u32("_openPassThruDevice", openSnapshot));
    endCommands();
    if (frameWaiter_) {
        frameWaiter_->stop();
    }
    markEnded();
}

// A cycle: the presence check, the commands handed in, then the service tick (or, with the
// device not open for J2534 use, an idle wait). A cycle that ran commands does not idle: the
// flags or the channels may have changed.
void CommunicationThread::runCycle(bool openSnapshot) {
    VTX_TRACE(kGroup, kEvent, place::kCommCycleStarted, u32("_connection", connected_.load()));
    if (!checkPresenceWhenDue()) {
        return;
    }
    device_->setReplyTimeout(0);
    if (runCommands()) {
        return;
    }
    if (openSnapshot) {
        if (!serviceDevice()) {
            idleUntilWork();
        }
    } else {
        VTX_TRACE(kGroup, kEvent, place::kCommIdleWhileClosed,
                  u32("_connection", connected_.load()));
        idleWhileClosed();
    }
}

// Runs the commands queued so far, in order (each puts back the reply timeout it changes); true
// when there were any.
bool CommunicationThread::runCommands() {
    // A vector, which allocates nothing while empty: most cycles run no command.
    std::vector<PendingCommand*> due;
    {
        const std::lock_guard loop(loopMutex_);
        due.swap(commands_);
    }
    if (due.empty()) {
        return false;
    }
    VTX_TRACE(kGroup, kEvent, place::kCommCommandsRun,
              u32("commands", static_cast<uint32_t>(due.size())));
    for (PendingCommand* pending : due) {
        (*pending->command)();
        {
            const std::lock_guard loop(loopMutex_);
            pending->done = true;
        }
        commandRan_.notify_all();
    }
    return true;
}

// The loop is ending: no command is taken any more, and those already queued run now, on this
// thread, before it ends.
void CommunicationThread::endCommands() {
    {
        const std::lock_guard loop(loopMutex_);
        acceptingCommands_ = false;
    }
    runCommands();
}

void CommunicationThread::execute(const std::function<void()>& command) {
    PendingCommand pending{&command};
    {
        std::unique_lock loop(loopMutex_);
        if (acceptingCommands_) {
            VTX_TRACE(kGroup, kEvent, place::kCommCommandQueued);
            commands_.push_back(&pending);
            workArrived_.notify_all();
            // Ends when the loop has run it: at its next cycle start, or as it ends.
            commandRan_.wait(loop, [&] { return pending.done; });
            return;
        }
    }
    command();
}

// Asks the device whether it is still there after a failed transfer, or when the last asking
// is kPresenceCheckInterval old; false when it is gone. A frame wait may be under way: closing a
// lost device waits for its read to end.
bool CommunicationThread::checkPresenceWhenDue() {
    const auto now = std::chrono::steady_clock::now();
    const bool failed = device_->takeTransferFailure() || std::exchange(presenceCheckOwed_, false);
    if (!failed && now - lastPresenceCheck_ < kPresenceCheckInterval) {
        return true;
    }
    lastPresenceCheck_ = now;
    const int replyTimeout = device_->setReplyTimeout(kCheckTimeoutMs);
    connected_ = device_->checkConnection();
    device_->setReplyTimeout(replyTimeout);
    return connected_;
}

void CommunicationThread::endCycle(bool& stopSnapshot, bool& openSnapshot) {
    const std::lock_guard flags(flagsMutex_);
    if (!connected_) {
        deviceOpenForUse_ = false;
        stopRequested_ = true;
        if (onDeviceLost_) {
            onDeviceLost_();
        }
    }
    stopSnapshot = stopRequested_;
    openSnapshot = deviceOpenForUse_;
}

void CommunicationThread::signalLoopStarted() {
    const std::lock_guard started(cycleMutex_);
    loopStarted_ = true;
    cycleStarted_.notify_all();
}

void CommunicationThread::markEnded() {
    running_ = false;
    const std::lock_guard started(cycleMutex_);
    loopEnded_ = true;
    cycleStarted_.notify_all();
}

// Until work or a command is queued, a protocol timer or periodic frame is due, a frame wait
// ends, or a stop is asked for. After a read that found nothing, the wait for the next frame is the
// frame waiter's, and the loop sleeps on; otherwise (frames still coming in, a wait
// that did not wait) one idle tick bounds the sleep, so that the frames that arrive meanwhile
// come in one read.
void CommunicationThread::idleUntilWork() {
    const bool arm = frameWaiter_ && lastRead_ == ReadOutcome::Empty &&
                     lastFrameWait_ != FrameWaitOutcome::Refused;
    if (arm) {
        frameWaiter_->arm();
    }
    // A wait ends within its timeout and wakes the loop; the longer bound only keeps the loop
    // going should the transport hang.
    const bool waiting = arm || lastFrameWait_ == FrameWaitOutcome::Busy;
    const auto until = idleUntil(waiting ? std::chrono::steady_clock::duration(kIdleCycle)
                                         : std::chrono::steady_clock::duration(kIdleTick));
    std::unique_lock loop(loopMutex_);
    workArrived_.wait_until(loop, until, [&] {
        return !transmitQueue_.empty() || frameWaitEnded_ || !commands_.empty() || stopRequested();
    });
    frameWaitEnded_ = false;
}

// Now plus most, or the earlier time a protocol timer or periodic frame is due.
std::chrono::steady_clock::time_point CommunicationThread::idleUntil(
    std::chrono::steady_clock::duration most) {
    auto until = std::chrono::steady_clock::now() + most;
    for (const auto& due : {channels_.nextProtocolTick(), channels_.nextPeriodicDue()}) {
        if (due && *due < until) {
            until = *due;
        }
    }
    return until;
}

// Called on the waiter's thread.
void CommunicationThread::wakeForFrameWaitEnd() {
    {
        const std::lock_guard loop(loopMutex_);
        frameWaitEnded_ = true;
    }
    workArrived_.notify_all();
}

// With the device not open for J2534 use the loop only watches the connection, once per idle
// cycle; a command or a stop ends the wait at once.
void CommunicationThread::idleWhileClosed() {
    std::unique_lock loop(loopMutex_);
    workArrived_.wait_for(loop, kIdleCycle, [&] { return !commands_.empty() || stopRequested(); });
}

bool CommunicationThread::stopRequested() {
    const std::lock_guard flags(flagsMutex_);
    return stopRequested_;
}

// Wakes an idle loop after something it waits for has changed (a flag, the transmit queue). The
// idle wait looks under the loop's lock, so taking that lock first means the loop is not between
// its look and its wait.
void CommunicationThread::wakeIdleLoop() {
    { const std::lock_guard loop(loopMutex_); }
    workArrived_.notify_all();
}

void CommunicationThread::setStop() {
    VTX_TRACE(kGroup, kEvent, place::kCommStopRequestStarted);
    {
        const std::lock_guard flags(flagsMutex_);
        stopRequested_ = true;
    }
    wakeIdleLoop();
    VTX_TRACE(kGroup, kEvent, place::kCommStopRequestEnded);
}

void CommunicationThread::setDeviceOpenForUse(bool open) {
    const std::lock_guard flags(flagsMutex_);
    deviceOpenForUse_ = open;
}

// ---------------------------------------------------------------------------------------------
// Service tick

// True when the tick leaves work for a next cycle at once: it wrote frames (more may be queued)
// or its read came back full (the device may hold more). A read that came back short emptied the
// device: asking again at once would mostly find nothing, so the loop idles until work arrives
// or the tick passes, and frames that arrive meanwhile come in one read.
bool CommunicationThread::serviceDevice() {
    if (!device_) {
        return false;
    }
    const bool periodic = sendDuePeriodics();
    channels_.serviceProtocols();
    const bool written = writeQueuedChunk();
    lastRead_ = receive();
    return periodic || written || lastRead_ == ReadOutcome::Full;
}

bool CommunicationThread::sendDuePeriodics() {
    bool sent = false;
    channels_.sendDuePeriodics([&](CanFrame& frame) {
        device_->writeFrames(std::span(&frame, 1));
        sent = true;
    });
    return sent;
}

// Writes the head of the transmit queue, at most one chunk, in one device write.
bool CommunicationThread::writeQueuedChunk() {
    TransmitQueue::Chunk chunk = transmitQueue_.take(writeChunkFrames());
    if (chunk.frames.empty()) {
        return false;
    }
    const int countCan = static_cast<int>(chunk.frames.size());
    VTX_TRACE(kGroup, kEvent, place::kCommChunkWriting, u32("countCan", countCan));
    const int result = device_->writeFrames(chunk.frames);
    // The device took the first result frames; the rest of the chunk is not offered again.
    completion_.settle(chunk.tickets, static_cast<std::size_t>(std::clamp(result, 0, countCan)),
                       std::chrono::steady_clock::now());
    if (result != countCan) {
        VTX_TRACE(kGroup, kEvent, place::kCommChunkCutShort);
        presenceCheckOwed_ = true;
        (void)checkPresenceWhenDue();
    }
    VTX_TRACE(kGroup, kEvent, place::kCommChunkWritten);
    return true;
}

// Frames per device write: about 8 ms of a busy bus at the channels' bit rate (frames of 8 data
// bytes take 111 to 131 bits), so that a backlog never holds the loop for longer than that.
std::size_t CommunicationThread::writeChunkFrames() const {
    constexpr std::size_t kMinFrames = 8;
    constexpr std::size_t kMaxFrames = 64;
    return std::clamp<std::size_t>(channels_.fastestBitRate() / 16, kMinFrames, kMaxFrames);
}

// Reads what the device holds and delivers it, after the frame a finished wait brought. A wait
// that ran to its timeout found the device empty just now: no read follows it. Every other end
// of a wait is followed by a read, and while a wait is under way nothing is read.
CommunicationThread::ReadOutcome CommunicationThread::receive() {
    lastFrameWait_ = FrameWaitOutcome::NoWait;
    if (channels_.filterCount() == 0) {
        return ReadOutcome::NotRead;
    }
    if (frameWaiter_) {
        CanFrame frame;
        lastFrameWait_ = frameWaiter_->collect(frame);
        switch (lastFrameWait_) {
            case FrameWaitOutcome::Busy:
                // The reads are the waiter's until its wait ends, which wakes the loop.
                return ReadOutcome::NotRead;
            case FrameWaitOutcome::Quiet:
                return ReadOutcome::Empty;
            case FrameWaitOutcome::Frame:
                // Before anything read after it.
                channels_.deliverReceived(std::span(&frame, 1));
                break;
            case FrameWaitOutcome::GaveWay:
                // Ended early for an exchange: frames may have come meanwhile.
                break;
            case FrameWaitOutcome::Refused:
                // The device did not wait: it is asked whether it is still there, and polled for
                // a tick before it is asked to wait again.
                presenceCheckOwed_ = true;
                break;
            case FrameWaitOutcome::NoWait:
                break;
        }
    }
    const int n = device_->readFrames(std::span(receiveBuffer_.data(), kReceiveBufferFrames));
    if (n <= 0) {
        return ReadOutcome::Empty;
    }
    channels_.deliverReceived(std::span(receiveBuffer_.data(), static_cast<std::size_t>(n)));
    return n == kReceiveBufferFrames ? ReadOutcome::Full : ReadOutcome::Short;
}

// ---------------------------------------------------------------------------------------------
// Transmit queue

void CommunicationThread::clearQueueOut() {
    completion_.settle(transmitQueue_.clear(), 0, std::chrono::steady_clock::now());
}

}  // namespace vtx
