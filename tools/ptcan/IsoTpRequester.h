// Requests and answers over an ISO 15765 channel: the library does the segmentation and flow
// control; this pairs the answering identifier with the one flow control goes to, writes a
// request and reads answers, skipping the library's indications.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/ptcan/CanChannel.h"

namespace ptcan {

class IsoTpRequester {
  public:
    // A flow-control filter: answers from rxId, flow control to flowControlId.
    IsoTpRequester(CanChannel& channel, uint32_t rxId, uint32_t flowControlId, bool extended,
                   bool pad);

    // Writes the request to txId and reads answers until a final one: every answer that came,
    // "response pending" ones (7F xx 78) first, each of which restarts the wait; empty when none
    // came within timeoutMs (or on Ctrl-C).
    std::vector<std::vector<uint8_t>> exchange(uint32_t txId, const std::vector<uint8_t>& request,
                                               uint32_t timeoutMs);

    // Whether an answer only says that the real one is coming.
    static bool isResponsePending(const std::vector<uint8_t>& answer);

  private:
    CanChannel& channel_;
    const uint32_t rxId_;
    const bool extended_;
    const bool pad_;
};

}  // namespace ptcan
