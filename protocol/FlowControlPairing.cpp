#include "protocol/FlowControlPairing.h"

#include <variant>

#include "protocol/ByteOrder.h"
#include "protocol/Iso15765Messages.h"

namespace vtx {

namespace {

constexpr std::size_t kAddressBytePosition = isotp::kNormalHeaderLength;

FilterRecord recordOf(const FilterRequest& request, uint32_t filterId) {
    const bool extended = (request.pattern->TxFlags & CAN_29BIT_ID) != 0;
    FilterRecord record;
    record.code = readBigEndian32(request.pattern->Data) & kCanIdMask29;
    record.mask = readBigEndian32(request.mask->Data) & (extended ? kCanIdMask29 : kCanIdMask11);
    record.filterType = FLOW_CONTROL_FILTER;
    record.widths = extended ? FilterRecord::kExtendedIds : FilterRecord::kStandardIds;
    record.id = filterId;
    return record;
}

isotp::IsoTpReceiverSettings receiverSettings(const FilterRequest& request,
                                              const isotp::FlowControlOffer& offer) {
    isotp::IsoTpReceiverSettings settings;
    settings.receiveAddress = iso15765::addressOf(*request.pattern);
    settings.flowControlAddress = iso15765::addressOf(*request.flowControl);
    settings.padding = iso15765::paddingOf(*request.flowControl);
    settings.offer = offer;
    return settings;
}

}  // namespace

FlowControlPairing::FlowControlPairing(const FilterRequest& request, uint32_t filterId,
                                       const isotp::FlowControlOffer& offer)
    : record_(recordOf(request, filterId)),
      ecuAddress_(iso15765::addressOf(*request.pattern)),
      testerAddress_(iso15765::addressOf(*request.flowControl)),
      receiver_(receiverSettings(request, offer)) {
    if (ecuAddress_.extendedAddress) {
        addressByteMask_ = request.mask->Data[kAddressBytePosition];
    }
}

bool FlowControlPairing::admits(const CanFrame& frame) const {
    if (!record_.appliesToWidthOf(frame) || (frame.idCan & kEchoMarker) != 0 ||
        (frame.idCan & record_.mask) != record_.code) {
        return false;
    }
    if (!ecuAddress_.extendedAddress) {
        return true;
    }
    return frame.lenDataCan > 0 && (frame.dataCan[0] & addressByteMask_) ==
                                       (*ecuAddress_.extendedAddress & addressByteMask_);
}

void FlowControlPairing::receive(const CanFrame& frame, isotp::TimePoint now, ProtocolOutput& out) {
    isotp::ReceiverOutput received = receiver_.onFrame(asFromEcu(frame), now);
    out.frames.insert(out.frames.end(), received.frames.begin(), received.frames.end());
    const isotp::IsoTpAddress sender = senderOf(frame);
    for (const isotp::ReceiverEvent& event : received.events) {
        if (std::holds_alternative<isotp::FirstFrameIndication>(event)) {
            out.messages.push_back(
                iso15765::messageFor(sender, ISO15765_FIRST_FRAME, {}, frame.Timestamp));
        } else if (const auto* message = std::get_if<isotp::ReceivedMessage>(&event)) {
            out.messages.push_back(messageFrom(sender, *message, frame.Timestamp));
        }
    }
}

std::optional<ChannelMessage> FlowControlPairing::singleFrameMessage(const CanFrame& frame) const {
    const std::optional<isotp::DecodedFrame> decoded =
        isotp::decodeFrame(asFromEcu(frame), ecuAddress_, receiver_.settings().padding.mode);
    const auto* single = decoded ? std::get_if<isotp::SingleFrame>(&decoded->content) : nullptr;
    if (single == nullptr) {
        return std::nullopt;
    }
    const std::span<const uint8_t> payload = single->data.view();
    return messageFrom(senderOf(frame), {{payload.begin(), payload.end()}, decoded->padding},
                       frame.Timestamp);
}

// A reception given up on time delivers nothing: the drop is the receiver's only event then.
void FlowControlPairing::tick(isotp::TimePoint now) {
    receiver_.tick(now);
}

CanFrame FlowControlPairing::asFromEcu(const CanFrame& frame) const {
    CanFrame normalized = frame;
    normalized.idCan = ecuAddress_.canId;
    if (ecuAddress_.extendedAddress && normalized.lenDataCan > 0) {
        normalized.dataCan[0] = *ecuAddress_.extendedAddress;
    }
    return normalized;
}

ChannelMessage FlowControlPairing::messageFrom(const isotp::IsoTpAddress& sender,
                                               const isotp::ReceivedMessage& message,
                                               uint32_t timestamp) {
    const uint32_t status =
        message.padding == isotp::PaddingCheck::Short ? ISO15765_PADDING_ERROR : 0;
    return iso15765::messageFor(sender, status, message.payload, timestamp);
}

isotp::IsoTpAddress FlowControlPairing::senderOf(const CanFrame& frame) const {
    isotp::IsoTpAddress sender = ecuAddress_;
    sender.canId = frame.idCan;
    if (sender.extendedAddress && frame.lenDataCan > 0) {
        sender.extendedAddress = frame.dataCan[0];
    }
    return sender;
}

}  // namespace vtx
