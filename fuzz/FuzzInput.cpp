#include "fuzz/FuzzInput.h"

#include <algorithm>

namespace vtx::fuzz {

FuzzInput::FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

uint8_t FuzzInput::byte() {
    return empty() ? 0 : data_[offset_++];
}

uint16_t FuzzInput::u16() {
    const uint16_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
}

uint32_t FuzzInput::u32() {
    const uint32_t low = u16();
    return low | static_cast<uint32_t>(u16()) << 16;
}

bool FuzzInput::flag() {
    return (byte() & 1) != 0;
}

uint32_t FuzzInput::choice(uint32_t count) {
    return byte() % count;
}

std::span<const uint8_t> FuzzInput::take(std::size_t n) {
    const std::size_t count = std::min(n, remaining());
    const std::span<const uint8_t> bytes(data_ + offset_, count);
    offset_ += count;
    return bytes;
}

}  // namespace vtx::fuzz
