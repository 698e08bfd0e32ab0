#include "fuzz/FrameCodecChecks.h"

#include <algorithm>
#include <cstring>

#include "device/DevicePackets.h"
#include "fuzz/FuzzCheck.h"
#include "sim/SimPacket.h"

namespace vtx::fuzz {

namespace {
constexpr uint8_t kMaxData = 8;

bool sameRecord(const CanFrame& a, const CanFrame& b) {
    const uint8_t valid = std::min(a.lenDataCan, kMaxData);
    return a.idCan == b.idCan && a.idExt == b.idExt && a.lenDataCan == b.lenDataCan &&
           std::memcmp(a.dataCan, b.dataCan, valid) == 0;
}

bool recordIsFrame(const CanFrame& record, const sim::CanFrame& frame) {
    return record.idCan == frame.id && record.idExt == (frame.extended ? 1 : 0) &&
           record.lenDataCan == frame.dlc &&
           std::equal(frame.data.begin(), frame.data.begin() + frame.dlc, record.dataCan);
}
}  // namespace

void checkHostFrameRoundTrip(const uint8_t* packet) {
    const CanFrame first = packet::unpackFrame(packet);
    FUZZ_CHECK(first.idCan <= kCanIdMask29);
    FUZZ_CHECK(first.idExt <= 1);
    FUZZ_CHECK(first.idExt == 1 || first.idCan <= kCanIdMask11);
    uint8_t repacked[packet::kSize];
    packet::packFrame(first, repacked);
    FUZZ_CHECK(sameRecord(first, packet::unpackFrame(repacked)));
}

void checkDeviceHostAgreement(const uint8_t* packet) {
    sim::Packet hostWritten{};
    std::memcpy(hostWritten.data(), packet, sim::kPacketSize);
    const sim::CanFrame frame = sim::unpackFrame(hostWritten);
    FUZZ_CHECK(frame.dlc <= kMaxData);
    FUZZ_CHECK(frame.id <= (frame.extended ? kCanIdMask29 : kCanIdMask11));

    const sim::Packet deviceSent = sim::packFrame(frame);
    const CanFrame received = packet::unpackFrame(deviceSent.data());
    FUZZ_CHECK(recordIsFrame(received, frame));

    sim::Packet hostPacket{};
    packet::packFrame(received, hostPacket.data());
    FUZZ_CHECK(sim::unpackFrame(hostPacket) == frame);
}

void checkIdentification(const uint8_t* reply64) {
    uint8_t block[32];
    const bool assembled = packet::assembleIdentification(reply64, block);
    bool allIdentClass = true;
    for (int i = 0; i < 4; ++i) {
        allIdentClass = allIdentClass && reply64[i * packet::kSize] == packet::kClassIdentReply;
    }
    FUZZ_CHECK(assembled == allIdentClass);
    if (!assembled) {
        return;
    }
    // Block bytes 8i..8i+7 are bytes 8..15 of packet i.
    FUZZ_CHECK(packet::identificationSerial(block) ==
               (static_cast<uint32_t>(reply64[3 * 16 + 11]) << 24 |
                static_cast<uint32_t>(reply64[3 * 16 + 12]) << 16 |
                static_cast<uint32_t>(reply64[3 * 16 + 13]) << 8 | reply64[3 * 16 + 14]));
    FUZZ_CHECK(packet::identificationCustomer(block) ==
               (static_cast<uint32_t>(reply64[3 * 16 + 9]) << 8 | reply64[3 * 16 + 10]));
    packet::identificationChecksumOk(block);
}

}  // namespace vtx::fuzz
