#include "channel/ByteOrder.h"

#include <gtest/gtest.h>

#include <array>

namespace vtx {
namespace {

TEST(SwapBytes32, NullPointerGivesZero) {
    EXPECT_EQ(swapBytes32(nullptr, true, false), 0u);
    EXPECT_EQ(swapBytes32(nullptr, false, true), 0u);
}

TEST(SwapBytes32, ReadsEachWay) {
    struct Case {
        bool swap;
        bool inPlace;
        uint32_t result;
        std::array<uint8_t, 4> bytesAfter;
    };
    const Case cases[] = {
        {false, false, 0xE8070000, {0x00, 0x00, 0x07, 0xE8}},
        {false, true, 0xE8070000, {0x00, 0x00, 0x07, 0xE8}},
        {true, false, 0x000007E8, {0x00, 0x00, 0x07, 0xE8}},
        {true, true, 0x000007E8, {0xE8, 0x07, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        std::array<uint8_t, 4> bytes = {0x00, 0x00, 0x07,
                                        0xE8};  // identifier 0x7E8 as J2534 has it
        EXPECT_EQ(swapBytes32(bytes.data(), c.swap, c.inPlace), c.result)
            << "swap " << c.swap << " in place " << c.inPlace;
        EXPECT_EQ(bytes, c.bytesAfter) << "swap " << c.swap << " in place " << c.inPlace;
    }
}

TEST(SwapBytes32, TwentyNineBitIdentifierMostSignificantFirst) {
    uint8_t bytes[] = {0x18, 0xDA, 0xF1, 0x10, 0x99};
    EXPECT_EQ(swapBytes32(bytes, true, false), 0x18DAF110u);
}

}  // namespace
}  // namespace vtx
