// The J2534 side of ISO 15765 messages: the identifier header a message starts with (4 bytes of
// CAN identifier, then the address byte with extended addressing), the checks every message
// and filter message of the protocol passes, and the messages and indications the reader gets.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/J2534.h"
#include "protocol/ChannelMessage.h"
#include "protocol/ChannelProtocol.h"
#include "protocol/isotp/FramePadding.h"
#include "protocol/isotp/IsoTpAddress.h"
#include "protocol/isotp/IsoTpFrame.h"

namespace vtx::iso15765 {

// The TxFlags an ISO 15765 message may carry.
inline constexpr uint32_t kTransmitFlags = CAN_29BIT_ID | ISO15765_FRAME_PAD | ISO15765_ADDR_TYPE;

// Of this protocol, no flag but kTransmitFlags, a width the connection carries, a header and 1
// to 4095 payload bytes.
ProtocolVerdict checkMessage(const PASSTHRU_MSG& msg, uint32_t connectFlags);
// Mask, pattern and flow-control message of a flow-control filter: a header only each, all of
// this protocol with the same TxFlags, the pattern's width one the connection carries.
// Uniqueness among the channel's filters is the caller's to check.
ProtocolVerdict checkFilterMessages(const FilterRequest& request, uint32_t connectFlags);

// The address a message's header names, with the width and addressing of its TxFlags.
isotp::IsoTpAddress addressOf(const PASSTHRU_MSG& msg);
// The bytes after the header.
std::span<const uint8_t> payloadOf(const PASSTHRU_MSG& msg);
// Padding on when the message's TxFlags carry ISO15765_FRAME_PAD.
isotp::FramePadding paddingOf(const PASSTHRU_MSG& msg);

// Whether two addresses name the same identifier, width and address byte.
bool sameAddress(const isotp::IsoTpAddress& a, const isotp::IsoTpAddress& b);

// The RxStatus bits that tell the reader an address's width and addressing.
uint32_t addressStatus(const isotp::IsoTpAddress& address);
// A message of the address's header then the payload, with the address's RxStatus bits and
// the given ones.
ChannelMessage messageFor(const isotp::IsoTpAddress& address, uint32_t status,
                          std::span<const uint8_t> payload, uint32_t timestamp);

}  // namespace vtx::iso15765
