#include "protocol/CanProtocol.h"

#include <algorithm>

#include "base/ErrorTexts.h"
#include "protocol/ByteOrder.h"

namespace vtx {

namespace {
constexpr uint32_t kIdentifierBytes = 4;
constexpr uint32_t kFilterDataByte = kIdentifierBytes;  // the one data byte a filter reaches
constexpr uint32_t kMaxFilterDataSize = kIdentifierBytes + 1;
constexpr uint32_t kMaxMessageDataSize = kIdentifierBytes + 8;

bool extendedId(const PASSTHRU_MSG& msg) {
    return (msg.TxFlags & CAN_29BIT_ID) != 0;
}

// The widths a filter's TxFlags give it: 29-bit identifiers with CAN_29BIT_ID; without it,
// 11-bit identifiers, or both widths on a channel connected for both.
uint8_t widthsOfTxFlags(const PASSTHRU_MSG& pattern, uint32_t connectFlags) {
    if (extendedId(pattern)) {
        return FilterRecord::kExtendedIds;
    }
    return (connectFlags & CAN_ID_BOTH) != 0 ? FilterRecord::kBothIds : FilterRecord::kStandardIds;
}

// The widths a filter's RxStatus bits leave: where the mask's CAN_29BIT_ID is set, the one the
// pattern's CAN_29BIT_ID names; otherwise both.
uint8_t widthsOfRxStatus(const PASSTHRU_MSG& mask, const PASSTHRU_MSG& pattern) {
    if ((mask.RxStatus & CAN_29BIT_ID) == 0) {
        return FilterRecord::kBothIds;
    }
    return (pattern.RxStatus & CAN_29BIT_ID) != 0 ? FilterRecord::kExtendedIds
                                                  : FilterRecord::kStandardIds;
}

bool identifierMatches(const FilterRecord& filter, const CanFrame& frame) {
    return (frame.idCan & filter.mask) == filter.code;
}

// A frame without data bytes has nothing to compare: it matches where the mask compares nothing.
bool dataByteMatches(const FilterRecord& filter, const CanFrame& frame) {
    if (frame.lenDataCan == 0) {
        return filter.dataMask == 0;
    }
    return (frame.dataCan[0] & filter.dataMask) == filter.dataCode;
}

bool matches(const FilterRecord& filter, const CanFrame& frame) {
    return filter.appliesToWidthOf(frame) && identifierMatches(filter, frame) &&
           dataByteMatches(filter, frame);
}
}  // namespace

// Mask and pattern alike in size and flags, of this protocol, a pass or block filter, for an
// identifier width the connection carries.
ProtocolVerdict CanProtocol::checkFilter(const FilterRequest& request) const {
    const PASSTHRU_MSG& mask = *request.mask;
    const PASSTHRU_MSG& pattern = *request.pattern;
    if (mask.DataSize != pattern.DataSize || mask.TxFlags != pattern.TxFlags ||
        mask.DataSize > kMaxFilterDataSize) {
        return {ERR_INVALID_MSG};
    }
    if (mask.ProtocolID != CAN || pattern.ProtocolID != CAN) {
        return {ERR_MSG_PROTOCOL_ID};
    }
    if (request.type != PASS_FILTER && request.type != BLOCK_FILTER) {
        return {ERR_INVALID_MSG};
    }
    const uint32_t width = flags_ & (CAN_29BIT_ID | CAN_ID_BOTH);
    const bool ext = extendedId(pattern);
    if ((ext && width == 0) || (!ext && width == CAN_29BIT_ID)) {
        return {ERR_FAILED, text::kTxFlagsInconsistent};
    }
    return {};
}

const FilterRecord* CanProtocol::addFilter(const FilterRequest& request, uint32_t id) {
    if (filters_.size() >= kMaxFilters) {
        return nullptr;
    }
    const PASSTHRU_MSG& mask = *request.mask;
    const PASSTHRU_MSG& pattern = *request.pattern;
    FilterRecord record;
    record.widths = widthsOfTxFlags(pattern, flags_) & widthsOfRxStatus(mask, pattern);
    record.code = readBigEndian32(pattern.Data) & kCanIdMask29;
    record.mask = readBigEndian32(mask.Data) & record.identifierBits();
    if (mask.DataSize > kFilterDataByte) {
        record.dataMask = mask.Data[kFilterDataByte];
        record.dataCode = pattern.Data[kFilterDataByte];
    }
    record.filterType = request.type;
    record.id = id;
    return &filters_.emplace_back(record);
}

bool CanProtocol::hasFilter(uint32_t id) const {
    return std::any_of(filters_.begin(), filters_.end(),
                       [id](const FilterRecord& f) { return f.id == id; });
}

void CanProtocol::removeFilter(uint32_t id) {
    std::erase_if(filters_, [id](const FilterRecord& f) { return f.id == id; });
}

// Of this protocol, four identifier bytes and up to eight data bytes, no flag but the width.
ProtocolVerdict CanProtocol::checkTransmit(const PASSTHRU_MSG& msg) const {
    if (msg.ProtocolID != CAN) {
        return {ERR_MSG_PROTOCOL_ID};
    }
    if (msg.DataSize < kIdentifierBytes || msg.DataSize > kMaxMessageDataSize) {
        return {ERR_INVALID_MSG};
    }
    if ((msg.TxFlags & ~CAN_29BIT_ID) != 0) {
        return {ERR_FAILED, text::kInvalidTxFlags};
    }
    return {};
}

// The same message rules; a flag other than the width is not supported on a periodic message.
ProtocolVerdict CanProtocol::checkPeriodic(const PASSTHRU_MSG& msg) const {
    if (msg.ProtocolID != CAN) {
        return {ERR_MSG_PROTOCOL_ID};
    }
    if ((msg.TxFlags & ~CAN_29BIT_ID) != 0) {
        return {ERR_NOT_SUPPORTED};
    }
    if (msg.DataSize < kIdentifierBytes || msg.DataSize > kMaxMessageDataSize) {
        return {ERR_INVALID_MSG};
    }
    return {};
}

CanFrame CanProtocol::frameOf(const PASSTHRU_MSG& msg, EchoMarker marker) const {
    return frameFromMessage(msg, marker);
}

// An echo is admitted by the first filter. Any other frame by the first pass filter it matches,
// unless a block filter matches it too: a block filter keeps a frame out whatever admits it.
const FilterRecord* CanProtocol::admittingFilter(const CanFrame& frame, Echo echo) const {
    if (echo == Echo::Yes) {
        return filters_.empty() ? nullptr : &filters_.front();
    }
    const FilterRecord* admitting = nullptr;
    for (const FilterRecord& filter : filters_) {
        if (filter.filterType == BLOCK_FILTER && matches(filter, frame)) {
            return nullptr;
        }
        if (admitting == nullptr && filter.filterType == PASS_FILTER && matches(filter, frame)) {
            admitting = &filter;
        }
    }
    return admitting;
}

ChannelMessage CanProtocol::messageOf(const CanFrame& frame) const {
    const uint32_t id = frame.idCan & ~kEchoMarker;
    const uint8_t length = std::min<uint8_t>(frame.lenDataCan, 8);
    ChannelMessage message;
    message.rxStatus =
        ((frame.idCan & kEchoMarker) ? TX_MSG_TYPE : 0) | (frame.idExt ? CAN_29BIT_ID : 0);
    message.timestamp = frame.Timestamp;
    message.data.reserve(kIdentifierBytes + length);
    for (const int shift : {24, 16, 8, 0}) {
        message.data.push_back(static_cast<uint8_t>(id >> shift));
    }
    message.data.append(std::span(frame.dataCan, length));
    return message;
}

}  // namespace vtx
