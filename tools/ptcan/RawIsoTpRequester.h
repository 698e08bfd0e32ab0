// A request of up to 7 bytes and its answer over a raw CAN channel, for libraries that cannot
// connect ISO 15765: the request goes out as one single frame; a single-frame answer is taken as
// it is, a longer one is reassembled here, with a flow control frame (no block limit, no
// separation time) sent after its first frame.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/ptcan/CanChannel.h"

namespace ptcan {

class RawIsoTpRequester {
  public:
    // A pass filter for rxId's frames.
    RawIsoTpRequester(CanChannel& channel, uint32_t rxId, uint32_t flowControlId, bool extended);

    // The answer's payload, or none when no whole answer came within timeoutMs.
    std::optional<std::vector<uint8_t>> exchange(uint32_t txId, const std::vector<uint8_t>& request,
                                                 uint32_t timeoutMs);

    // A frame of 8 bytes: the bytes given, padded.
    static Frame paddedFrame(uint32_t id, bool extended, const std::vector<uint8_t>& bytes);

  private:
    // Takes one received frame; true once the answer is whole.
    bool take(const Frame& frame);
    void sendFlowControl();

    CanChannel& channel_;
    const uint32_t rxId_;
    const uint32_t flowControlId_;
    const bool extended_;
    std::vector<uint8_t> answer_;
    std::size_t expected_ = 0;
};

}  // namespace ptcan
