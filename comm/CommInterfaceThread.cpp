#include "comm/CommInterfaceThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/ErrorTexts.h"
#include "base/J2534.h"
#include "channel/Channel.h"
#include "comm/TxCompletion.h"
#include "device/InterfaceFactory.h"
#include "platform/PlatformServices.h"
#include "trace/TraceProvider.h"

namespace vtx {

using namespace trace;

namespace {
constexpr char kEvent[] = "CommInterfaceThread";
constexpr Group kGroup = Group::CommAndChannel;
constexpr auto kIdleCycle = std::chrono::milliseconds(120);
// A tick that moved nothing waits this long for work before the next cycle, so that an open
// device with nothing to do does not spin.
constexpr auto kIdleTick = std::chrono::milliseconds(2);

void copyErrorText(char* buffer, uint32_t size, const char* text) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    std::strncpy(buffer, text, size - 1);
    buffer[size - 1] = '\0';
}
}  // namespace

CommInterfaceThread::CommInterfaceThread(uint32_t interfacetype, ChannelList* listChannels,
                                         std::atomic<uint32_t>* lastError, char* errorText,
                                         uint32_t errorTextSize)
    : CommInterfaceThread(createInterface(interfacetype), listChannels, lastError, errorText,
                          errorTextSize) {}

CommInterfaceThread::CommInterfaceThread(std::unique_ptr<GenericInterface> commInterface,
                                         ChannelList* listChannels,
                                         std::atomic<uint32_t>* lastError, char* errorText,
                                         uint32_t errorTextSize)
    : commInterface_(std::move(commInterface)),
      listChannels_(listChannels),
      pLastError_(lastError),
      bufferRxPkts_(kReceiveBufferFrames) {
    VTX_TRACE(kGroup, kEvent, "CommInterfaceThread() -S-",
              u32("interfacetype", commInterface_ ? commInterface_->getInterfaceType() : 0));
    pLastError_->store(STATUS_NOERROR);
    if (!commInterface_) {
        pLastError_->store(ERR_FAILED);
        copyErrorText(errorText, errorTextSize, text::kDriverNotInstalled);
    } else {
        commInterface_->setTimeout(kCheckTimeoutMs);
        _connection = commInterface_->checkConnection();
        if (_connection) {
            start();
        } else {
            pLastError_->store(ERR_DEVICE_NOT_CONNECTED);
        }
    }
    VTX_TRACE(kGroup, kEvent, "CommInterfaceThread() -E-");
}

CommInterfaceThread::~CommInterfaceThread() {
    VTX_TRACE(kGroup, kEvent, "~CommInterfaceThread() -S-");
    thread_.end();
    // The interface's close sequence switches the device's outputs off and closes it.
    commInterface_.reset();
    VTX_TRACE(kGroup, kEvent, "~CommInterfaceThread() -E-");
}

void CommInterfaceThread::start() {
    std::unique_lock started(mutexStarted_);
    const uint64_t seen = cycleStarts_;
    running_ = true;
    thread_.start([this] { run(); });
    // Ends at the loop's first cycle start, or when it ends without one.
    waitStarted_.wait(started, [&] { return cycleStarts_ != seen || loopEnded_; });
}

void CommInterfaceThread::stop(std::unique_ptr<CommInterfaceThread>& thread) {
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

bool CommInterfaceThread::wait(uint32_t ms) {
    std::unique_lock started(mutexStarted_);
    return waitStarted_.wait_for(started, std::chrono::milliseconds(ms),
                                 [&] { return loopEnded_ || !running_; });
}

// ---------------------------------------------------------------------------------------------
// The loop

void CommInterfaceThread::run() {
    VTX_TRACE(kGroup, kEvent, "run() -S-");
    platform::raiseCurrentThreadPriority();
    bool stopSnapshot;
    bool pausedSnapshot;
    bool openSnapshot;
    {
        const std::lock_guard flags(semFlags_);
        stopSnapshot = _stop;
        pausedSnapshot = _paused;
        openSnapshot = _openPassThruDevice;
    }
    std::unique_lock pause(mutexPause_);
    while (!stopSnapshot) {
        runCycle(openSnapshot, pausedSnapshot, pause);
        endCycle(stopSnapshot, pausedSnapshot, openSnapshot);
    }
    VTX_TRACE(kGroup, kEvent, "run() -E-", u32("_connection", _connection.load()),
              u32("_openPassThruDevice", openSnapshot), u32("_paused", pausedSnapshot));
    pause.unlock();
    markEnded();
}

bool CommInterfaceThread::runCycle(bool openSnapshot, bool pausedSnapshot,
                                   std::unique_lock<std::mutex>& pause) {
    signalCycleStart();
    VTX_TRACE(kGroup, kEvent, "run() -0-", u32("paused", pausedSnapshot),
              u32("_connection", _connection.load()));
    commInterface_->setTimeout(kCheckTimeoutMs);
    _connection = commInterface_->checkConnection();
    if (!_connection) {
        return false;
    }
    commInterface_->setTimeout(0);
    if (openSnapshot) {
        if (!serviceDevice()) {
            idleUntilWork();
        }
    } else {
        VTX_TRACE(kGroup, kEvent, "run() -1-", u32("paused", pausedSnapshot),
                  u32("_connection", _connection.load()));
        // The cycle at whose end the loop parks does not idle first.
        if (!pausedSnapshot) {
            idleWhileClosed();
        }
    }
    if (pausedSnapshot) {
        VTX_TRACE(kGroup, kEvent, "run() -2-", u32("paused", pausedSnapshot),
                  u32("_connection", _connection.load()));
        // Parked until resumed or stopped; the wait releases mutexPause, which is what lets the
        // pausing caller go on.
        waitPause_.wait(pause, [&] {
            const std::lock_guard flags(semFlags_);
            return !_paused || _stop;
        });
    }
    return true;
}

void CommInterfaceThread::endCycle(bool& stopSnapshot, bool& pausedSnapshot, bool& openSnapshot) {
    const std::lock_guard flags(semFlags_);
    if (!_connection) {
        _openPassThruDevice = false;
        _stop = true;
        pLastError_->store(ERR_DEVICE_NOT_CONNECTED);
    }
    stopSnapshot = _stop;
    pausedSnapshot = _paused;
    openSnapshot = _openPassThruDevice;
}

void CommInterfaceThread::signalCycleStart() {
    const std::lock_guard started(mutexStarted_);
    ++cycleStarts_;
    waitStarted_.notify_all();
}

void CommInterfaceThread::markEnded() {
    running_ = false;
    const std::lock_guard started(mutexStarted_);
    loopEnded_ = true;
    waitStarted_.notify_all();
}

void CommInterfaceThread::idleUntilWork() {
    std::unique_lock queue(semQueueOut_);
    workArrived_.wait_for(queue, kIdleTick, [&] { return workQueued_; });
    workQueued_ = false;
}

// With the device not open for J2534 use the loop only watches the connection, once per idle
// cycle; a pause or a stop ends the wait at once.
void CommInterfaceThread::idleWhileClosed() {
    std::unique_lock queue(semQueueOut_);
    workArrived_.wait_for(queue, kIdleCycle, [&] {
        const std::lock_guard flags(semFlags_);
        return _stop || _paused;
    });
}

// Wakes an idle loop after a flag it waits for has changed. The idle wait checks the flags
// under the queue's lock, so taking that lock first means the loop is not between its check and
// its wait.
void CommInterfaceThread::wakeIdleLoop() {
    { const std::lock_guard queue(semQueueOut_); }
    workArrived_.notify_all();
}

void CommInterfaceThread::setPause(bool paused) {
    {
        const std::lock_guard flags(semFlags_);
        VTX_TRACE(kGroup, kEvent, "setPause() -S-", u32("_paused", _paused), u32("paused", paused));
        if (!running() || paused == _paused) {
            return;
        }
        _paused = paused;
    }
    if (paused) {
        wakeIdleLoop();
    }
    // The loop holds mutexPause at every moment but while parked or ended.
    std::unique_lock pause(mutexPause_);
    VTX_TRACE(kGroup, kEvent, "setPause() -1-", u32("_paused", paused), u32("paused", paused));
    if (paused) {
        VTX_TRACE(kGroup, kEvent, "setPause() -E-", u32("_paused", paused), u32("paused", paused));
        return;
    }
    waitPause_.notify_all();
    std::unique_lock started(mutexStarted_);
    const uint64_t seen = cycleStarts_;
    pause.unlock();
    VTX_TRACE(kGroup, kEvent, "setPause() -2-", u32("_paused", paused), u32("paused", paused));
    // Ends when the loop begins its next cycle, or ends instead.
    waitStarted_.wait(started, [&] { return cycleStarts_ != seen || loopEnded_; });
    VTX_TRACE(kGroup, kEvent, "setPause() -E-", u32("_paused", paused), u32("paused", paused));
}

void CommInterfaceThread::setStop() {
    VTX_TRACE(kGroup, kEvent, "setStop() -S-");
    {
        const std::lock_guard flags(semFlags_);
        _stop = true;
    }
    // A parked loop wakes to end instead of waiting for a resume that may never come.
    waitPause_.notify_all();
    wakeIdleLoop();
    VTX_TRACE(kGroup, kEvent, "setStop() -E-");
}

void CommInterfaceThread::setOpenPassThruDevice(bool open) {
    const std::lock_guard flags(semFlags_);
    _openPassThruDevice = open;
}

// ---------------------------------------------------------------------------------------------
// Service tick

// True when the tick moved anything to or from the device.
bool CommInterfaceThread::serviceDevice() {
    if (!commInterface_ || listChannels_ == nullptr) {
        return false;
    }
    const bool periodic = sendDuePeriodics();
    const bool written = dequeueTxCanFrame();
    const bool received = receive();
    return periodic || written || received;
}

bool CommInterfaceThread::sendDuePeriodics() {
    bool sent = false;
    for (const std::unique_ptr<Channel>& channel : *listChannels_) {
        channel->sendDuePeriodics([&](CanFrame& frame) {
            commInterface_->scritturaPacchettiCan(&frame, 1, false);
            sent = true;
        });
    }
    return sent;
}

// Writes the head of the transmit queue, at most one chunk, in one device write.
bool CommInterfaceThread::dequeueTxCanFrame() {
    std::vector<CanFrame> frames;
    std::vector<std::shared_ptr<TxTicket>> tickets;
    {
        const std::lock_guard queue(semQueueOut_);
        if (queueOutPktsCAN_.empty()) {
            return false;
        }
        const std::size_t n = std::min(queueOutPktsCAN_.size(), writeChunkFrames());
        frames.reserve(n);
        tickets.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            QueuedFrame& head = queueOutPktsCAN_.front();
            frames.push_back(head.frame);
            tickets.push_back(std::move(head.ticket));
            queueOutPktsCAN_.pop_front();
        }
    }
    const int countCan = static_cast<int>(frames.size());
    VTX_TRACE(kGroup, kEvent, "dequeueTxCanFrame() -0-", u32("countCan", countCan));
    const int result = commInterface_->scritturaPacchettiCan(frames.data(), countCan, false);
    // The device took the first result frames; the rest of the chunk is not offered again.
    settleTickets(tickets, static_cast<std::size_t>(std::clamp(result, 0, countCan)));
    if (result != countCan) {
        VTX_TRACE(kGroup, kEvent, "dequeueTxCanFrame() -1-");
        commInterface_->setTimeout(kCheckTimeoutMs);
        if (!commInterface_->checkConnection()) {
            _connection = false;
        }
        commInterface_->setTimeout(0);
    }
    VTX_TRACE(kGroup, kEvent, "dequeueTxCanFrame() -3-");
    return true;
}

// Frames per device write: about 8 ms of a busy bus at the channels' bit rate (frames of 8 data
// bytes take 111 to 131 bits), so that a backlog never holds the loop for longer than that.
std::size_t CommInterfaceThread::writeChunkFrames() const {
    constexpr std::size_t kMinFrames = 8;
    constexpr std::size_t kMaxFrames = 64;
    uint32_t kbps = 0;
    for (const std::unique_ptr<Channel>& channel : *listChannels_) {
        kbps = std::max(kbps, channel->baudrate());
    }
    return std::clamp<std::size_t>(kbps / 16, kMinFrames, kMaxFrames);
}

// Credits each frame's ticket (the first sent of them went out, the others were discarded),
// counts the write (or clear) and wakes the writers that wait.
void CommInterfaceThread::settleTickets(const std::vector<std::shared_ptr<TxTicket>>& tickets,
                                        std::size_t sent) {
    TxCompletion& completion = TxCompletion::process();
    {
        const std::lock_guard completed(completion.mutexTxCompleted);
        for (std::size_t i = 0; i < tickets.size(); ++i) {
            if (tickets[i]) {
                ++(i < sent ? tickets[i]->sent : tickets[i]->discarded);
            }
        }
        ++completion.writesCompleted;
    }
    completion.waitTxCompleted.notify_all();
}

bool CommInterfaceThread::receive() {
    std::size_t filters = 0;
    for (const std::unique_ptr<Channel>& channel : *listChannels_) {
        filters += channel->filterCount();
    }
    if (filters == 0) {
        return false;
    }
    const int n =
        commInterface_->letturaPacchettiCan(bufferRxPkts_.data(), kReceiveBufferFrames, true);
    if (n <= 0) {
        return false;
    }
    for (const std::unique_ptr<Channel>& channel : *listChannels_) {
        channel->enqueueRxCanFrame(bufferRxPkts_.data(), static_cast<uint32_t>(n), 0);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Transmit queue

std::size_t CommInterfaceThread::transmitRoom() {
    const std::lock_guard queue(semQueueOut_);
    return roomLocked();
}

// Caller holds semQueueOut_.
std::size_t CommInterfaceThread::roomLocked() const {
    return kTransmitQueueLimit - std::min(kTransmitQueueLimit, queueOutPktsCAN_.size());
}

std::size_t CommInterfaceThread::enqueueTxCanFrames(std::span<const CanFrame> frames,
                                                    const std::shared_ptr<TxTicket>& ticket) {
    const auto started = std::chrono::steady_clock::now();
    std::size_t queued = 0;
    {
        const std::lock_guard queue(semQueueOut_);
        VTX_TRACE(kGroup, kEvent, "enqueueTxCanFrame() -S-",
                  u32("listPkts.count", static_cast<uint32_t>(frames.size())),
                  u32("queueOutPktsCAN.count", static_cast<uint32_t>(queueOutPktsCAN_.size())),
                  hex("numPktsTransmitted", 0));
        queued = std::min(roomLocked(), frames.size());
        for (std::size_t i = 0; i < queued; ++i) {
            queueOutPktsCAN_.push_back(QueuedFrame{frames[i], ticket});
        }
        if (queued == 0) {
            return 0;
        }
        workQueued_ = true;
        VTX_TRACE(
            kGroup, kEvent, "enqueueTxCanFrame() -E-",
            u32("queueOutPktsCAN.count", static_cast<uint32_t>(queueOutPktsCAN_.size())),
            u32("t", static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - started)
                                               .count())));
    }
    workArrived_.notify_all();
    return queued;
}

void CommInterfaceThread::enqueuePeriodicStart(const CanFrame& frame) {
    {
        const std::lock_guard queue(semQueueOut_);
        queueOutPktsCAN_.push_back(QueuedFrame{frame, nullptr});
        workQueued_ = true;
    }
    workArrived_.notify_all();
}

void CommInterfaceThread::clearQueueOut() {
    std::vector<std::shared_ptr<TxTicket>> tickets;
    {
        const std::lock_guard queue(semQueueOut_);
        tickets.reserve(queueOutPktsCAN_.size());
        for (QueuedFrame& queued : queueOutPktsCAN_) {
            tickets.push_back(std::move(queued.ticket));
        }
        queueOutPktsCAN_.clear();
    }
    settleTickets(tickets, 0);
}

std::size_t CommInterfaceThread::queuedFrames() {
    const std::lock_guard queue(semQueueOut_);
    return queueOutPktsCAN_.size();
}

}  // namespace vtx
