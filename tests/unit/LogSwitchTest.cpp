#include "trace/LogSwitch.h"

#include <gtest/gtest.h>

namespace vtx::trace {
namespace {

TEST(ParseLogSwitch, DecimalAndHexadecimal) {
    struct Case {
        const char* text;
        std::optional<uint32_t> value;
    };
    const Case cases[] = {
        {"0", 0u},
        {"1", 1u},
        {"57", 57u},
        {"0x39", 0x39u},
        {"0X20", 0x20u},
        {"0xffffffff", 0xFFFFFFFFu},
        {"4294967295", 0xFFFFFFFFu},
        {"", std::nullopt},
        {"0x", std::nullopt},
        {"4294967296", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"1 ", std::nullopt},
        {"0x1g", std::nullopt},
        {"on", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseLogSwitch(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(ParseSessionLevel, FallsBackOnAnythingButASmallNumber) {
    EXPECT_EQ(parseSessionLevel("4", 5), 4);
    EXPECT_EQ(parseSessionLevel("255", 5), 255);
    EXPECT_EQ(parseSessionLevel("", 5), 5);
    EXPECT_EQ(parseSessionLevel("256", 5), 5);
    EXPECT_EQ(parseSessionLevel("verbose", 5), 5);
}

}  // namespace
}  // namespace vtx::trace
