// The bits a frame takes on the wire: CRC, stuff bits, nominal and stuffed lengths.
#include "sim/CanFrameBits.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

#include "tests/sim/SimTestHost.h"

namespace vtx::sim {
namespace {

using test::canFrame;

TEST(CanFrameBitsTest, CrcMatchesTheCatalogueCheckValue) {
    // CRC-15/CAN of the ASCII bytes "123456789", most significant bit first, is 0x059E.
    std::vector<uint8_t> bits;
    for (const char c : std::string_view("123456789")) {
        for (int bit = 7; bit >= 0; --bit) {
            bits.push_back(static_cast<uint8_t>((c >> bit) & 1));
        }
    }
    EXPECT_EQ(CanFrameBits::crc15(bits), 0x059E);
    EXPECT_EQ(CanFrameBits::crc15(std::vector<uint8_t>(19, 0)), 0);
}

TEST(CanFrameBitsTest, CountsTheStuffBitsOfEachFrame) {
    // Identifier 0, no data: 34 dominant bits (the CRC of zeros is zero), a stuff bit after
    // every fifth. The others were counted by an independent bit-string model of the frame.
    const struct {
        CanFrame frame;
        uint32_t stuffBits;
    } cases[] = {
        {canFrame(0x000, false, {}), 6},
        {canFrame(0x7FF, false, {}), 3},
        {canFrame(0x100, false, {0, 0, 0, 0, 0, 0, 0, 0}), 15},
        {canFrame(0x100, false, {0, 0, 0, 1, 0, 0, 0, 0}), 15},
        {canFrame(0x7E8, false, {0x04, 0x41, 0x0C, 0x0C, 0x80, 0x55, 0x55, 0x55}), 7},
        {canFrame(0x18DAF110, true, {0x04, 0x41, 0x0C, 0x0C, 0x80, 0x55, 0x55, 0x55}), 6},
        {canFrame(0x123, false, std::vector<uint8_t>(8, 0xFF)), 13},
        {canFrame(0x1FFFFFFF, true, std::vector<uint8_t>(8, 0xFF)), 18},
        {canFrame(0x0, true, std::vector<uint8_t>(8, 0x00)), 19},
        {canFrame(0x555, false, std::vector<uint8_t>(8, 0x55)), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CanFrameBits::stuffBits(c.frame), c.stuffBits) << std::hex << c.frame.id;
    }
}

// Whatever the frame, the stuff bits stay within the worst case of (stuffable bits - 1) / 4:
// 34 + 8 × DLC stuffable bits for an 11-bit identifier, 54 + 8 × DLC for a 29-bit one.
TEST(CanFrameBitsTest, StuffBitsStayWithinTheWorstCase) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        CanFrame f;
        f.extended = (random() & 1) != 0;
        f.id = static_cast<uint32_t>(random()) & (f.extended ? 0x1FFFFFFFu : 0x7FFu);
        f.dlc = static_cast<uint8_t>(random() % 9);
        for (uint8_t& byte : f.data) {
            byte = static_cast<uint8_t>(random() % 3 == 0 ? random() : (random() & 1) * 0xFF);
        }
        const uint32_t stuffable = (f.extended ? 54u : 34u) + 8u * f.dlc;
        ASSERT_LE(CanFrameBits::stuffBits(f), (stuffable - 1) / 4) << i;
    }
}

}  // namespace
}  // namespace vtx::sim
