// The fuzzer's input read front to back as the arguments of a harness: bytes, integers and
// choices. An exhausted input reads as zeros, so a harness never runs out of arguments, only of
// reasons to go on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vtx::fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, std::size_t size);

    bool empty() const { return offset_ >= size_; }
    std::size_t remaining() const { return size_ - offset_; }

    uint8_t byte();
    uint16_t u16();  // little-endian
    uint32_t u32();  // little-endian
    bool flag();     // the low bit of one byte
    // One of count choices (count > 0), from one byte.
    uint32_t choice(uint32_t count);
    // The next n bytes, fewer at the end of the input.
    std::span<const uint8_t> take(std::size_t n);

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

}  // namespace vtx::fuzz
