#include "sim/VirtualCanBus.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/LibraryThread.h"
#include "platform/ThreadServices.h"

namespace vtx::sim {

namespace {

// How long the idle bus thread sleeps before it looks again on its own.
constexpr std::chrono::milliseconds kIdleWait{100};
// Frames handed out in one go before the thread looks at its queues again.
constexpr std::size_t kMaxBatch = 256;
// What sleepingUntil holds while the bus thread is not waiting.
constexpr SimClock::time_point kAwake = SimClock::time_point::min();

constexpr uint32_t kMaxStandardId = 0x7FF;
constexpr uint32_t kMaxExtendedId = 0x1FFFFFFF;

// The arbitration field as the bus sees it, first bit most significant; the lower value wins.
// 11-bit: identifier, RTR (0 for data), IDE 0. 29-bit: the 11 base bits, SRR 1, IDE 1, the 18
// extension bits. So a standard frame beats an extended one with the same base identifier.
uint64_t arbitrationKey(const CanFrame& frame) {
    if (!frame.extended) {
        return static_cast<uint64_t>(frame.id) << 20;
    }
    const uint64_t base = frame.id >> 18;
    const uint64_t extension = frame.id & 0x3FFFF;
    return (base << 20) | (1u << 19) | (1u << 18) | extension;
}

bool isWellFormed(const CanFrame& frame) {
    return frame.dlc <= 8 && frame.id <= (frame.extended ? kMaxExtendedId : kMaxStandardId);
}

}  // namespace

struct VirtualCanBus::State {
    // A frame waiting in its sender's queue.
    struct Queued {
        CanFrame frame;
        SimClock::time_point readyAt;  // queued, or released if it was queued ahead of time
        uint64_t order;                // bus-wide queueing order, the last tie-breaker
        SentCallback onSent;
    };
    // An attached node (or the outside world, node nullptr) with the frames it queued. serial
    // tells one attachment from a later one of the same node.
    struct Sender {
        CanNode* node;
        uint64_t serial;
        std::deque<Queued> queue;
        std::size_t crossing = 0;  // taken off the queue, not yet delivered
    };
    // A frame that has its place on the timeline.
    struct Crossing {
        CanFrame frame;
        uint64_t senderSerial;
        SimClock::time_point end;
        SentCallback onSent;
    };
    // The queue head that goes on the bus next, and when it can start.
    struct Candidate {
        Sender* sender;
        SimClock::time_point start;
    };
    struct Recipient {
        CanNode* node;
        uint64_t serial;
    };
    struct ObserverEntry {
        int id;
        std::shared_ptr<Observer> observer;
    };

    State(uint32_t rate, BitStuffing stuff)
        : bitRate(rate), stuffing(stuff), busFreeAt(SimClock::now()) {
        senders.push_back(Sender{nullptr, kOutsideSerial, {}, 0});
        thread.start([this] {
            platform::nameCurrentThread("sim-bus");
            run();
        });
    }

    void stop();
    void run();
    void collectDue(std::vector<Crossing>& batch, SimClock::time_point now);
    std::optional<Candidate> nextCandidate();
    std::optional<Crossing> placeNext(SimClock::time_point now);
    SimClock::time_point nextWake(SimClock::time_point now);
    bool endsBeforeWake(const CanFrame& frame, SimClock::time_point readyAt) const;
    void deliver(std::vector<Crossing>& batch);
    void deliverOne(Crossing& crossing);
    void takeSnapshot();
    bool stillAttached(uint64_t serial) const;
    bool stillObserving(int id) const;
    bool isAttached(uint64_t serial) const;
    bool isObserving(int id) const;
    void membershipChanged() { membership.fetch_add(1); }
    Sender* findSender(const CanNode* node);
    const Sender* findSender(const CanNode* node) const;
    std::chrono::nanoseconds durationOf(const CanFrame& frame) const {
        return frameDuration(frame, bitRate, stuffing);
    }
    bool onBusThread() const { return std::this_thread::get_id() == thread.id(); }

    static constexpr uint64_t kOutsideSerial = 0;

    const uint32_t bitRate;
    const BitStuffing stuffing;

    // Lock order: deliveryMutex before mutex. Callbacks run under deliveryMutex only.
    mutable std::mutex mutex;
    std::condition_variable wake;          // a frame ends before the thread meant to look
    std::vector<Sender> senders;           // guarded by mutex; [0] is the outside world
    std::vector<ObserverEntry> observers;  // guarded by mutex
    uint64_t nextSerial = 1;               // guarded by mutex
    uint64_t nextOrder = 0;                // guarded by mutex
    int nextObserverId = 1;                // guarded by mutex
    SimClock::time_point busFreeAt;        // guarded by mutex: end of the last frame placed
    std::optional<Crossing> current;       // guarded by mutex: placed, its end not yet reached
    SimClock::time_point lastDelivery{};   // guarded by mutex: when the last batch was taken
    SimClock::time_point sleepingUntil = kAwake;  // guarded by mutex: the bus thread's wake-up
    bool stopping = false;                        // guarded by mutex
    // Counts changes to senders and observers; written under mutex, read without it to tell
    // whether the delivery's snapshot of them still holds.
    std::atomic<uint64_t> membership{0};

    // Held by the bus thread while it calls nodes and observers, so that detach and
    // removeObserver from other threads can wait for a delivery in progress.
    std::mutex deliveryMutex;
    std::vector<Recipient> recipients;           // guarded by deliveryMutex
    std::vector<ObserverEntry> observersNow;     // guarded by deliveryMutex
    uint64_t snapshotMembership = ~uint64_t{0};  // guarded by deliveryMutex: when taken

    platform::LibraryThread thread;  // started last, ended by stop()
};

void VirtualCanBus::State::stop() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.end();
}

// Hands out every frame that has ended, then sleeps until the next one ends, or a tick after
// this delivery if that is later. The wait ends at its time, or sooner when a frame queued
// meanwhile ends earlier (transmit wakes it), or when the bus stops.
void VirtualCanBus::State::run() {
    std::vector<Crossing> batch;
    std::unique_lock lock(mutex);
    while (!stopping) {
        const SimClock::time_point now = SimClock::now();
        collectDue(batch, now);
        if (!batch.empty()) {
            lastDelivery = now;
            lock.unlock();
            deliver(batch);
            batch.clear();
            lock.lock();
            continue;
        }
        sleepingUntil = nextWake(now);
        wake.wait_until(lock, sleepingUntil);
        sleepingUntil = kAwake;
    }
}

// Moves the frames whose end has passed into batch, placing further frames on the timeline as
// the bus becomes free. Caller holds mutex.
void VirtualCanBus::State::collectDue(std::vector<Crossing>& batch, SimClock::time_point now) {
    while (batch.size() < kMaxBatch) {
        if (!current) {
            current = placeNext(now);
        }
        if (!current || current->end > now) {
            return;
        }
        batch.push_back(std::move(*current));
        current.reset();
    }
}

// The queue head that can start first; among those ready when the bus becomes free, the lowest
// arbitration field, then the earliest queued. Caller holds mutex.
std::optional<VirtualCanBus::State::Candidate> VirtualCanBus::State::nextCandidate() {
    std::optional<Candidate> best;
    std::tuple<SimClock::time_point, uint64_t, uint64_t> bestKey;
    for (Sender& sender : senders) {
        if (sender.queue.empty()) {
            continue;
        }
        const Queued& head = sender.queue.front();
        const auto key = std::make_tuple(std::max(busFreeAt, head.readyAt),
                                         arbitrationKey(head.frame), head.order);
        if (!best || key < bestKey) {
            best = Candidate{&sender, std::get<0>(key)};
            bestKey = key;
        }
    }
    return best;
}

// Places the next frame on the timeline, once the clock has passed its start: a frame queued
// after now starts later than now, so it could not have taken part. Caller holds mutex.
std::optional<VirtualCanBus::State::Crossing> VirtualCanBus::State::placeNext(
    SimClock::time_point now) {
    const std::optional<Candidate> next = nextCandidate();
    if (!next || next->start > now) {
        return std::nullopt;
    }
    Queued head = std::move(next->sender->queue.front());
    next->sender->queue.pop_front();
    ++next->sender->crossing;
    busFreeAt = next->start + durationOf(head.frame);
    return Crossing{head.frame, next->sender->serial, busFreeAt, std::move(head.onSent)};
}

// When the bus thread looks again: at the end of the next frame, but a tick after the last
// delivery at the soonest; after kIdleWait when nothing is queued. Caller holds mutex.
SimClock::time_point VirtualCanBus::State::nextWake(SimClock::time_point now) {
    SimClock::time_point nextEnd;
    if (current) {
        nextEnd = current->end;
    } else if (const std::optional<Candidate> next = nextCandidate()) {
        nextEnd = next->start + durationOf(next->sender->queue.front().frame);
    } else {
        return now + kIdleWait;
    }
    return std::max(nextEnd, lastDelivery + kDeliveryTick);
}

// Whether a frame just queued can end before the sleeping bus thread means to look (while it
// is awake it looks at the queues before it sleeps again). Caller holds mutex.
bool VirtualCanBus::State::endsBeforeWake(const CanFrame& frame,
                                          SimClock::time_point readyAt) const {
    const SimClock::time_point earliestEnd = std::max(busFreeAt, readyAt) + durationOf(frame);
    return sleepingUntil > std::max(earliestEnd, lastDelivery + kDeliveryTick);
}

void VirtualCanBus::State::deliver(std::vector<Crossing>& batch) {
    std::lock_guard delivering(deliveryMutex);
    for (Crossing& crossing : batch) {
        deliverOne(crossing);
    }
}

// Hands one frame to every other node at the bus rate, to the observers and to its sender's
// callback. Each callee is checked just before its call: one detached meanwhile by a callback
// on this thread is skipped; other threads wait in detach until the delivery is over.
void VirtualCanBus::State::deliverOne(Crossing& crossing) {
    {
        std::lock_guard lock(mutex);
        const auto sender = std::find_if(senders.begin(), senders.end(), [&](const Sender& s) {
            return s.serial == crossing.senderSerial;
        });
        if (sender == senders.end()) {
            return;  // its sender has gone; the frame goes with it
        }
        --sender->crossing;
        if (snapshotMembership != membership.load()) {
            takeSnapshot();
        }
    }
    for (const Recipient& recipient : recipients) {
        if (recipient.serial != crossing.senderSerial && stillAttached(recipient.serial) &&
            recipient.node->bitRate() == bitRate) {
            recipient.node->onBusFrame(crossing.frame, crossing.end);
        }
    }
    for (const ObserverEntry& entry : observersNow) {
        if (stillObserving(entry.id)) {
            (*entry.observer)(crossing.frame, crossing.end);
        }
    }
    if (crossing.onSent && stillAttached(crossing.senderSerial)) {
        crossing.onSent(crossing.end);
    }
}

// The nodes and observers as they are now, for the deliveries that follow until they change.
// Caller holds deliveryMutex and mutex.
void VirtualCanBus::State::takeSnapshot() {
    snapshotMembership = membership.load();
    recipients.clear();
    for (const Sender& s : senders) {
        if (s.node != nullptr) {
            recipients.push_back(Recipient{s.node, s.serial});
        }
    }
    observersNow = observers;
}

// Whether a node of the snapshot is still attached: certainly while nothing has changed since
// the snapshot, else as the senders say now.
bool VirtualCanBus::State::stillAttached(uint64_t serial) const {
    return membership.load() == snapshotMembership || isAttached(serial);
}

bool VirtualCanBus::State::stillObserving(int id) const {
    return membership.load() == snapshotMembership || isObserving(id);
}

bool VirtualCanBus::State::isAttached(uint64_t serial) const {
    std::lock_guard lock(mutex);
    return std::any_of(senders.begin(), senders.end(),
                       [&](const Sender& s) { return s.serial == serial; });
}

bool VirtualCanBus::State::isObserving(int id) const {
    std::lock_guard lock(mutex);
    return std::any_of(observers.begin(), observers.end(),
                       [&](const ObserverEntry& e) { return e.id == id; });
}

VirtualCanBus::State::Sender* VirtualCanBus::State::findSender(const CanNode* node) {
    const auto found = std::find_if(senders.begin(), senders.end(),
                                    [&](const Sender& s) { return s.node == node; });
    return found == senders.end() ? nullptr : &*found;
}

const VirtualCanBus::State::Sender* VirtualCanBus::State::findSender(const CanNode* node) const {
    const auto found = std::find_if(senders.begin(), senders.end(),
                                    [&](const Sender& s) { return s.node == node; });
    return found == senders.end() ? nullptr : &*found;
}

VirtualCanBus::VirtualCanBus(uint32_t bitRate, BitStuffing stuffing)
    : state_(std::make_unique<State>(bitRate, stuffing)) {}

VirtualCanBus::~VirtualCanBus() {
    state_->stop();
}

uint32_t VirtualCanBus::bitRate() const {
    return state_->bitRate;
}

BitStuffing VirtualCanBus::stuffing() const {
    return state_->stuffing;
}

void VirtualCanBus::attach(CanNode* node) {
    if (node == nullptr) {
        return;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->findSender(node) == nullptr) {
        state_->senders.push_back(State::Sender{node, state_->nextSerial++, {}, 0});
        state_->membershipChanged();
    }
}

void VirtualCanBus::detach(CanNode* node) {
    if (node == nullptr) {
        return;
    }
    std::unique_lock<std::mutex> delivering;
    if (!state_->onBusThread()) {
        delivering = std::unique_lock(state_->deliveryMutex);
    }
    std::lock_guard lock(state_->mutex);
    if (std::erase_if(state_->senders, [&](const State::Sender& s) { return s.node == node; })) {
        state_->membershipChanged();
    }
}

bool VirtualCanBus::transmit(CanNode* sender, const CanFrame& frame) {
    return transmit(sender, frame, SentCallback());
}

bool VirtualCanBus::transmit(CanNode* sender, const CanFrame& frame, SentCallback onSent) {
    return transmit(sender, frame, SimClock::time_point::min(), std::move(onSent));
}

bool VirtualCanBus::transmit(CanNode* sender, const CanFrame& frame, SimClock::time_point notBefore,
                             SentCallback onSent) {
    if (state_->bitRate == 0 || !isWellFormed(frame)) {
        return false;
    }
    // Asked before taking the lock: a node may take its own lock in bitRate() and hold it
    // while it transmits.
    if (sender != nullptr && sender->bitRate() != state_->bitRate) {
        return false;
    }
    bool wakeBus = false;
    {
        std::lock_guard lock(state_->mutex);
        State::Sender* queue = state_->findSender(sender);
        if (queue == nullptr || queue->queue.size() >= kMaxPendingPerSender) {
            return false;
        }
        const SimClock::time_point readyAt = std::max(SimClock::now(), notBefore);
        queue->queue.push_back(
            State::Queued{frame, readyAt, state_->nextOrder++, std::move(onSent)});
        wakeBus = state_->endsBeforeWake(frame, readyAt);
        if (wakeBus) {
            state_->sleepingUntil = kAwake;  // it looks at every queue once woken
        }
    }
    if (wakeBus) {
        state_->wake.notify_one();
    }
    return true;
}

std::size_t VirtualCanBus::pending(CanNode* sender) const {
    std::lock_guard lock(state_->mutex);
    const State::Sender* queue = state_->findSender(sender);
    return queue == nullptr ? 0 : queue->queue.size() + queue->crossing;
}

std::size_t VirtualCanBus::dropPending(CanNode* sender) {
    std::lock_guard lock(state_->mutex);
    State::Sender* queue = state_->findSender(sender);
    if (queue == nullptr) {
        return 0;
    }
    const std::size_t dropped = queue->queue.size();
    queue->queue.clear();
    return dropped;
}

int VirtualCanBus::addObserver(Observer observer) {
    auto shared = std::make_shared<Observer>(std::move(observer));
    std::lock_guard lock(state_->mutex);
    const int id = state_->nextObserverId++;
    state_->observers.push_back(State::ObserverEntry{id, std::move(shared)});
    state_->membershipChanged();
    return id;
}

void VirtualCanBus::removeObserver(int id) {
    std::unique_lock<std::mutex> delivering;
    if (!state_->onBusThread()) {
        delivering = std::unique_lock(state_->deliveryMutex);
    }
    std::lock_guard lock(state_->mutex);
    if (std::erase_if(state_->observers,
                      [&](const State::ObserverEntry& e) { return e.id == id; })) {
        state_->membershipChanged();
    }
}

uint32_t VirtualCanBus::frameBits(const CanFrame& frame) {
    return CanFrameBits::nominal(frame);
}

std::chrono::nanoseconds VirtualCanBus::frameDuration(const CanFrame& frame, uint32_t bitRate,
                                                      BitStuffing stuffing) {
    if (bitRate == 0) {
        return std::chrono::nanoseconds::zero();
    }
    const uint64_t bitNanoseconds =
        uint64_t{CanFrameBits::onWire(frame, stuffing)} * 1'000'000'000u;
    return std::chrono::nanoseconds((bitNanoseconds + bitRate - 1) / bitRate);
}

}  // namespace vtx::sim
