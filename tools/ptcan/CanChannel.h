// A connected channel of an open device: PassThruConnect on construction, PassThruDisconnect
// when it goes. Raw CAN or ISO 15765; filters, loopback, reading and writing. Every failing call
// throws PassThruError.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/ptcan/Frame.h"
#include "tools/ptcan/PassThruDevice.h"

namespace ptcan {

class CanChannel {
  public:
    CanChannel(PassThruDevice& device, uint32_t protocol, uint32_t flags, uint32_t bitrate);
    ~CanChannel();
    CanChannel(const CanChannel&) = delete;
    CanChannel& operator=(const CanChannel&) = delete;

    // The connect flags for raw CAN: 29-bit only, or both identifier widths.
    static uint32_t canFlags(bool extendedOnly);

    // PassThruDisconnect now, once (the destructor does it otherwise); false, reported on
    // stderr, when it failed.
    bool disconnect();

    uint32_t id() const { return id_; }
    PassThruDevice& device() { return device_; }

    void setLoopback(bool on);
    // Pass filters that let every frame of the widths the channel carries through.
    void passAll();
    void addPassFilter(const PassFilter& filter);
    // ISO 15765: answers from rxId are reassembled, and flow control for them goes to txId.
    void addFlowControlFilter(uint32_t rxId, uint32_t txId, bool extended);

    // Every message, waiting up to timeoutMs for the device to take them.
    void write(std::vector<PASSTHRU_MSG>& messages, uint32_t timeoutMs);
    // Up to buffer.size() messages into buffer, waiting up to timeoutMs for them; how many came
    // (none when the wait ran out).
    uint32_t read(std::vector<PASSTHRU_MSG>& buffer, uint32_t timeoutMs);

  private:
    void startFilter(uint32_t type, PASSTHRU_MSG& mask, PASSTHRU_MSG& pattern,
                     PASSTHRU_MSG* flowControl);

    PassThruDevice& device_;
    const uint32_t protocol_;
    const uint32_t flags_;
    uint32_t id_ = 0;
    bool connected_ = false;
};

}  // namespace ptcan
