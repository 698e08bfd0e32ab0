// The text forms of frames, filters and payloads, as the command line and logs write them.
#include "tools/ptcan/FrameText.h"

#include <gtest/gtest.h>

#include <ostream>

namespace ptcan {
namespace {

struct ParseCase {
    const char* text;
    std::optional<Frame> frame;
};

// Test names show the text parsed, not the case's bytes.
void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class FrameParse : public testing::TestWithParam<ParseCase> {};

TEST_P(FrameParse, ReadsWhatCanUtilsWrite) {
    EXPECT_EQ(FrameText::parse(GetParam().text), GetParam().frame) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameParse,
    testing::Values(ParseCase{"123#DEADBEEF", Frame{0x123, false, {0xDE, 0xAD, 0xBE, 0xEF}}},
                    ParseCase{"1ABCDEF0#00", Frame{0x1ABCDEF0, true, {0x00}}},
                    ParseCase{"7FF#", Frame{0x7FF, false, {}}},
                    ParseCase{"0123#11", Frame{0x123, true, {0x11}}},  // 4 digits: 29-bit
                    ParseCase{"7df#02.01.0c", Frame{0x7DF, false, {0x02, 0x01, 0x0C}}},
                    ParseCase{"1FFFFFFF#0102030405060708",
                              Frame{0x1FFFFFFF, true, {1, 2, 3, 4, 5, 6, 7, 8}}},
                    ParseCase{"800#00", std::nullopt},       // beyond 11 bits
                    ParseCase{"20000000#00", std::nullopt},  // beyond 29 bits
                    ParseCase{"123456789#00", std::nullopt},
                    ParseCase{"123#123", std::nullopt},  // odd digit count
                    ParseCase{"123#010203040506070809", std::nullopt},
                    ParseCase{"#00", std::nullopt}, ParseCase{"123", std::nullopt},
                    ParseCase{"12G#00", std::nullopt}, ParseCase{"123#0G", std::nullopt},
                    ParseCase{"123#0.1", std::nullopt}));

TEST(FrameFormat, WidthFromTheFrameAndUpperCaseHex) {
    const struct {
        Frame frame;
        const char* text;
    } cases[] = {
        {Frame{0x7E8, false, {0x04, 0x41, 0x0c}}, "7E8#04410C"},
        {Frame{0x5, false, {}}, "005#"},
        {Frame{0x5, true, {}}, "00000005#"},
        {Frame{0x18DAF110, true, {0xab, 0x00}}, "18DAF110#AB00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameText::format(c.frame), c.text);
        EXPECT_EQ(FrameText::parse(c.text), c.frame) << c.text;
    }
}

TEST(FilterText, IdMaskWithTheWidthOfTheIdOrForced) {
    EXPECT_EQ(FrameText::parseFilter("7E8:7FF", false), (PassFilter{0x7E8, 0x7FF, false}));
    EXPECT_EQ(FrameText::parseFilter("7E8:7FF", true), (PassFilter{0x7E8, 0x7FF, true}));
    EXPECT_EQ(FrameText::parseFilter("18DAF110:1FFFFF00", false),
              (PassFilter{0x18DAF110, 0x1FFFFF00, true}));
    for (const char* bad : {"7E8", "7E8:", ":7FF", "XYZ:1", "800:7FF"}) {
        EXPECT_FALSE(FrameText::parseFilter(bad, false)) << bad;
    }
}

TEST(HexText, ArgumentsJoinedSeparatorsBetweenBytesOnly) {
    const std::vector<uint8_t> request{0x22, 0xF1, 0x90};
    EXPECT_EQ(FrameText::parseHex({"22", "F1", "90"}), request);
    EXPECT_EQ(FrameText::parseHex({"22f190"}), request);
    EXPECT_EQ(FrameText::parseHex({"22 F1.90"}), request);
    EXPECT_FALSE(FrameText::parseHex({"2", "2"}));
    EXPECT_FALSE(FrameText::parseHex({"0G"}));
    EXPECT_EQ(FrameText::formatHex(request), "22 F1 90");
}

}  // namespace
}  // namespace ptcan
