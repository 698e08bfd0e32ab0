#include "protocol/ByteOrder.h"

#include <gtest/gtest.h>

#include <array>

namespace vtx {
namespace {

TEST(ReadBigEndian32, NullPointerGivesZero) {
    EXPECT_EQ(readBigEndian32(nullptr), 0u);
}

TEST(ReadBigEndian32, FirstByteIsMostSignificantAndBytesStay) {
    struct Case {
        std::array<uint8_t, 5> bytes;
        uint32_t value;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x07, 0xE8, 0x99}, 0x000007E8},  // 11-bit identifier as J2534 has it
        {{0x18, 0xDA, 0xF1, 0x10, 0x99}, 0x18DAF110},  // 29-bit identifier
    };
    for (const Case& c : cases) {
        std::array<uint8_t, 5> bytes = c.bytes;
        EXPECT_EQ(readBigEndian32(bytes.data()), c.value);
        EXPECT_EQ(bytes, c.bytes);
    }
}

}  // namespace
}  // namespace vtx
