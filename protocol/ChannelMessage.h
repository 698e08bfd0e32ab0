// A message on its way from a channel to the reader: a received frame as the caller will see it,
// or what a protocol built from several frames. Kept compact in the receive queue and turned
// into a PASSTHRU_MSG only when it is read.
#pragma once

#include <cstdint>

#include "base/J2534.h"
#include "protocol/MessageBytes.h"

namespace vtx {

struct ChannelMessage {
    uint32_t rxStatus = 0;
    uint32_t timestamp = 0;  // microseconds, when its (last) frame arrived
    MessageBytes data;       // the identifier bytes, most significant first, then the payload

    // Whether it only tells the reader something happened (ISO15765_FIRST_FRAME or TX_DONE)
    // instead of carrying a message.
    bool isIndication() const { return (rxStatus & (ISO15765_FIRST_FRAME | TX_DONE)) != 0; }
    // The message as the reader gets it on a channel of that protocol.
    void toPassThru(uint32_t protocolId, PASSTHRU_MSG& msg) const;
};

}  // namespace vtx
