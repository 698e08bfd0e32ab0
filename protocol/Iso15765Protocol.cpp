#include "protocol/Iso15765Protocol.h"

#include <algorithm>
#include <span>
#include <utility>

#include "base/ErrorTexts.h"
#include "protocol/Iso15765Messages.h"
#include "protocol/isotp/IsoTpFrame.h"
#include "protocol/isotp/SeparationTime.h"

namespace vtx {

namespace {

// The earlier of two optional times; none only when both are none.
std::optional<isotp::TimePoint> earliest(std::optional<isotp::TimePoint> a,
                                         std::optional<isotp::TimePoint> b) {
    if (!a || !b) {
        return a ? a : b;
    }
    return std::min(*a, *b);
}

}  // namespace

// Only flow-control filters, with their flow-control message, each address used once.
ProtocolVerdict Iso15765Protocol::checkFilter(const FilterRequest& request) const {
    if (request.type == PASS_FILTER || request.type == BLOCK_FILTER) {
        return {ERR_INVALID_FILTER_ID, text::kNoPassBlockOnIso15765};
    }
    if (request.type != FLOW_CONTROL_FILTER) {
        return {ERR_INVALID_MSG};
    }
    if (request.flowControl == nullptr) {
        return {ERR_NULL_PARAMETER};
    }
    const ProtocolVerdict verdict = iso15765::checkFilterMessages(request, flags_);
    if (!verdict.accepted()) {
        return verdict;
    }
    if (addressInUse(request)) {
        return {ERR_NOT_UNIQUE};
    }
    return {};
}

const FilterRecord* Iso15765Protocol::addFilter(const FilterRequest& request, uint32_t id) {
    if (pairings_.size() >= kMaxFilters) {
        return nullptr;
    }
    const FlowControlPairing& added = pairings_.emplace_back(request, id, parameters_.offer());
    return &records_.emplace_back(added.record());
}

bool Iso15765Protocol::hasFilter(uint32_t id) const {
    return std::any_of(records_.begin(), records_.end(),
                       [id](const FilterRecord& f) { return f.id == id; });
}

void Iso15765Protocol::removeFilter(uint32_t id) {
    std::erase_if(pairings_, [id](const FlowControlPairing& p) { return p.filterId() == id; });
    std::erase_if(records_, [id](const FilterRecord& f) { return f.id == id; });
}

void Iso15765Protocol::clearFilters() {
    pairings_.clear();
    records_.clear();
}

// A message of this protocol; one that needs more than a single frame needs a filter to take
// the ECU's flow control from.
ProtocolVerdict Iso15765Protocol::checkTransmit(const PASSTHRU_MSG& msg) const {
    const ProtocolVerdict verdict = iso15765::checkMessage(msg, flags_);
    if (!verdict.accepted()) {
        return verdict;
    }
    if (needsFlowControl(msg) && pairingSendingFrom(iso15765::addressOf(msg)) == nullptr) {
        return {ERR_NO_FLOW_CONTROL};
    }
    return {};
}

// The same message rules, and a single frame only: a periodic message is repeated as one frame.
ProtocolVerdict Iso15765Protocol::checkPeriodic(const PASSTHRU_MSG& msg) const {
    const ProtocolVerdict verdict = iso15765::checkMessage(msg, flags_);
    if (!verdict.accepted()) {
        return verdict;
    }
    if (needsFlowControl(msg)) {
        return {ERR_INVALID_MSG};
    }
    return {};
}

CanFrame Iso15765Protocol::frameOf(const PASSTHRU_MSG& msg, EchoMarker marker) const {
    CanFrame frame = isotp::buildSingleFrame(iso15765::addressOf(msg), iso15765::payloadOf(msg),
                                             iso15765::paddingOf(msg));
    if (marker == EchoMarker::With) {
        frame.idCan |= kEchoMarker;
    }
    return frame;
}

const FilterRecord* Iso15765Protocol::admittingFilter(const CanFrame& frame, Echo echo) const {
    if (echo == Echo::Yes) {
        return nullptr;
    }
    const FlowControlPairing* pairing = pairingAdmitting(frame);
    return pairing == nullptr ? nullptr : &pairing->record();
}

ChannelMessage Iso15765Protocol::messageOf(const CanFrame& frame) const {
    const FlowControlPairing* pairing = pairingAdmitting(frame);
    if (pairing == nullptr) {
        return {};
    }
    return pairing->singleFrameMessage(frame).value_or(ChannelMessage{});
}

void Iso15765Protocol::receiveFrame(const CanFrame& frame, Echo echo, isotp::TimePoint now,
                                    ProtocolOutput& out) {
    if (echo == Echo::Yes) {
        deliverEcho(frame, out);
        return;
    }
    if (FlowControlPairing* pairing = pairingAdmitting(frame)) {
        pairing->receive(frame, now, out);
    }
    transmits_.receiveFrame(frame, now, out);
}

// Only a periodic message goes out marked for an echo (a transfer makes its loopback copy when
// it ends), so an echo is the single frame of one. Its addressing is that of the filter sending
// from its identifier; normal without one.
void Iso15765Protocol::deliverEcho(const CanFrame& frame, ProtocolOutput& out) const {
    isotp::IsoTpAddress address;
    address.canId = frame.idCan & ~kEchoMarker;
    address.width =
        frame.idExt != 0 ? isotp::CanIdWidth::Extended29 : isotp::CanIdWidth::Standard11;
    for (const FlowControlPairing& pairing : pairings_) {
        const isotp::IsoTpAddress& tester = pairing.testerAddress();
        if (tester.canId == address.canId && tester.width == address.width) {
            address.extendedAddress = tester.extendedAddress;
            break;
        }
    }
    CanFrame unmarked = frame;
    unmarked.idCan = address.canId;
    const std::optional<isotp::DecodedFrame> decoded =
        isotp::decodeFrame(unmarked, address, isotp::PaddingMode::Off);
    const auto* single = decoded ? std::get_if<isotp::SingleFrame>(&decoded->content) : nullptr;
    if (single != nullptr) {
        out.messages.push_back(
            iso15765::messageFor(address, TX_MSG_TYPE, single->data.view(), frame.Timestamp));
    }
}

uint64_t Iso15765Protocol::startTransmit(const PASSTHRU_MSG& msg, Loopback loopback,
                                         isotp::TimePoint now, ProtocolOutput& out) {
    const std::span<const uint8_t> payload = iso15765::payloadOf(msg);
    if (!transmits_.hasRoomFor(payload.size())) {
        return 0;
    }
    const uint64_t id = nextTransmitId();
    transmits_.push({id, loopback, senderSettings(msg), {payload.begin(), payload.end()}}, now,
                    out);
    return id;
}

void Iso15765Protocol::tick(isotp::TimePoint now, ProtocolOutput& out) {
    for (FlowControlPairing& pairing : pairings_) {
        pairing.tick(now);
    }
    transmits_.tick(now, out);
}

std::optional<isotp::TimePoint> Iso15765Protocol::nextTickAt() const {
    std::optional<isotp::TimePoint> next = transmits_.nextTickAt();
    for (const FlowControlPairing& pairing : pairings_) {
        next = earliest(next, pairing.nextTickAt());
    }
    return next;
}

ProtocolVerdict Iso15765Protocol::getConfig(uint32_t parameter, uint32_t& value) const {
    return parameters_.get(parameter, value);
}

// A new block size or STmin holds from the next flow control the receivers send; new transmit
// overrides and wait limit from the next message that starts.
ProtocolVerdict Iso15765Protocol::setConfig(uint32_t parameter, uint32_t value) {
    const ProtocolVerdict verdict = parameters_.set(parameter, value);
    if (verdict.accepted()) {
        for (FlowControlPairing& pairing : pairings_) {
            pairing.setOffer(parameters_.offer());
        }
    }
    return verdict;
}

void Iso15765Protocol::abortTransmits(ProtocolOutput& out) {
    transmits_.abortAll(out);
}

void Iso15765Protocol::abortReceptions() {
    for (FlowControlPairing& pairing : pairings_) {
        pairing.abortReception();
    }
}

bool Iso15765Protocol::addressInUse(const FilterRequest& request) const {
    const isotp::IsoTpAddress ecu = iso15765::addressOf(*request.pattern);
    const isotp::IsoTpAddress tester = iso15765::addressOf(*request.flowControl);
    return std::any_of(pairings_.begin(), pairings_.end(), [&](const FlowControlPairing& p) {
        return iso15765::sameAddress(p.ecuAddress(), ecu) ||
               iso15765::sameAddress(p.testerAddress(), tester);
    });
}

const FlowControlPairing* Iso15765Protocol::pairingSendingFrom(
    const isotp::IsoTpAddress& address) const {
    const auto found =
        std::find_if(pairings_.begin(), pairings_.end(), [&](const FlowControlPairing& p) {
            return iso15765::sameAddress(p.testerAddress(), address);
        });
    return found == pairings_.end() ? nullptr : &*found;
}

FlowControlPairing* Iso15765Protocol::pairingAdmitting(const CanFrame& frame) {
    return const_cast<FlowControlPairing*>(std::as_const(*this).pairingAdmitting(frame));
}

const FlowControlPairing* Iso15765Protocol::pairingAdmitting(const CanFrame& frame) const {
    const auto found = std::find_if(pairings_.begin(), pairings_.end(),
                                    [&](const FlowControlPairing& p) { return p.admits(frame); });
    return found == pairings_.end() ? nullptr : &*found;
}

bool Iso15765Protocol::needsFlowControl(const PASSTHRU_MSG& msg) const {
    return iso15765::payloadOf(msg).size() > iso15765::addressOf(msg).maxSingleFrameLength();
}

// The message's frames go to its own address; the ECU's flow control comes from the pattern of
// the filter that names that address (a single frame, which needs none, may have no filter).
isotp::IsoTpSenderSettings Iso15765Protocol::senderSettings(const PASSTHRU_MSG& msg) const {
    isotp::IsoTpSenderSettings settings;
    settings.transmitAddress = iso15765::addressOf(msg);
    if (const FlowControlPairing* pairing = pairingSendingFrom(settings.transmitAddress)) {
        settings.flowControlAddress = pairing->ecuAddress();
    }
    settings.padding = iso15765::paddingOf(msg);
    settings.waitFrameLimit = parameters_.waitFrameLimit();
    settings.blockSizeOverride = parameters_.blockSizeOverride();
    settings.separationTimeOverride = parameters_.separationTimeOverride();
    settings.wireWaitMargin = isotp::longestFrameTime(bitRate_);
    return settings;
}

}  // namespace vtx
