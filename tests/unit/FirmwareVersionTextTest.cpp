// The firmware description of the version report, built from the identification data.
#include "operations/FirmwareVersionText.h"

#include <gtest/gtest.h>

#include <string>

namespace vtx {
namespace {

struct TextCase {
    uint32_t firmware;
    uint32_t serial;
    const char* expected;
};

TEST(FirmwareVersionText, FormatsSerialAndComponents) {
    const TextCase cases[] = {
        {0x0102000A, 1234, "VTX20 - N. 1234 - Ver FW 1.2.0.a"},
        {0x0A0B0C0D, 1234, "VTX20 - N. 1234 - Ver FW a.b.c.d"},
        {0x01000000, 1234, "VTX20 - N. 1234 - Ver FW 1.0.0.0"},
        {0x02010A0F, 0, "VTX20 - N. 0 - Ver FW 2.1.a.f"},
        {0x00000000, 7, "VTX20 - N. 7 - Ver FW 0.0.0.0"},
        {0xFFFFFFFF, 0xFFFFFFFF, "VTX20 - N. -1 - Ver FW ff.ff.ff.ff"},
        {0x10203040, 0x80000000, "VTX20 - N. -2147483648 - Ver FW 10.20.30.40"},
        {0x7F00FF01, 0x7FFFFFFF, "VTX20 - N. 2147483647 - Ver FW 7f.0.ff.1"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(firmwareVersionText("VTX20", c.firmware, c.serial), c.expected);
    }
}

// The product code is five characters without terminator: exactly five are taken, whatever
// follows them in memory, and a zero among them travels too.
TEST(FirmwareVersionText, TakesExactlyFiveCharactersOfTheProductCode) {
    const char block[] = {'A', 'B', 'C', 'D', 'E', 'X', 'Y', 'Z', '\0'};
    EXPECT_EQ(firmwareVersionText(block, 0x01020304, 5), "ABCDE - N. 5 - Ver FW 1.2.3.4");
}

TEST(FirmwareVersionText, ZeroInsideTheProductCodeIsKept) {
    const char code[] = {'V', 'T', '\0', '2', '0'};
    const std::string text = firmwareVersionText(code, 0x01000000, 9);
    std::string expected = "VT";
    expected += '\0';
    expected += "20 - N. 9 - Ver FW 1.0.0.0";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(text.size(), 29u);
}

}  // namespace
}  // namespace vtx
