#include "channel/ReceiveQueue.h"

#include <algorithm>
#include <iterator>

namespace vtx {

void ReceiveQueue::takeFront(std::size_t n, std::vector<ChannelMessage>& out) {
    n = std::min(n, size());
    const auto first = messages_.begin() + static_cast<std::ptrdiff_t>(head_);
    out.insert(out.end(), std::make_move_iterator(first),
               std::make_move_iterator(first + static_cast<std::ptrdiff_t>(n)));
    head_ += n;
    if (head_ == messages_.size()) {
        clear();
    } else if (head_ * 2 > messages_.size()) {
        messages_.erase(messages_.begin(), messages_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

void ReceiveQueue::clear() {
    messages_.clear();
    head_ = 0;
}

}  // namespace vtx
