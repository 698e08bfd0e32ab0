// The bytes of a message on its way to the reader: the identifier bytes, then the payload. A
// message of one CAN frame (at most 12 bytes, as is an ISO 15765 single frame's with its
// address) is held inside the object, so that a received frame costs no allocation; a longer one
// (a reassembled transfer) lives on the heap.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vtx {

class MessageBytes {
  public:
    static constexpr std::size_t kInlineBytes = 12;

    // Makes room for n bytes in all; only a message that outgrows the inline bytes allocates.
    void reserve(std::size_t n);
    void push_back(uint8_t byte) { append(std::span(&byte, 1)); }
    void append(std::span<const uint8_t> bytes);

    const uint8_t* data() const { return onHeap() ? heap_.data() : inline_.data(); }
    std::size_t size() const { return onHeap() ? heap_.size() : inlineSize_; }

    friend bool operator==(const MessageBytes& bytes, const std::vector<uint8_t>& other);

  private:
    // Once the bytes outgrow inline_, every one of them is in heap_, which is never empty again.
    bool onHeap() const { return !heap_.empty(); }

    std::array<uint8_t, kInlineBytes> inline_{};
    uint8_t inlineSize_ = 0;
    std::vector<uint8_t> heap_;
};

}  // namespace vtx
