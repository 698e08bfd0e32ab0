#include "channel/Channel.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "channel/ObjectIds.h"
#include "comm/CommunicationThread.h"
#include "platform/Clock.h"
#include "protocol/ByteOrder.h"
#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"
#include "trace/TraceTimer.h"

namespace vtx {

using namespace trace;

namespace {
constexpr char kEvent[] = "Channel";
constexpr Group kGroup = Group::CommAndChannel;

uint32_t receiveTimestamp() {
    return static_cast<uint32_t>(platform::monotonicMicroseconds());
}

// The identifier word of a received message as its frame carried it: the echo marker set on a
// loopback copy.
uint32_t identifierWord(const ChannelMessage& message) {
    const uint32_t id = readBigEndian32(message.data.size() >= 4 ? message.data.data() : nullptr);
    return (message.rxStatus & TX_MSG_TYPE) != 0 ? id | kEchoMarker : id;
}
}  // namespace

Channel::Channel(CommunicationThread* commThread, std::unique_ptr<ChannelProtocol> protocol,
                 uint32_t flags, uint32_t baudrate)
    : channelID_(nextObjectId()),
      flags_(flags),
      baudrate_(baudrate),
      commThread_(commThread),
      protocol_(std::move(protocol)) {
    protocol_->setBitRate(baudrate * 1000);
    VTX_TRACE(kGroup, kEvent, place::kChannelCreationStarted,
              u32("protocolID", protocol_->protocolId()), hex("flags", flags),
              u32("baudrate", baudrate));
    VTX_TRACE(kGroup, kEvent, place::kChannelCreationEnded, u32("channelID", channelID_));
}

Channel::~Channel() {
    VTX_TRACE(kGroup, kEvent, place::kChannelDestructionStarted, u32("channelID", channelID_));
    VTX_TRACE(kGroup, kEvent, place::kChannelDestructionEnded, u32("channelID", channelID_));
}

// Wakes the readers (on the receive queue's signal) and the writers (on the completion signal),
// each after taking its lock, so that a waiter is either before its check (and sees the end) or
// inside its wait (and is notified).
void Channel::end(WaitInterruption why) {
    ending_.store(why);
    { const std::lock_guard lock(receiveMutex_); }
    received_.notify_all();
    announceEndedTransfers();
}

// ---------------------------------------------------------------------------------------------
// Filters

ProtocolVerdict Channel::checkFilter(const FilterRequest& request) const {
    const std::lock_guard lock(receiveMutex_);
    return protocol_->checkFilter(request);
}

std::optional<FilterRecord> Channel::addFilter(const FilterRequest& request) {
    const std::lock_guard lock(receiveMutex_);
    const std::vector<FilterRecord>& filters = protocol_->filters();
    VTX_TRACE(kGroup, kEvent, place::kChannelFilterAddStarted,
              u32("filterCnt", static_cast<uint32_t>(filters.size())),
              u32("numFlowCtrlFilter", static_cast<uint32_t>(flowControlFilterCount())));
    const FilterRecord* added = protocol_->addFilter(request, nextObjectId());
    if (added == nullptr) {
        return std::nullopt;
    }
    const FilterRecord record = *added;
    VTX_TRACE(kGroup, kEvent, place::kChannelFilterAddEnded,
              u32("filterCnt", static_cast<uint32_t>(filters.size())),
              u32("numFlowCtrlFilter", static_cast<uint32_t>(flowControlFilterCount())));
    return record;
}

bool Channel::hasFilter(uint32_t filterId) const {
    const std::lock_guard lock(receiveMutex_);
    return protocol_->hasFilter(filterId);
}

void Channel::removeFilter(uint32_t filterId) {
    const std::lock_guard lock(receiveMutex_);
    VTX_TRACE(kGroup, kEvent, place::kChannelFilterRemoveStarted, hex("filterId", filterId),
              u32("filterCnt", static_cast<uint32_t>(protocol_->filters().size())),
              u32("numFlowCtrlFilter", static_cast<uint32_t>(flowControlFilterCount())));
    protocol_->removeFilter(filterId);
    VTX_TRACE(kGroup, kEvent, place::kChannelFilterRemoveEnded,
              u32("filterCnt", static_cast<uint32_t>(protocol_->filters().size())),
              u32("numFlowCtrlFilter", static_cast<uint32_t>(flowControlFilterCount())));
}

// Caller holds receiveMutex_.
std::size_t Channel::flowControlFilterCount() const {
    const std::vector<FilterRecord>& filters = protocol_->filters();
    return static_cast<std::size_t>(
        std::count_if(filters.begin(), filters.end(),
                      [](const FilterRecord& f) { return f.filterType == FLOW_CONTROL_FILTER; }));
}

std::size_t Channel::filterCount() const {
    const std::lock_guard lock(receiveMutex_);
    return protocol_->filters().size();
}

std::vector<FilterRecord> Channel::filters() const {
    const std::lock_guard lock(receiveMutex_);
    return protocol_->filters();
}

// ---------------------------------------------------------------------------------------------
// Periodic messages

uint32_t Channel::addPeriodic(const PASSTHRU_MSG& message, uint32_t intervalMs) {
    VTX_TRACE(kGroup, kEvent, place::kChannelPeriodicAddStarted, u32("channelID", channelID_),
              u32("count", static_cast<uint32_t>(periodics_.size())));
    if (periodics_.size() >= PeriodicSet::kMax) {
        return 0;
    }
    // The first frame goes out at once; only it is echoed.
    CanFrame frame = protocol_->frameOf(message, echoMarker());
    if (loopbackFlag_.load() == 1) {
        receiveFrames(&frame, 1, 1);
    }
    if (commThread_ != nullptr) {
        commThread_->transmitQueue().pushBeyondLimit(std::span(&frame, 1), nullptr);
    }
    const uint32_t id = periodics_.add(message, intervalMs, std::chrono::steady_clock::now());
    VTX_TRACE(kGroup, kEvent, place::kChannelPeriodicAddEnded, u32("channelID", channelID_),
              u32("count", static_cast<uint32_t>(periodics_.size())));
    return id;
}

bool Channel::hasPeriodic(uint32_t msgId) const {
    return periodics_.contains(msgId);
}

void Channel::removePeriodic(uint32_t msgId) {
    periodics_.remove(msgId);
}

void Channel::sendDuePeriodics(const std::function<void(CanFrame&)>& write) {
    periodics_.sendDue(std::chrono::steady_clock::now(), [&](const PASSTHRU_MSG& message) {
        CanFrame frame = protocol_->frameOf(message, EchoMarker::Without);
        write(frame);
    });
}

std::optional<std::chrono::steady_clock::time_point> Channel::nextPeriodicDue() {
    return periodics_.nextDue();
}

void Channel::setBitRate(uint32_t bitsPerSecond) {
    const std::lock_guard lock(receiveMutex_);
    protocol_->setBitRate(bitsPerSecond);
}

void Channel::setLoopback(uint32_t value) {
    VTX_TRACE(kGroup, kEvent, place::kChannelLoopbackSet, hex("loopbackFlag", loopbackFlag_.load()),
              hex("value", value));
    loopbackFlag_.store(static_cast<uint8_t>(value));
}

// ---------------------------------------------------------------------------------------------
// Clear operations

void Channel::clearFilters() {
    const std::lock_guard clear(clearMutex_);
    const std::lock_guard lock(receiveMutex_);
    protocol_->clearFilters();
}

void Channel::clearPeriodics() {
    const std::lock_guard clear(clearMutex_);
    periodics_.clear();
}

// A reader waiting for messages wakes: those it waited among are gone.
void Channel::clearQueueIn() {
    const std::lock_guard clear(clearMutex_);
    {
        const std::lock_guard lock(receiveMutex_);
        receiveQueue_.clear();
        protocol_->abortReceptions();
        ++receiveClears_;
    }
    received_.notify_all();
}

// The frames queued for the device go, and so do the protocol's transfers under way.
void Channel::clearQueueOut() {
    const std::lock_guard clear(clearMutex_);
    if (commThread_ != nullptr) {
        commThread_->clearQueueOut();
    }
    bool ended = false;
    {
        const std::lock_guard lock(receiveMutex_);
        ProtocolOutput out;
        protocol_->abortTransmits(out);
        ended = carryOut(out, receiveTimestamp()).ended;
    }
    if (ended) {
        announceEndedTransfers();
    }
}

// ---------------------------------------------------------------------------------------------
// Receive path

void Channel::receiveFrames(CanFrame* frames, uint32_t count, uint8_t echo) {
    if (frames == nullptr || count == 0) {
        return;
    }
    const Echo echoKind = echo == 1 ? Echo::Yes : Echo::No;
    OutputCarried carried;
    {
        const std::lock_guard lock(receiveMutex_);
        const isotp::TimePoint now = protocolClock();
        // The frames of one read came in one transfer: they share its time of arrival.
        const uint32_t arrival = receiveTimestamp();
        for (uint32_t i = 0; i < count; ++i) {
            CanFrame& frame = frames[i];
            frame.Timestamp = arrival;
            traceAdmission(frame, echoKind);
            receiveOutput_.clear();
            protocol_->receiveFrame(frame, echoKind, now, receiveOutput_);
            carried += carryOut(receiveOutput_, frame.Timestamp);
        }
        VTX_TRACE(kGroup, kEvent, place::kChannelFramesQueued,
                  i32("channelID", static_cast<int32_t>(channelID_)),
                  u32("queueInPktsCAN.count", static_cast<uint32_t>(receiveQueue_.size())),
                  u32("numPktsInQueue", carried.appended));
        if (carried.dropped > 0) {
            VTX_TRACE(kGroup, kEvent, place::kChannelFramesDropped,
                      i32("channelID", static_cast<int32_t>(channelID_)),
                      u32("dropped", static_cast<uint32_t>(dropped_)));
        }
    }
    if (carried.appended > 0) {
        received_.notify_all();
    }
    if (carried.ended) {
        announceEndedTransfers();
    }
}

// The event of a frame a filter admits, with that filter; computed only while it is traced.
// Caller holds receiveMutex_.
void Channel::traceAdmission(const CanFrame& frame, Echo echo) const {
    if (!trace::TraceProvider::instance().admits(kGroup)) {
        return;
    }
    const FilterRecord* filter = protocol_->admittingFilter(frame, echo);
    if (filter == nullptr) {
        return;
    }
    VTX_TRACE(kGroup, kEvent, place::kChannelFrameAdmitted,
              i32("channelID", static_cast<int32_t>(channelID_)), hex("filterId", filter->id),
              u32("Timestamp", frame.Timestamp), hex("code", filter->code),
              hex("mask", filter->mask), hex("idCan", frame.idCan),
              u32("lenDataCan", frame.lenDataCan),
              u32("count", static_cast<uint32_t>(receiveQueue_.size())));
}

// Carries out what a protocol call produced: its messages into the receive queue (stamped with
// timestamp when the protocol left them unstamped), its frames onto the transmit queue, its
// ended transfers to the writer that waits for them. Caller holds receiveMutex_ (before the
// transmit queue's lock).
Channel::OutputCarried Channel::carryOut(ProtocolOutput& out, uint32_t timestamp) {
    OutputCarried carried;
    for (ChannelMessage& message : out.messages) {
        if (message.timestamp == 0) {
            message.timestamp = timestamp;
        }
        if (receiveQueue_.size() >= kReceiveQueueLimit) {
            ++dropped_;
            ++carried.dropped;
        } else {
            receiveQueue_.push(std::move(message));
            ++carried.appended;
        }
    }
    if (carried.appended > 0) {
        ++appendCount_;
    }
    // A transfer that ended sent is done once the device has taken the frames that carried its
    // end (the last one among them).
    std::shared_ptr<TxTicket> ticket;
    for (const TransmitEnd& end : out.ended) {
        const auto awaited = awaitedTransfers_.find(end.transmitId);
        if (awaited == awaitedTransfers_.end()) {
            continue;
        }
        awaited->second.result = end.result;
        if (end.sent() && !out.frames.empty()) {
            if (!ticket) {
                ticket = std::make_shared<TxTicket>();
            }
            awaited->second.lastFrames = ticket;
            awaited->second.lastFrameCount = static_cast<uint32_t>(out.frames.size());
        }
        carried.ended = true;
    }
    if (!out.frames.empty() && commThread_ != nullptr) {
        if (!ticket) {
            ticket = std::make_shared<TxTicket>();
        }
        commThread_->transmitQueue().pushBeyondLimit(out.frames, ticket);
        pacedClock_.handedOut(ticket, static_cast<uint32_t>(out.frames.size()));
    }
    return carried;
}

// Wakes a writer waiting for its transfers.
void Channel::announceEndedTransfers() {
    if (commThread_ != nullptr) {
        commThread_->completion().wake();
    }
}

// ---------------------------------------------------------------------------------------------
// Protocol timers

void Channel::serviceProtocol() {
    if (!protocolPaces()) {
        return;
    }
    OutputCarried carried;
    {
        const std::lock_guard lock(receiveMutex_);
        const isotp::TimePoint now = protocolClock();
        const std::optional<isotp::TimePoint> due = protocol_->nextTickAt();
        if (!due || *due > now) {
            return;
        }
        ProtocolOutput out;
        protocol_->tick(now, out);
        carried = carryOut(out, receiveTimestamp());
    }
    if (carried.appended > 0) {
        received_.notify_all();
    }
    if (carried.ended) {
        announceEndedTransfers();
    }
}

// Whether the protocol sends transfers it paces itself, with timers; one that sends a frame per
// message (CAN) hands out no frames of its own, so its clock and timers never come into play.
bool Channel::protocolPaces() const {
    return protocol_->transmitStyle() == ChannelProtocol::TransmitStyle::Transfers;
}

// The time the protocol runs on (PacedClock). Caller holds receiveMutex_.
isotp::TimePoint Channel::protocolClock() {
    return pacedClock_.read(std::chrono::steady_clock::now());
}

std::optional<isotp::TimePoint> Channel::nextProtocolTick() {
    if (!protocolPaces()) {
        return std::nullopt;
    }
    const std::lock_guard lock(receiveMutex_);
    const std::optional<isotp::TimePoint> due = protocol_->nextTickAt();
    if (!due) {
        return std::nullopt;
    }
    return pacedClock_.realTimeOf(*due, std::chrono::steady_clock::now());
}

ProtocolVerdict Channel::getProtocolConfig(uint32_t parameter, uint32_t& value) const {
    const std::lock_guard lock(receiveMutex_);
    return protocol_->getConfig(parameter, value);
}

ProtocolVerdict Channel::setProtocolConfig(uint32_t parameter, uint32_t value) {
    const std::lock_guard lock(receiveMutex_);
    return protocol_->setConfig(parameter, value);
}

std::vector<ChannelMessage> Channel::takeReceived(uint32_t wanted, uint32_t timeout,
                                                  WaitInterruption& interrupted) {
    if (wanted == 0) {
        return {};
    }
    const trace::TraceTimer timer(kGroup);
    std::unique_lock lock(receiveMutex_);
    // The read begins here: an append or a clear from now on is one it sees.
    const uint64_t seenAppends = appendCount_;
    const uint64_t seenClears = receiveClears_;
    lock.unlock();
    VTX_TRACE(kGroup, kEvent, place::kChannelReadStarted, u32("numPktsCAN", wanted),
              u32("timeout", timeout));
    lock.lock();
    bool resRx = true;
    if (receiveQueue_.size() < wanted && timeout != 0) {
        // One wait: it ends at the first append since the read began, at a clear, at the
        // channel's end, or at the timeout.
        resRx = received_.wait_for(lock, std::chrono::milliseconds(timeout), [&] {
            return appendCount_ != seenAppends || receiveClears_ != seenClears || ended();
        });
        if (ended()) {
            interrupted = ending_.load();
        } else if (receiveClears_ != seenClears) {
            interrupted = WaitInterruption::ReceiveBufferCleared;
        }
    }
    // Sized by what is taken, never by what was asked for: a caller may ask for any count. A
    // channel that has ended gives nothing more.
    const auto n = endsTheChannel(interrupted)
                       ? 0u
                       : static_cast<uint32_t>(std::min<std::size_t>(receiveQueue_.size(), wanted));
    std::vector<ChannelMessage> messages;
    messages.reserve(n);
    receiveQueue_.takeFront(n, messages);
    lock.unlock();
    VTX_TRACE(kGroup, kEvent, place::kChannelReadEnded, u32("resRx", resRx), u32("numPktsCAN", n),
              u32("t", timer.elapsed()), u32("count", wanted));
    return messages;
}

WaitInterruption Channel::readMessages(PASSTHRU_MSG* msgs, uint32_t* pNumMsgs, uint32_t timeout) {
    WaitInterruption interrupted = WaitInterruption::None;
    if (msgs == nullptr || pNumMsgs == nullptr || *pNumMsgs == 0) {
        return interrupted;
    }
    const trace::TraceTimer timer(kGroup);
    VTX_TRACE(kGroup, kEvent, place::kChannelDeliveryStarted, u32("pNumMsgs", *pNumMsgs),
              u32("timeout", timeout));
    const std::vector<ChannelMessage> messages = takeReceived(*pNumMsgs, timeout, interrupted);
    const auto delivered = static_cast<uint32_t>(messages.size());
    VTX_TRACE(kGroup, kEvent, place::kChannelFramesTaken, u32("num_pkt_can", delivered),
              u32("pNumMsgs", *pNumMsgs));
    for (uint32_t i = 0; i < delivered; ++i) {
        messages[i].toPassThru(protocolID(), msgs[i]);
        VTX_TRACE(kGroup, kEvent, place::kChannelMessageDelivered,
                  u32("Timestamp", msgs[i].Timestamp), hex("idCan", identifierWord(messages[i])),
                  u32("DataSize", msgs[i].DataSize), hex("TxFlags", msgs[i].TxFlags),
                  hex("RxStatus", msgs[i].RxStatus));
    }
    *pNumMsgs = delivered;
    VTX_TRACE(kGroup, kEvent, place::kChannelDeliveryEnded, u32("NumMsgs", delivered),
              u32("t", timer.elapsed()));
    return interrupted;
}

// ---------------------------------------------------------------------------------------------
// Transmit path

TransferShortfall Channel::writeMessages(PASSTHRU_MSG* msgs, uint32_t* pNumMsgs, uint32_t timeout) {
    TransferShortfall shortfall;
    if (msgs == nullptr || pNumMsgs == nullptr || *pNumMsgs == 0) {
        return shortfall;
    }
    const trace::TraceTimer timer(kGroup);
    VTX_TRACE(kGroup, kEvent, place::kChannelWriteStarted, u32("NumMsgs", *pNumMsgs),
              u32("timeout", timeout), u32("loopbackFlag", loopbackFlag_.load()));
    if (protocolPaces()) {
        *pNumMsgs = sendTransfers(std::span(msgs, *pNumMsgs), timeout, shortfall);
        shortfall.interrupted = ending_.load();
        return shortfall;
    }
    std::vector<CanFrame> frames;
    frames.reserve(*pNumMsgs);
    for (uint32_t i = 0; i < *pNumMsgs; ++i) {
        frames.push_back(protocol_->frameOf(msgs[i], echoMarker()));
    }
    if (frames.empty() || commThread_ == nullptr) {
        return shortfall;
    }
    if (timeout == 0) {
        VTX_TRACE(kGroup, kEvent, place::kChannelQueueingWithoutWait);
        *pNumMsgs = queueWithEcho(frames, nullptr);
        return shortfall;
    }
    const uint32_t sent = writeAndWait(frames, timeout);
    *pNumMsgs = sent;
    shortfall.interrupted = ending_.load();
    VTX_TRACE(kGroup, kEvent, place::kChannelWriteEnded, u32("numPktsTransmitted", sent),
              u32("pNumMsgs", *pNumMsgs), u32("t", timer.elapsed()));
    return shortfall;
}

// Queues the frames that fit, each echoed first when loopback is on, so that an echo always
// comes before anything the bus answers to its frame. Returns how many were queued.
uint32_t Channel::queueWithEcho(std::span<const CanFrame> frames,
                                const std::shared_ptr<TxTicket>& ticket) {
    const bool echoed = loopbackFlag_.load() == 1;
    return static_cast<uint32_t>(
        commThread_->transmitQueue().admit(frames, ticket, [&](std::size_t fits) {
            for (std::size_t i = 0; echoed && i < fits; ++i) {
                CanFrame echo = frames[i];
                receiveFrames(&echo, 1, 1);
            }
        }));
}

// Queues the frames (more as room appears, when they do not all fit at once) and waits until
// the device has taken every one, one of them was discarded, or the timeout has passed. Returns
// how many of them the device took.
uint32_t Channel::writeAndWait(std::span<const CanFrame> frames, uint32_t timeout) {
    TxCompletion& completion = commThread_->completion();
    const auto ticket = std::make_shared<TxTicket>();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    std::size_t queued = 0;
    while (!ended()) {
        // Read before looking for room: a write settled after that look wakes the wait.
        const uint64_t seenWrites = completion.writesSettled();
        if (queued < frames.size()) {
            queued += queueWithEcho(frames.subspan(queued), ticket);
        }
        const bool allQueued = queued == frames.size();
        // Once every frame is queued, ends when all are settled; before, at the next write the
        // thread settles (or clear), which is what makes room. The channel's end ends it too.
        const bool settled = completion.waitUntil(deadline, [&] {
            return ended() || (allQueued ? ticket->resolved() == queued
                                         : completion.writesSettled() != seenWrites);
        });
        if (!settled || ticket->discarded() != 0 || (allQueued && ticket->resolved() == queued)) {
            break;
        }
    }
    VTX_TRACE(kGroup, kEvent, place::kChannelWriteSettled);
    return ticket->sent();
}

// Starts one transfer per message, in order, as long as the protocol's transmit queue has room.
// Timeout 0: the call returns at once with the number taken. Otherwise it waits until each of
// its transfers has ended or the timeout has passed, and returns how many were sent whole.
uint32_t Channel::sendTransfers(std::span<const PASSTHRU_MSG> msgs, uint32_t timeout,
                                TransferShortfall& shortfall) {
    const bool waits = timeout != 0 && commThread_ != nullptr;
    std::vector<uint64_t> ids;
    ids.reserve(msgs.size());
    OutputCarried carried;
    {
        const std::lock_guard lock(receiveMutex_);
        const isotp::TimePoint now = protocolClock();
        const Loopback loopback = loopbackFlag_.load() == 1 ? Loopback::On : Loopback::Off;
        ProtocolOutput out;
        for (const PASSTHRU_MSG& msg : msgs) {
            const uint64_t id = protocol_->startTransmit(msg, loopback, now, out);
            if (id == 0) {
                shortfall.queueFull = true;
                break;
            }
            ids.push_back(id);
            if (waits) {
                awaitedTransfers_.emplace(id, AwaitedTransfer{});
            }
        }
        carried = carryOut(out, receiveTimestamp());
    }
    if (carried.appended > 0) {
        received_.notify_all();
    }
    if (!waits) {
        return static_cast<uint32_t>(ids.size());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    // Ends when every transfer has ended, or at the deadline: a transfer ends when the device has
    // taken its last frame (each device write wakes the wait) or it is given up (which is
    // announced).
    commThread_->completion().waitUntil(deadline, [&] { return transfersEnded(ids) || ended(); });
    return collectSentTransfers(ids, shortfall);
}

// Called under the completion signal's lock.
bool Channel::transfersEnded(const std::vector<uint64_t>& ids) const {
    const std::lock_guard lock(receiveMutex_);
    return std::all_of(ids.begin(), ids.end(), [&](uint64_t id) {
        const auto awaited = awaitedTransfers_.find(id);
        return awaited != awaitedTransfers_.end() && transferDone(awaited->second);
    });
}

bool Channel::transferDone(const AwaitedTransfer& transfer) {
    return transfer.result.has_value() &&
           (!transfer.lastFrames || transfer.lastFrames->resolved() >= transfer.lastFrameCount);
}

// How many of the transfers the device took whole; they are no longer awaited. The first one
// given up tells the shortfall why (a transfer still under way, or whose last frames the device
// dropped, tells nothing).
uint32_t Channel::collectSentTransfers(const std::vector<uint64_t>& ids,
                                       TransferShortfall& shortfall) {
    const std::lock_guard lock(receiveMutex_);
    uint32_t sent = 0;
    for (const uint64_t id : ids) {
        const auto awaited = awaitedTransfers_.find(id);
        if (awaited == awaitedTransfers_.end()) {
            continue;
        }
        const AwaitedTransfer& transfer = awaited->second;
        if (transferDone(transfer) && transfer.result == TransmitResult::Sent &&
            (!transfer.lastFrames || transfer.lastFrames->discarded() == 0)) {
            ++sent;
        } else if (!shortfall.givenUp && transfer.result &&
                   transfer.result != TransmitResult::Sent) {
            shortfall.givenUp = transfer.result;
        }
        awaitedTransfers_.erase(awaited);
    }
    return sent;
}

}  // namespace vtx
