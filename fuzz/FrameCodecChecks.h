// Properties of the two frame-packet codecs: the host's (device/DevicePackets) and the simulated
// device's (sim/SimPacket), written independently from the same packet table. Each check aborts
// on a packet that breaks its property.
#pragma once

#include <cstdint>

namespace vtx::fuzz {

// Any 16 bytes decoded by the host, packed again and decoded again give the same record.
void checkHostFrameRoundTrip(const uint8_t* packet);

// Any 16 bytes taken by the device as a host's frame packet: the frame the device sends back
// for it decodes on the host to the same frame, and the host's packet for that frame decodes on
// the device to it again.
void checkDeviceHostAgreement(const uint8_t* packet);

// The identification parser on any 64 bytes: a block is assembled only from four packets of the
// identification class, and its fields come from where the block says.
void checkIdentification(const uint8_t* reply64);

}  // namespace vtx::fuzz
