// Frame packets and the controller's bit timing and acceptance, as the device sees them.
#include "sim/SimPacket.h"

#include <gtest/gtest.h>

#include "sim/SimCanController.h"
#include "tests/sim/SimTestHost.h"

namespace vtx::sim {
namespace {

using namespace test;

struct PackingCase {
    uint32_t id;
    bool extended;
    std::array<uint8_t, 4> bytes;  // packet bytes 1 to 4 as the device sends them
};

// Names the case by its identifier; printed as raw bytes, the padding made names that changed
// from build to build.
void PrintTo(const PackingCase& c, std::ostream* out) {
    *out << std::hex << c.id << (c.extended ? " (29-bit)" : " (11-bit)");
}

class SimDevicePacketPacking : public ::testing::TestWithParam<PackingCase> {};

TEST_P(SimDevicePacketPacking, PacksAndUnpacksTheIdentifier) {
    const PackingCase c = GetParam();
    const CanFrame frame = canFrame(c.id, c.extended, {0x11, 0x22, 0x33});
    const Packet packet = packFrame(frame);
    EXPECT_EQ(packet, makePacket({0x01, c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3], 3, 0x11,
                                  0x22, 0x33}));
    EXPECT_EQ(packedIdentifierWord(frame), be32(packet, 1));
    EXPECT_EQ(unpackFrame(packet), frame);
    // The host's own packing (one marker bit fewer or more) reads back the same.
    EXPECT_EQ(unpackFrame(hostFrame(c.id, c.extended, {0x11, 0x22, 0x33})), frame);
}

INSTANTIATE_TEST_SUITE_P(Identifiers, SimDevicePacketPacking,
                         ::testing::Values(PackingCase{0x123, false, {0x24, 0x60, 0x00, 0x00}},
                                           PackingCase{0x7FF, false, {0xFF, 0xE0, 0x00, 0x00}},
                                           PackingCase{0x000, false, {0x00, 0x00, 0x00, 0x00}},
                                           PackingCase{0x18DAF110, true, {0xC6, 0xDD, 0xE2, 0x20}},
                                           PackingCase{0x1FFFFFFF, true, {0xFF, 0xFF, 0xFF, 0xFE}},
                                           PackingCase{
                                               0x00000001, true, {0x00, 0x18, 0x00, 0x02}}));

TEST(SimDevicePacket, UnpackingIgnoresTheBitsThatCarryNoIdentifier) {
    // Bit 3 of byte 2 clear: 11-bit, whatever bit 4 and bytes 3 and 4 hold.
    EXPECT_EQ(unpackFrame(makePacket({0x01, 0x24, 0x70, 0x55, 0x55})), canFrame(0x123, false, {}));
    // Bit 3 set: 29-bit, bit 4 of byte 2 and bit 0 of byte 4 ignored.
    EXPECT_EQ(unpackFrame(makePacket({0x01, 0x00, 0x08, 0x00, 0x03})), canFrame(1, true, {}));
}

TEST(SimDevicePacket, UnpackingTakesTheLowNibbleOfTheDlcAndClampsItToEight) {
    struct Case {
        uint8_t byte5;
        uint8_t dlc;
    };
    for (const Case c :
         {Case{0x03, 3}, Case{0xF3, 3}, Case{0x08, 8}, Case{0x0F, 8}, Case{0x09, 8}}) {
        const Packet packet = makePacket({0x01, 0x24, 0x60, 0, 0, c.byte5, 1, 2, 3, 4, 5, 6, 7, 8});
        const CanFrame frame = unpackFrame(packet);
        EXPECT_EQ(frame.dlc, c.dlc) << int{c.byte5};
        for (std::size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(frame.data[i], i < c.dlc ? i + 1 : 0);
        }
    }
}

TEST(SimDeviceController, BitRateMatchesTheBusWithinHalfAPercent) {
    const auto at500k = SimCanController::Timing::decode(kBtr0At500k, kBtr1At16Quanta);
    struct Case {
        uint32_t busRate;
        bool runs;
    };
    for (const Case c :
         {Case{500'000, true}, Case{498'000, true}, Case{502'400, true}, Case{497'000, false},
          Case{503'000, false}, Case{250'000, false}, Case{0, false}}) {
        EXPECT_EQ(at500k.runsAt(c.busRate), c.runs) << c.busRate;
    }
}

TEST(SimDeviceController, AcceptanceComparesOnlyWhereTheMaskIsZero) {
    SimCanController::Acceptance acceptance;
    acceptance.open = false;
    acceptance.code = 0x123u << 21;
    acceptance.mask = 0x0017FFFF;
    EXPECT_TRUE(acceptance.admits(canFrame(0x123, false, {})));
    EXPECT_FALSE(acceptance.admits(canFrame(0x122, false, {})));
    // A 29-bit frame whose top bits look like 0x123 differs in the extended-identifier bit.
    EXPECT_FALSE(acceptance.admits(canFrame(0x123u << 18, true, {})));
    acceptance.open = true;
    EXPECT_TRUE(acceptance.admits(canFrame(0x122, false, {})));
}

}  // namespace
}  // namespace vtx::sim
