// What a fuzzed device sends back: the input cut into 16-byte packets, handed out in order to
// the reads of the host. A read gets as many packets as it has room for; the partial last packet
// comes out as the bytes that are left. Once the input is used up every read times out (0).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtx::fuzz {

class ReplyFeed {
  public:
    ReplyFeed(const uint8_t* data, std::size_t size);

    // Copies up to length bytes of the next packets; the bytes copied.
    int read(uint8_t* out, int length);

    bool exhausted() const { return offset_ >= size_; }
    // Packets handed out so far, a partial one counted.
    std::size_t packetsServed() const;

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

}  // namespace vtx::fuzz
