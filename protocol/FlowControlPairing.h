// One flow-control filter of an ISO 15765 channel: the ECU's address (the pattern, under its
// mask) whose frames it lets in, the tester's address (the flow-control message) its flow
// control goes out from, and the receiver that reassembles the ECU's messages.
#pragma once

#include <cstdint>
#include <optional>

#include "base/CanFrame.h"
#include "protocol/ChannelProtocol.h"
#include "protocol/FilterRecord.h"
#include "protocol/ProtocolOutput.h"
#include "protocol/isotp/IsoTpAddress.h"
#include "protocol/isotp/IsoTpReceiver.h"
#include "protocol/isotp/IsoTpTime.h"

namespace vtx {

class FlowControlPairing {
  public:
    // request: a checked flow-control filter; offer: the channel's ISO15765_BS and STMIN.
    FlowControlPairing(const FilterRequest& request, uint32_t filterId,
                       const isotp::FlowControlOffer& offer);

    // The filter as the channel sees it: the pattern's identifier under the mask's.
    const FilterRecord& record() const { return record_; }
    uint32_t filterId() const { return record_.id; }
    // Where the ECU's frames come from: the pattern.
    const isotp::IsoTpAddress& ecuAddress() const { return ecuAddress_; }
    // Where the tester's frames go: the flow-control message.
    const isotp::IsoTpAddress& testerAddress() const { return testerAddress_; }

    // Whether a received frame is the ECU's: its width, its identifier under the mask and,
    // with extended addressing, its address byte under the mask's.
    bool admits(const CanFrame& frame) const;
    // Hands an admitted frame to the receiver: flow control into out.frames, a first-frame
    // indication or a whole message into out.messages. A broken reception gives nothing.
    void receive(const CanFrame& frame, isotp::TimePoint now, ProtocolOutput& out);
    // The message of an admitted single frame, without touching the reception under way; none
    // for any other frame.
    std::optional<ChannelMessage> singleFrameMessage(const CanFrame& frame) const;
    // Gives up a reception whose next frame is overdue.
    void tick(isotp::TimePoint now);
    std::optional<isotp::TimePoint> nextTickAt() const { return receiver_.nextTickAt(); }
    void abortReception() { receiver_.abort(); }
    void setOffer(const isotp::FlowControlOffer& offer) { receiver_.setOffer(offer); }

  private:
    // The frame as the receiver expects it: the pattern's identifier and address byte, so that
    // a frame the mask admits reaches it whatever the masked-out bits held.
    CanFrame asFromEcu(const CanFrame& frame) const;
    // The address the frame came from, as its message names it.
    isotp::IsoTpAddress senderOf(const CanFrame& frame) const;
    // The message the reader gets for a whole payload from that sender.
    static ChannelMessage messageFrom(const isotp::IsoTpAddress& sender,
                                      const isotp::ReceivedMessage& message, uint32_t timestamp);

    FilterRecord record_;
    isotp::IsoTpAddress ecuAddress_;
    isotp::IsoTpAddress testerAddress_;
    uint8_t addressByteMask_ = 0;  // with extended addressing, the mask's fifth byte
    isotp::IsoTpReceiver receiver_;
};

}  // namespace vtx
