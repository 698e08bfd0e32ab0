// The ISO 15765 parameters of a channel (GET_CONFIG / SET_CONFIG): what its receivers grant in
// their flow control, and how its senders treat the flow control they get.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/ChannelProtocol.h"
#include "protocol/isotp/IsoTpReceiver.h"
#include "protocol/isotp/IsoTpSender.h"

namespace vtx {

class Iso15765Parameters {
  public:
    // The value of parameter; ERR_NOT_SUPPORTED for one that is not an ISO 15765 parameter.
    ProtocolVerdict get(uint32_t parameter, uint32_t& value) const;
    // Sets parameter; ERR_INVALID_IOCTL_VALUE when value is out of its range (then nothing
    // changes), ERR_NOT_SUPPORTED for one that is not an ISO 15765 parameter.
    ProtocolVerdict set(uint32_t parameter, uint32_t value);

    // ISO15765_BS and ISO15765_STMIN, as the channel's receivers grant them.
    isotp::FlowControlOffer offer() const;
    // ISO15765_BS_TX and ISO15765_STMIN_TX: none when the ECU's values are used.
    std::optional<uint8_t> blockSizeOverride() const;
    std::optional<uint8_t> separationTimeOverride() const;
    // ISO15765_WFT_MAX.
    uint32_t waitFrameLimit() const { return waitFrameLimit_; }

  private:
    // The parameter's storage, or nullptr when it is not an ISO 15765 parameter.
    uint32_t* find(uint32_t parameter);
    const uint32_t* find(uint32_t parameter) const;

    uint32_t blockSize_ = 0;
    uint32_t separationTime_ = 0;
    uint32_t blockSizeTx_ = isotp::kUseReceiverValue;
    uint32_t separationTimeTx_ = isotp::kUseReceiverValue;
    uint32_t waitFrameLimit_ = 0;
};

}  // namespace vtx
