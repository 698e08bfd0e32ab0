// The device's transmit queue: the frames the channels hand the communication thread, each with
// the ticket of the write that queued it, in the order they are to go out. It is bounded: a
// write takes the room there is (admit), and only frames that would break without it go beyond
// the bound (pushBeyondLimit). The thread takes one chunk at a time from its head.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "base/CanFrame.h"
#include "comm/TxTicket.h"

namespace vtx {

class TransmitQueue {
  public:
    // Frames the queue holds at most: about four seconds of a busy bus at 125 kbit/s, half a
    // second at 1 Mbit/s. A write that finds it full queues what fits.
    static constexpr std::size_t kLimit = 4096;

    // Frames taken from the head, with their tickets (null where nobody waits).
    struct Chunk {
        std::vector<CanFrame> frames;
        std::vector<std::shared_ptr<TxTicket>> tickets;
    };

    // onQueued is called after frames were queued, with no lock of the queue held; it must not
    // call back into the queue's admission.
    explicit TransmitQueue(std::function<void()> onQueued);
    TransmitQueue(const TransmitQueue&) = delete;
    TransmitQueue& operator=(const TransmitQueue&) = delete;

    // Appends as many of the frames as there is room for, in order, and returns how many.
    // beforeQueueing (may be empty) is called first with that count, under the admission lock
    // that every such call takes, so that what it does for those frames (their echoes) comes
    // before they can be written, and no other call's frames take their room meanwhile.
    std::size_t admit(std::span<const CanFrame> frames, const std::shared_ptr<TxTicket>& ticket,
                      const std::function<void(std::size_t)>& beforeQueueing = {});
    // Appends every frame, even beyond the limit: for frames whose pacing or count is bounded
    // elsewhere.
    void pushBeyondLimit(std::span<const CanFrame> frames, const std::shared_ptr<TxTicket>& ticket);
    // Takes at most most frames from the head.
    Chunk take(std::size_t most);
    // Empties the queue; the tickets of the frames it held, in order.
    std::vector<std::shared_ptr<TxTicket>> clear();
    bool empty() const;

  private:
    struct QueuedFrame {
        CanFrame frame;
        std::shared_ptr<TxTicket> ticket;
    };

    const std::function<void()> onQueued_;
    // Held by admit from its look at the room to its queueing. Taken before a channel's receive
    // lock (the echoes) and before mutex_.
    std::mutex admissionMutex_;
    // Guards frames_; never held while calling out.
    mutable std::mutex mutex_;
    std::deque<QueuedFrame> frames_;
};

}  // namespace vtx
