// One J2534 protocol as a channel runs it: which filters it takes and what they let through,
// which messages it sends and as what frames, and what the frames it receives become. The
// channel owns one, chosen at connect, and calls it under its own locks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/CanFrame.h"
#include "base/J2534.h"
#include "protocol/ChannelMessage.h"
#include "protocol/FilterRecord.h"
#include "protocol/MessageFrames.h"

namespace vtx {

// A filter as the caller asks for it; the messages may be null (the protocol says which it
// needs).
struct FilterRequest {
    uint32_t type = 0;
    const PASSTHRU_MSG* mask = nullptr;
    const PASSTHRU_MSG* pattern = nullptr;
    const PASSTHRU_MSG* flowControl = nullptr;
};

// The verdict on a request: STATUS_NOERROR, or the status and, for ERR_FAILED, its text.
struct ProtocolVerdict {
    uint32_t status = STATUS_NOERROR;
    const char* failedText = nullptr;

    bool accepted() const { return status == STATUS_NOERROR; }
};

// Whether a received frame is the loopback copy of one the channel sent.
enum class Echo : uint8_t { No, Yes };

class ChannelProtocol {
  public:
    static constexpr std::size_t kMaxFilters = 10;

    virtual ~ChannelProtocol() = default;

    virtual uint32_t protocolId() const = 0;

    // ---- filters ----
    virtual ProtocolVerdict checkFilter(const FilterRequest& request) const = 0;
    // The filter a checked request becomes, with its new ID; nullptr when the channel has its
    // limit already.
    virtual const FilterRecord* addFilter(const FilterRequest& request, uint32_t id) = 0;
    virtual bool hasFilter(uint32_t id) const = 0;
    virtual void removeFilter(uint32_t id) = 0;
    virtual void clearFilters() = 0;
    virtual const std::vector<FilterRecord>& filters() const = 0;

    // ---- transmit ----
    virtual ProtocolVerdict checkTransmit(const PASSTHRU_MSG& msg) const = 0;
    virtual ProtocolVerdict checkPeriodic(const PASSTHRU_MSG& msg) const = 0;
    // The frame a checked message goes out as.
    virtual CanFrame frameOf(const PASSTHRU_MSG& msg, EchoMarker marker) const = 0;

    // ---- receive ----
    // The filter that lets the frame through, or nullptr: then the frame is not the reader's.
    virtual const FilterRecord* admittingFilter(const CanFrame& frame, Echo echo) const = 0;
    // What an admitted frame becomes for the reader.
    virtual ChannelMessage messageOf(const CanFrame& frame) const = 0;
};

// Whether a channel of that protocol can be connected with those flags: ERR_NOT_SUPPORTED for a
// protocol the library does not offer, ERR_INVALID_FLAGS for a flag the protocol does not take.
ProtocolVerdict checkConnect(uint32_t protocolId, uint32_t flags);

// The protocol a channel connected with these ProtocolID and Flags runs, or nullptr when the
// library does not offer it.
std::unique_ptr<ChannelProtocol> createChannelProtocol(uint32_t protocolId, uint32_t flags);

}  // namespace vtx
