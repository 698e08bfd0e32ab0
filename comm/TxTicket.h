#pragma once

#include <chrono>
#include <cstdint>

namespace vtx {

// What a write that waits learns of its own frames: how many the device took, and how many were
// discarded before it could (cleared from the transmit queue, or lost with a failed device
// write). The writer is done waiting once the two add up to the frames it queued. Shared between
// the writer and the frames still queued, so a writer that stopped waiting leaves nothing
// dangling. Guarded by TxCompletion's mutex.
struct TxTicket {
    uint32_t sent = 0;
    uint32_t discarded = 0;
    // When the device last took frames of this ticket.
    std::chrono::steady_clock::time_point lastSentAt{};

    uint32_t resolved() const { return sent + discarded; }
};

}  // namespace vtx
