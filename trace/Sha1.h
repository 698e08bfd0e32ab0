// SHA-1 message digest (FIPS 180-4). Used to derive name-based identifiers, never for security.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vtx::trace {

class Sha1 {
  public:
    using Digest = std::array<uint8_t, 20>;

    Sha1();

    // Appends bytes to the message; any number of calls, of any length.
    void update(std::span<const uint8_t> bytes);
    void update(std::string_view text);

    // Pads the message, returns its digest and starts a new, empty message.
    Digest finish();

  private:
    static constexpr std::size_t kBlockSize = 64;

    void reset();
    void processBlock(const uint8_t* block);

    std::array<uint32_t, 5> state_{};
    std::array<uint8_t, kBlockSize> pending_{};  // the message's bytes past the last full block
    std::size_t pendingSize_ = 0;
    uint64_t messageBytes_ = 0;  // the whole message so far, for the length in the padding
};

}  // namespace vtx::trace
