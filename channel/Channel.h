// One connected J2534 channel: its protocol (with its filters), configuration, periodic messages
// and receive queue. Its transmit side hands frames to the communication thread's transmit
// queue.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "base/CanFrame.h"
#include "base/J2534.h"
#include "channel/PacedClock.h"
#include "channel/PeriodicSet.h"
#include "channel/ReceiveQueue.h"
#include "channel/WaitingCalls.h"
#include "comm/TxTicket.h"
#include "protocol/ChannelMessage.h"
#include "protocol/ChannelProtocol.h"
#include "protocol/ProtocolOutput.h"
#include "protocol/isotp/IsoTpTime.h"

namespace vtx {

class CommunicationThread;

// What ended the wait of a read or a timed write before its messages or its timeout did.
enum class WaitInterruption : uint8_t {
    None,
    ReceiveBufferCleared,  // a read's: the messages it waited among were cleared
    ChannelDisconnected,
    DeviceClosed,
};

// Whether the interruption ended the channel itself (disconnected, or its device closed).
inline bool endsTheChannel(WaitInterruption interrupted) {
    return interrupted == WaitInterruption::ChannelDisconnected ||
           interrupted == WaitInterruption::DeviceClosed;
}

// What kept a write from sending every message it was given, beyond its timeout.
struct TransferShortfall {
    WaitInterruption interrupted = WaitInterruption::None;
    bool queueFull = false;  // messages past the protocol's transmit queue bound were not taken
    // The first of the write's transfers that was given up, and why.
    std::optional<TransmitResult> givenUp;
};

class Channel {
  public:
    // Received messages kept per channel; messages beyond are dropped and counted, so that a
    // channel nobody reads cannot exhaust the caller's memory.
    static constexpr std::size_t kReceiveQueueLimit = 65536;

    Channel(CommunicationThread* commThread, std::unique_ptr<ChannelProtocol> protocol,
            uint32_t flags, uint32_t baudrate);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    uint32_t channelID() const { return channelID_; }
    uint32_t protocolID() const { return protocol_->protocolId(); }
    uint32_t flags() const { return flags_; }
    uint32_t baudrate() const { return baudrate_; }
    uint8_t loopbackFlag() const { return loopbackFlag_.load(); }

    // The channel ends (disconnected, or its device closed): every read and write waiting on it
    // wakes and returns; calls that come later are refused before they reach it.
    void end(WaitInterruption why);
    // The reads and timed writes inside the channel outside the call lock.
    WaitingCalls& waitingCalls() { return waitingCalls_; }

    // Filters: what the protocol says of a request, then the new filter (with its ID), or
    // nothing when the channel has its limit already.
    ProtocolVerdict checkFilter(const FilterRequest& request) const;
    std::optional<FilterRecord> addFilter(const FilterRequest& request);
    bool hasFilter(uint32_t filterId) const;
    void removeFilter(uint32_t filterId);
    std::size_t filterCount() const;
    std::vector<FilterRecord> filters() const;

    // What the protocol says of a message to transmit, or to send periodically.
    ProtocolVerdict checkTransmit(const PASSTHRU_MSG& msg) const {
        return protocol_->checkTransmit(msg);
    }
    ProtocolVerdict checkPeriodic(const PASSTHRU_MSG& msg) const {
        return protocol_->checkPeriodic(msg);
    }

    // Periodic messages: sends the first frame at once; the ID, or 0 when the channel has
    // PeriodicSet::kMax.
    uint32_t addPeriodic(const PASSTHRU_MSG& message, uint32_t intervalMs);
    bool hasPeriodic(uint32_t msgId) const;
    void removePeriodic(uint32_t msgId);

    void setLoopback(uint32_t value);
    // The bus's bit rate changed (DATA_RATE): the protocol's timing follows it.
    void setBitRate(uint32_t bitsPerSecond);

    void clearFilters();
    void clearPeriodics();
    void clearQueueIn();
    void clearQueueOut();

    // Receive path.
    void receiveFrames(CanFrame* frames, uint32_t count, uint8_t echo);
    // At most wanted frames, waiting up to timeout ms for more when fewer are queued; a clear
    // of the receive queue or the channel's end cuts the wait short, and interrupted says so.
    std::vector<ChannelMessage> takeReceived(uint32_t wanted, uint32_t timeout,
                                             WaitInterruption& interrupted);
    WaitInterruption readMessages(PASSTHRU_MSG* msgs, uint32_t* pNumMsgs, uint32_t timeout);

    // Transmit path. Timeout 0: the count becomes the number of messages queued (all, unless
    // the transmit queue is full). Otherwise: the number the device took before the timeout
    // (for a protocol that sends transfers, the number sent whole).
    TransferShortfall writeMessages(PASSTHRU_MSG* msgs, uint32_t* pNumMsgs, uint32_t timeout);
    // Whether the protocol sends transfers it paces itself (ISO 15765), not a frame a message.
    bool sendsTransfers() const { return protocolPaces(); }

    // For the service tick: writes each periodic frame that is due through write.
    void sendDuePeriodics(const std::function<void(CanFrame&)>& write);
    // When the next periodic frame is due; none when no periodic message is enabled.
    std::optional<std::chrono::steady_clock::time_point> nextPeriodicDue();
    // For the service tick: runs the protocol's timers when they are due.
    void serviceProtocol();
    // When the protocol's timers are due next; none when nothing waits.
    std::optional<isotp::TimePoint> nextProtocolTick();

    // The protocol's own parameters of GET_CONFIG and SET_CONFIG (ERR_NOT_SUPPORTED for one it
    // does not own).
    ProtocolVerdict getProtocolConfig(uint32_t parameter, uint32_t& value) const;
    ProtocolVerdict setProtocolConfig(uint32_t parameter, uint32_t value);

  private:
    bool ended() const { return ending_.load() != WaitInterruption::None; }
    // The marker of frames this channel sends: with loopback on, their copies are echoes.
    EchoMarker echoMarker() const {
        return loopbackFlag_ == 1 ? EchoMarker::With : EchoMarker::Without;
    }
    // A transfer a writer waits for: its end once it has come and, for one that ended sent, the
    // ticket of the frames that went to the transmit queue with its last frame (credited as the
    // device takes them).
    struct AwaitedTransfer {
        std::optional<TransmitResult> result;
        std::shared_ptr<TxTicket> lastFrames;
        uint32_t lastFrameCount = 0;
    };

    // What carrying out one protocol output did.
    struct OutputCarried {
        uint32_t appended = 0;  // messages queued for the reader
        uint64_t dropped = 0;   // messages the full receive queue refused
        bool ended = false;     // an awaited transfer ended

        OutputCarried& operator+=(const OutputCarried& other) {
            appended += other.appended;
            dropped += other.dropped;
            ended = ended || other.ended;
            return *this;
        }
    };

    // Caller holds receiveMutex_.
    std::size_t flowControlFilterCount() const;
    void traceAdmission(const CanFrame& frame, Echo echo) const;
    OutputCarried carryOut(ProtocolOutput& out, uint32_t timestamp);
    void announceEndedTransfers();
    bool protocolPaces() const;
    isotp::TimePoint protocolClock();
    uint32_t sendTransfers(std::span<const PASSTHRU_MSG> msgs, uint32_t timeout,
                           TransferShortfall& shortfall);
    bool transfersEnded(const std::vector<uint64_t>& ids) const;
    static bool transferDone(const AwaitedTransfer& transfer);
    uint32_t collectSentTransfers(const std::vector<uint64_t>& ids, TransferShortfall& shortfall);
    uint32_t queueWithEcho(std::span<const CanFrame> frames,
                           const std::shared_ptr<TxTicket>& ticket);
    uint32_t writeAndWait(std::span<const CanFrame> frames, uint32_t timeout);

    const uint32_t channelID_;
    const uint32_t flags_;
    const uint32_t baudrate_;  // kbit/s
    // Written by SET_CONFIG under the call lock, read by writers outside it.
    std::atomic<uint8_t> loopbackFlag_{0};
    // Kept alive by the owner until every waiting call has left (waitingCalls_).
    CommunicationThread* const commThread_;  // not owned
    // Set once, before the waiting calls are woken; their waits watch it.
    std::atomic<WaitInterruption> ending_{WaitInterruption::None};
    WaitingCalls waitingCalls_;

    // Orders the clear operations among themselves.
    std::mutex clearMutex_;

    // Guards receiveQueue_, the protocol's state (filters, transfers, timers),
    // awaitedTransfers_, receiveOutput_, pacedClock_, appendCount_, receiveClears_ and dropped_:
    // the communication thread runs the protocol under it while it appends received messages.
    // The protocol's message rules need no lock: they never change. Lock order: the completion
    // signal's lock (a writer's wait looks at its transfers) before this one, this one before the
    // transmit queue's.
    mutable std::mutex receiveMutex_;
    std::condition_variable received_;  // appends to receiveQueue_
    ReceiveQueue receiveQueue_;
    // What the protocol makes of each received frame, reused from frame to frame so that the
    // receive path allocates nothing for it.
    ProtocolOutput receiveOutput_;
    const std::unique_ptr<ChannelProtocol> protocol_;
    std::map<uint64_t, AwaitedTransfer> awaitedTransfers_;
    // The protocol's time, behind the real one by the waits of the frames it paced.
    PacedClock pacedClock_;
    uint64_t appendCount_ = 0;  // appends so far: a waiting reader sees any append after its count
    uint64_t receiveClears_ = 0;  // clears of the receive queue so far, seen the same way
    uint64_t dropped_ = 0;

    // Locked by itself; the service tick sends its due frames under that lock.
    PeriodicSet periodics_;
};

}  // namespace vtx
