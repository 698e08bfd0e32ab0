// ISO 15765 on a channel: messages of up to 4095 bytes after their identifier header, carried
// in ISO-TP frames with flow control. The channel's flow-control filters pair each ECU address
// (pattern and mask) with the tester's address (the flow-control message): frames from the ECU
// are reassembled by the filter's receiver, which answers first frames with the channel's block
// size and STmin; messages to the tester's address of a filter go out paced by the ECU's flow
// control, one message at a time. Only flow-control filters exist on this protocol, and a frame
// no filter admits is not the reader's. What the reader gets besides the messages: a first-frame
// indication (ISO15765_FIRST_FRAME, header only) when a multi-frame message starts, and for every
// message sent whole a TX_DONE indication, then its loopback copy when loopback is on
// (Iso15765TransmitQueue.h tells why TX_DONE does not wait for loopback).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/ChannelProtocol.h"
#include "protocol/FlowControlPairing.h"
#include "protocol/Iso15765Parameters.h"
#include "protocol/Iso15765TransmitQueue.h"

namespace vtx {

class Iso15765Protocol final : public ChannelProtocol {
  public:
    // flags: the connect flags (CAN_29BIT_ID, CAN_ID_BOTH, ISO15765_ADDR_TYPE); the width ones
    // say what widths filters may be for.
    explicit Iso15765Protocol(uint32_t flags) : flags_(flags) {}

    TransmitStyle transmitStyle() const override { return TransmitStyle::Transfers; }
    uint32_t protocolId() const override { return ISO15765; }

    ProtocolVerdict checkFilter(const FilterRequest& request) const override;
    const FilterRecord* addFilter(const FilterRequest& request, uint32_t id) override;
    bool hasFilter(uint32_t id) const override;
    void removeFilter(uint32_t id) override;
    void clearFilters() override;
    const std::vector<FilterRecord>& filters() const override { return records_; }

    ProtocolVerdict checkTransmit(const PASSTHRU_MSG& msg) const override;
    ProtocolVerdict checkPeriodic(const PASSTHRU_MSG& msg) const override;
    // The single frame of a periodic message (checkPeriodic admits no other).
    CanFrame frameOf(const PASSTHRU_MSG& msg, EchoMarker marker) const override;

    // The filter whose ECU address sent the frame; echoes are never admitted.
    const FilterRecord* admittingFilter(const CanFrame& frame, Echo echo) const override;
    // A single frame's message, as receiveFrame would make it; an empty message for any other
    // frame (a reassembled message comes only from receiveFrame).
    ChannelMessage messageOf(const CanFrame& frame) const override;

    // An echo is a periodic message's loopback copy; any other frame goes to the receiver of
    // the first filter that admits it and to the transfer under way.
    void receiveFrame(const CanFrame& frame, Echo echo, isotp::TimePoint now,
                      ProtocolOutput& out) override;
    uint64_t startTransmit(const PASSTHRU_MSG& msg, Loopback loopback, isotp::TimePoint now,
                           ProtocolOutput& out) override;
    void tick(isotp::TimePoint now, ProtocolOutput& out) override;
    std::optional<isotp::TimePoint> nextTickAt() const override;

    // ISO15765_BS, ISO15765_STMIN, ISO15765_BS_TX, ISO15765_STMIN_TX, ISO15765_WFT_MAX.
    ProtocolVerdict getConfig(uint32_t parameter, uint32_t& value) const override;
    ProtocolVerdict setConfig(uint32_t parameter, uint32_t value) override;

    // The wire wait margin of the messages that start from now on follows it.
    void setBitRate(uint32_t bitsPerSecond) override { bitRate_ = bitsPerSecond; }

    void abortTransmits(ProtocolOutput& out) override;
    void abortReceptions() override;

  private:
    // Whether a filter other than this one already uses the pattern's or the flow-control
    // message's address.
    bool addressInUse(const FilterRequest& request) const;
    // The filter whose flow-control message names this tester address, or nullptr.
    const FlowControlPairing* pairingSendingFrom(const isotp::IsoTpAddress& address) const;
    FlowControlPairing* pairingAdmitting(const CanFrame& frame);
    const FlowControlPairing* pairingAdmitting(const CanFrame& frame) const;
    bool needsFlowControl(const PASSTHRU_MSG& msg) const;
    void deliverEcho(const CanFrame& frame, ProtocolOutput& out) const;
    isotp::IsoTpSenderSettings senderSettings(const PASSTHRU_MSG& msg) const;

    const uint32_t flags_;
    uint32_t bitRate_ = 0;  // bit/s; 0 until set
    Iso15765Parameters parameters_;
    std::vector<FlowControlPairing> pairings_;  // in the order they were added
    std::vector<FilterRecord> records_;         // the pairings' records, in the same order
    Iso15765TransmitQueue transmits_;
};

}  // namespace vtx
