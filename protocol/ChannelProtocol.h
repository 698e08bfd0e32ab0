// One J2534 protocol as a channel runs it: which filters it takes and what they let through,
// which messages it sends and as what frames, and what the frames it receives become. The
// channel owns one, chosen at connect, and calls it under its own locks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/CanFrame.h"
#include "base/J2534.h"
#include "protocol/ChannelMessage.h"
#include "protocol/FilterRecord.h"
#include "protocol/MessageFrames.h"
#include "protocol/ProtocolOutput.h"
#include "protocol/isotp/IsoTpTime.h"

namespace vtx {

// A filter as the caller asks for it; the messages may be null (the protocol says which it
// needs).
struct FilterRequest {
    uint32_t type = 0;
    const PASSTHRU_MSG* mask = nullptr;
    const PASSTHRU_MSG* pattern = nullptr;
    const PASSTHRU_MSG* flowControl = nullptr;
};

// The verdict on a request: STATUS_NOERROR, or the status and the text that explains it (always
// for ERR_FAILED; for another status, where its name alone would not tell the caller why).
struct ProtocolVerdict {
    uint32_t status = STATUS_NOERROR;
    const char* text = nullptr;

    bool accepted() const { return status == STATUS_NOERROR; }
};

// Whether a received frame is the loopback copy of one the channel sent.
enum class Echo : uint8_t { No, Yes };

// Whether the channel's LOOPBACK parameter is on: then what it sends comes back to its reader.
enum class Loopback : uint8_t { Off, On };

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

    // How the channel sends this protocol's messages: one frame each, straight onto the
    // transmit queue (CAN); or as transfers the protocol paces itself through startTransmit and
    // tick (ISO 15765).
    enum class TransmitStyle : uint8_t { FramePerMessage, Transfers };
    virtual TransmitStyle transmitStyle() const { return TransmitStyle::FramePerMessage; }

    // ---- a protocol that keeps state over time ----
    // The channel hands in every frame it receives, starts every checked transmit message here,
    // calls tick() no later than nextTickAt(), and carries out what each call put in out: the
    // frames to the bus, the messages to the reader, the ended transfers to their writers. The
    // defaults are a protocol without state, one frame per message, as CAN is.

    // A received frame (stamped). Default: the message of the filter that admits it.
    virtual void receiveFrame(const CanFrame& frame, Echo echo, isotp::TimePoint now,
                              ProtocolOutput& out);
    // Starts sending a checked message; returns its transmit ID, which out.ended names when the
    // transfer ends (in this call or a later one), or 0 when the protocol's transmit queue has no
    // room for it (nothing is done then). Default: its one frame (echo-marked with loopback on,
    // and then its echo for the reader when a filter admits echoes), ended at once as sent.
    virtual uint64_t startTransmit(const PASSTHRU_MSG& msg, Loopback loopback, isotp::TimePoint now,
                                   ProtocolOutput& out);
    // Runs the timers due by now. Default: nothing.
    virtual void tick(isotp::TimePoint now, ProtocolOutput& out);
    // When tick() has something to do next; none when nothing waits. Default: none.
    virtual std::optional<isotp::TimePoint> nextTickAt() const;

    // Protocol parameters of GET_CONFIG and SET_CONFIG. ERR_NOT_SUPPORTED for a parameter the
    // protocol does not own (the channel's own, such as DATA_RATE and LOOPBACK, included);
    // ERR_INVALID_IOCTL_VALUE for a value out of its range. Default: none owned.
    virtual ProtocolVerdict getConfig(uint32_t parameter, uint32_t& value) const;
    virtual ProtocolVerdict setConfig(uint32_t parameter, uint32_t value);

    // The bus's bit rate, at connect and after a DATA_RATE change. Default: not needed.
    virtual void setBitRate(uint32_t bitsPerSecond);

    // CLEAR_TX_BUFFER: ends every transfer under way or waiting (each in out.ended, not sent).
    virtual void abortTransmits(ProtocolOutput& out);
    // CLEAR_RX_BUFFER: forgets the messages being received.
    virtual void abortReceptions();

  protected:
    // A transmit ID not handed out before by this protocol, never 0.
    uint64_t nextTransmitId() { return ++lastTransmitId_; }

  private:
    uint64_t lastTransmitId_ = 0;
};

// Whether a channel of that protocol can be connected with those flags: ERR_NOT_SUPPORTED for a
// protocol the library does not offer, ERR_INVALID_FLAGS for a flag the protocol does not take.
ProtocolVerdict checkConnect(uint32_t protocolId, uint32_t flags);

// The protocol a channel connected with these ProtocolID and Flags runs, or nullptr when the
// library does not offer it.
std::unique_ptr<ChannelProtocol> createChannelProtocol(uint32_t protocolId, uint32_t flags);

}  // namespace vtx
