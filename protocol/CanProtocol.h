// Raw CAN on a channel: a message is one frame (four identifier bytes, then up to eight data
// bytes); pass filters let frames of their identifier width through, block filters keep the
// frames they match out.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/ChannelProtocol.h"

namespace vtx {

class CanProtocol final : public ChannelProtocol {
  public:
    // flags: the connect flags (CAN_29BIT_ID, CAN_ID_BOTH), which say what widths filters may
    // be for.
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
