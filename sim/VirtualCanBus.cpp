#include "sim/VirtualCanBus.h"

#include <algorithm>
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
        SimClock::time_point queuedAt;
        uint64_t order;  // bus-wide queueing order, the last tie-breaker
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
    struct Recipient {
        CanNode* node;
        uint64_t serial;
    };
    struct ObserverEntry {
        int id;
        std::shared_ptr<Observer> observer;
    };

    explicit State(uint32_t rate) : bitRate(rate), busFreeAt(SimClock::now()) {
        senders.push_back(Sender{nullptr, kOutsideSerial, {}, 0});
        thread.start([this] {
            platform::nameCurrentThread("sim-bus");
            run();
        });
    }

    void stop();
    void run();
    void collectDue(std::vector<Crossing>& batch);
    std::optional<Crossing> selectNext();
    void deliver(std::vector<Crossing>& batch);
    void deliverOne(Crossing& crossing);
    bool isAttached(uint64_t serial) const;
    bool isObserving(int id) const;
    Sender* findSender(const CanNode* node);
    const Sender* findSender(const CanNode* node) const;
    bool onBusThread() const { return std::this_thread::get_id() == thread.id(); }

    static constexpr uint64_t kOutsideSerial = 0;

    const uint32_t bitRate;

    // Lock order: deliveryMutex before mutex. Callbacks run under deliveryMutex only.
    mutable std::mutex mutex;
    std::condition_variable wake;          // a frame was queued, or the bus is stopping
    std::vector<Sender> senders;           // guarded by mutex; [0] is the outside world
    std::vector<ObserverEntry> observers;  // guarded by mutex
    uint64_t nextSerial = 1;               // guarded by mutex
    uint64_t nextOrder = 0;                // guarded by mutex
    int nextObserverId = 1;                // guarded by mutex
    SimClock::time_point busFreeAt;        // guarded by mutex: end of the last frame placed
    std::optional<Crossing> current;       // guarded by mutex: placed, its end not yet reached
    bool stopping = false;                 // guarded by mutex

    // Held by the bus thread while it calls nodes and observers, so that detach and
    // removeObserver from other threads can wait for a delivery in progress.
    std::mutex deliveryMutex;
    std::vector<Recipient> recipients;                // guarded by deliveryMutex
    std::vector<ObserverEntry> observersOfThisFrame;  // guarded by deliveryMutex

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

void VirtualCanBus::State::run() {
    std::vector<Crossing> batch;
    std::unique_lock lock(mutex);
    while (!stopping) {
        collectDue(batch);
        if (!batch.empty()) {
            lock.unlock();
            deliver(batch);
            batch.clear();
            lock.lock();
        } else if (current) {
            wake.wait_until(lock, current->end);
        } else {
            wake.wait_for(lock, kIdleWait);
        }
    }
}

// Moves the frames whose end has passed into batch, placing further frames on the timeline as
// the bus becomes free. Caller holds mutex.
void VirtualCanBus::State::collectDue(std::vector<Crossing>& batch) {
    const SimClock::time_point now = SimClock::now();
    while (batch.size() < kMaxBatch) {
        if (!current) {
            current = selectNext();
        }
        if (!current || current->end > now) {
            return;
        }
        batch.push_back(std::move(*current));
        current.reset();
    }
}

// Places the next frame on the timeline: the one that can start first; among those waiting when
// the bus becomes free, the lowest arbitration field, then the earliest queued. Called only once
// the clock has passed busFreeAt, so no frame queued later could have taken part. Caller holds
// mutex.
std::optional<VirtualCanBus::State::Crossing> VirtualCanBus::State::selectNext() {
    Sender* winner = nullptr;
    std::tuple<SimClock::time_point, uint64_t, uint64_t> best;
    for (Sender& sender : senders) {
        if (sender.queue.empty()) {
            continue;
        }
        const Queued& head = sender.queue.front();
        const auto candidate = std::make_tuple(std::max(busFreeAt, head.queuedAt),
                                               arbitrationKey(head.frame), head.order);
        if (winner == nullptr || candidate < best) {
            winner = &sender;
            best = candidate;
        }
    }
    if (winner == nullptr) {
        return std::nullopt;
    }
    Queued head = std::move(winner->queue.front());
    winner->queue.pop_front();
    ++winner->crossing;
    busFreeAt = std::get<0>(best) + frameDuration(head.frame, bitRate);
    return Crossing{head.frame, winner->serial, busFreeAt, std::move(head.onSent)};
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
        recipients.clear();
        for (const Sender& s : senders) {
            if (s.node != nullptr && s.serial != crossing.senderSerial) {
                recipients.push_back(Recipient{s.node, s.serial});
            }
        }
        observersOfThisFrame = observers;
    }
    for (const Recipient& recipient : recipients) {
        if (isAttached(recipient.serial) && recipient.node->bitRate() == bitRate) {
            recipient.node->onBusFrame(crossing.frame, crossing.end);
        }
    }
    for (const ObserverEntry& entry : observersOfThisFrame) {
        if (isObserving(entry.id)) {
            (*entry.observer)(crossing.frame, crossing.end);
        }
    }
    if (crossing.onSent && isAttached(crossing.senderSerial)) {
        crossing.onSent(crossing.end);
    }
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

VirtualCanBus::VirtualCanBus(uint32_t bitRate) : state_(std::make_unique<State>(bitRate)) {}

VirtualCanBus::~VirtualCanBus() {
    state_->stop();
}

uint32_t VirtualCanBus::bitRate() const {
    return state_->bitRate;
}

void VirtualCanBus::attach(CanNode* node) {
    if (node == nullptr) {
        return;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->findSender(node) == nullptr) {
        state_->senders.push_back(State::Sender{node, state_->nextSerial++, {}, 0});
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
    std::erase_if(state_->senders, [&](const State::Sender& s) { return s.node == node; });
}

bool VirtualCanBus::transmit(CanNode* sender, const CanFrame& frame) {
    return transmit(sender, frame, SentCallback());
}

bool VirtualCanBus::transmit(CanNode* sender, const CanFrame& frame, SentCallback onSent) {
    if (state_->bitRate == 0 || !isWellFormed(frame)) {
        return false;
    }
    // Asked before taking the lock: a node may take its own lock in bitRate() and hold it
    // while it transmits.
    if (sender != nullptr && sender->bitRate() != state_->bitRate) {
        return false;
    }
    {
        std::lock_guard lock(state_->mutex);
        State::Sender* queue = state_->findSender(sender);
        if (queue == nullptr || queue->queue.size() >= kMaxPendingPerSender) {
            return false;
        }
        queue->queue.push_back(
            State::Queued{frame, SimClock::now(), state_->nextOrder++, std::move(onSent)});
    }
    state_->wake.notify_one();
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
    return id;
}

void VirtualCanBus::removeObserver(int id) {
    std::unique_lock<std::mutex> delivering;
    if (!state_->onBusThread()) {
        delivering = std::unique_lock(state_->deliveryMutex);
    }
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->observers, [&](const State::ObserverEntry& e) { return e.id == id; });
}

uint32_t VirtualCanBus::frameBits(const CanFrame& frame) {
    const uint32_t dataBits = 8u * std::min<uint32_t>(frame.dlc, 8);
    return (frame.extended ? 67u : 47u) + dataBits;
}

std::chrono::nanoseconds VirtualCanBus::frameDuration(const CanFrame& frame, uint32_t bitRate) {
    if (bitRate == 0) {
        return std::chrono::nanoseconds::zero();
    }
    const uint64_t bitNanoseconds = uint64_t{frameBits(frame)} * 1'000'000'000u;
    return std::chrono::nanoseconds((bitNanoseconds + bitRate - 1) / bitRate);
}

}  // namespace vtx::sim
