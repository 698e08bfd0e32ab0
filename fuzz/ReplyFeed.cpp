#include "fuzz/ReplyFeed.h"

#include <algorithm>
#include <cstring>

#include "device/DevicePackets.h"

namespace vtx::fuzz {

ReplyFeed::ReplyFeed(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

int ReplyFeed::read(uint8_t* out, int length) {
    if (out == nullptr || length <= 0) {
        return 0;
    }
    const std::size_t count = std::min(static_cast<std::size_t>(length), size_ - offset_);
    if (count == 0) {
        return 0;
    }
    std::memcpy(out, data_ + offset_, count);
    offset_ += count;
    return static_cast<int>(count);
}

std::size_t ReplyFeed::packetsServed() const {
    return (offset_ + packet::kSize - 1) / packet::kSize;
}

}  // namespace vtx::fuzz
