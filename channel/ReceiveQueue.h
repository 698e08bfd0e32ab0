// The messages of a channel waiting for the reader, oldest first, in one vector that keeps its
// room: a queue filled and drained at a steady pace allocates nothing once it has grown to its
// high-water mark (a deque would allocate a block every few messages).
#pragma once

#include <cstddef>
#include <vector>

#include "protocol/ChannelMessage.h"

namespace vtx {

class ReceiveQueue {
  public:
    std::size_t size() const { return messages_.size() - head_; }
    void push(ChannelMessage&& message) { messages_.push_back(std::move(message)); }
    // Moves the n oldest messages (at most size()) to the end of out.
    void takeFront(std::size_t n, std::vector<ChannelMessage>& out);
    void clear();

  private:
    std::vector<ChannelMessage> messages_;
    // The messages before head_ were taken (moved from); they are dropped once they are half of
    // the vector, or all of it.
    std::size_t head_ = 0;
};

}  // namespace vtx
