// Raw CAN on a channel: a message is one frame (four identifier bytes, then up to eight data
// bytes); pass filters let the frames they match through, block filters keep them out. A filter
// compares the identifier and, with five bytes, the first data byte, on frames of the identifier
// widths its flags give it (FilterRecord::widths).
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/ChannelProtocol.h"

namespace vtx {

class CanProtocol final : public ChannelProtocol {
  public:
    // flags: the connect flags (CAN_29BIT_ID, CAN_ID_BOTH), which say what widths filters may
    // be for, and which a filter without CAN_29BIT_ID applies to.
    explicit CanProtocol(uint32_t flags) : flags_(flags) {}

    uint32_t protocolId() const override { return CAN; }

    ProtocolVerdict checkFilter(const FilterRequest& request) const override;
    const FilterRecord* addFilter(const FilterRequest& request, uint32_t id) override;
    bool hasFilter(uint32_t id) const override;
    void removeFilter(uint32_t id) override;
    void clearFilters() override { filters_.clear(); }
    const std::vector<FilterRecord>& filters() const override { return filters_; }

    ProtocolVerdict checkTransmit(const PASSTHRU_MSG& msg) const override;
    ProtocolVerdict checkPeriodic(const PASSTHRU_MSG& msg) const override;
    CanFrame frameOf(const PASSTHRU_MSG& msg, EchoMarker marker) const override;

    const FilterRecord* admittingFilter(const CanFrame& frame, Echo echo) const override;
    ChannelMessage messageOf(const CanFrame& frame) const override;

  private:
    const uint32_t flags_;
    std::vector<FilterRecord> filters_;  // in the order they were added
};

}  // namespace vtx
