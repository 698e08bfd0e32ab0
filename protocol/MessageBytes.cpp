#include "protocol/MessageBytes.h"

#include <algorithm>
#include <cstring>

namespace vtx {

void MessageBytes::reserve(std::size_t n) {
    if (n > kInlineBytes) {
        heap_.reserve(n);
    }
}

void MessageBytes::append(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    if (!onHeap() && inlineSize_ + bytes.size() <= kInlineBytes) {
        std::memcpy(inline_.data() + inlineSize_, bytes.data(), bytes.size());
        inlineSize_ = static_cast<uint8_t>(inlineSize_ + bytes.size());
        return;
    }
    if (!onHeap()) {
        heap_.reserve(inlineSize_ + bytes.size());
        heap_.assign(inline_.begin(), inline_.begin() + inlineSize_);
        inlineSize_ = 0;
    }
    heap_.insert(heap_.end(), bytes.begin(), bytes.end());
}

bool operator==(const MessageBytes& bytes, const std::vector<uint8_t>& other) {
    return bytes.size() == other.size() && std::equal(other.begin(), other.end(), bytes.data());
}

}  // namespace vtx
