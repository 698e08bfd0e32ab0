// The points where the two driver families' handling of the packet protocol differs, set once by
// each family's device class for UsbProtocolDevice to follow. The defaults are the WinUSB
// family's behaviour.
#pragma once

#include <cstdint>

namespace vtx {

struct ProtocolQuirks {
    // The reply timeout a transfer header carries: the one its request asked for, or the device's
    // reply timeout (setReplyTimeout) whatever the request asked for.
    enum class HeaderTimeout : uint8_t { AsRequested, ReplyTimeout };
    // How a sent frame packet marks a 29-bit identifier in byte 2: with bits 20 and 19 of the
    // identifier word, or with bit 19 alone. Received packets are told apart by bit 19 either way.
    enum class ExtendedMarker : uint8_t { Bits20And19, Bit19Only };
    // What a frame packet's length byte carries: the low four bits of the record's length, or
    // the whole byte (a received length above 8 then keeps the 8 data bytes a record holds).
    enum class LengthByte : uint8_t { LowNibble, WholeByte };
    // The records of a read chunk that no packet filled: left zero, or marked with the all-ones
    // identifier.
    enum class UnreadRecords : uint8_t { LeftZero, AllOnesIdentifier };
    // Where the sample point and jump width the controller was programmed with are kept: in the
    // settings record too (replacing the asked-for ones), or in the device-info record only.
    enum class RealisedTiming : uint8_t { SettingsAndInfo, InfoOnly };
    // Who is told the auxiliary value: the device only, or the driver as well (transportAuxValue).
    enum class AuxValue : uint8_t { DeviceOnly, DeviceAndDriver };

    HeaderTimeout headerTimeout = HeaderTimeout::AsRequested;
    ExtendedMarker extendedMarker = ExtendedMarker::Bits20And19;
    LengthByte lengthByte = LengthByte::LowNibble;
    UnreadRecords unreadRecords = UnreadRecords::LeftZero;
    RealisedTiming realisedTiming = RealisedTiming::SettingsAndInfo;
    AuxValue auxValue = AuxValue::DeviceOnly;
};

}  // namespace vtx
