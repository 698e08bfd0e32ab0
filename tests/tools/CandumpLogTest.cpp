// candump's log lines, as python-can and canplayer read them, and the generator and load meter
// that feed them.
#include "tools/ptcan/CandumpLog.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tools/ptcan/BusLoadMeter.h"
#include "tools/ptcan/FrameGenerator.h"

namespace ptcan {
namespace {

using Direction = LogEntry::Direction;

struct LineCase {
    const char* line;
    int64_t timestampUs;
    const char* interface;
    Frame frame;
    Direction direction;
};

TEST(CandumpLogLine, ParsesAndWritesBack) {
    const LineCase cases[] = {
        {"(1700000000.123456) can0 123#DEADBEEF", 1700000000123456, "can0",
         Frame{0x123, false, {0xDE, 0xAD, 0xBE, 0xEF}}, Direction::Unmarked},
        {"(0.000005) j2534 7E8# R", 5, "j2534", Frame{0x7E8, false, {}}, Direction::Received},
        {"(12.100000) vcan0 18DAF110#AB T", 12100000, "vcan0", Frame{0x18DAF110, true, {0xAB}},
         Direction::Sent},
    };
    for (const LineCase& c : cases) {
        const std::optional<LogEntry> entry = CandumpLog::parseLine(c.line);
        ASSERT_TRUE(entry) << c.line;
        EXPECT_EQ(entry->timestampUs, c.timestampUs) << c.line;
        EXPECT_EQ(entry->interface, c.interface);
        EXPECT_EQ(entry->frame, c.frame);
        EXPECT_EQ(entry->direction, c.direction);
        EXPECT_EQ(CandumpLog::formatLine(*entry), c.line);
    }
}

TEST(CandumpLogLine, ShortFractionsAreScaledAndBadLinesRefused) {
    const std::optional<LogEntry> entry = CandumpLog::parseLine("(3.5) can0 001#\r");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->timestampUs, 3500000);
    for (const char* bad : {"(abc) can0 123#00", "1.0 can0 123#00", "(1.0) can0",
                            "(1.0) can0 123#00 X", "(1.0) can0 800#00", "(1.0 can0 123#00"}) {
        EXPECT_FALSE(CandumpLog::parseLine(bad)) << bad;
    }
}

TEST(CandumpLogRead, SkipsBlankLinesAndNamesTheFirstBadOne) {
    std::istringstream good("(1.000000) can0 123#00\n\n(1.500000) can0 124#01\n");
    std::vector<LogEntry> entries;
    std::string error;
    ASSERT_TRUE(CandumpLog::read(good, entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].timestampUs - entries[0].timestampUs, 500000);

    std::istringstream bad("(1.000000) can0 123#00\n\nnot a frame\n");
    entries.clear();
    EXPECT_FALSE(CandumpLog::read(bad, entries, error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

TEST(BusLoadMeter, NominalBitsPerFrameAndLoadOverTheWindow) {
    EXPECT_EQ(BusLoadMeter::frameBits(Frame{0x1, false, {}}), 47u);
    EXPECT_EQ(BusLoadMeter::frameBits(Frame{0x1, false, std::vector<uint8_t>(8)}), 111u);
    EXPECT_EQ(BusLoadMeter::frameBits(Frame{0x1, true, std::vector<uint8_t>(8)}), 131u);
    BusLoadMeter meter(500000);
    for (int i = 0; i < 1000; ++i) {
        meter.add(Frame{0x1, false, std::vector<uint8_t>(8)});
    }
    const BusLoadMeter::Reading reading = meter.take(0.5);
    EXPECT_DOUBLE_EQ(reading.framesPerSecond, 2000.0);
    EXPECT_DOUBLE_EQ(reading.loadPercent, 100.0 * 111000 / 250000);
    EXPECT_DOUBLE_EQ(meter.take(1.0).framesPerSecond, 0.0);  // the window starts again empty
}

TEST(FrameGenerator, IncrementingIdAndDataFixedLength) {
    const auto settings = FrameGenerator::fromText("i", "3", "i", false);
    ASSERT_TRUE(settings);
    FrameGenerator generator(*settings);
    EXPECT_EQ(generator.next(), (Frame{0, false, {0, 0, 0}}));
    EXPECT_EQ(generator.next(), (Frame{1, false, {1, 0, 0}}));
}

TEST(FrameGenerator, OptionTexts) {
    const auto fixed = FrameGenerator::fromText("18DA10F1", "r", "DEADBEEF", false);
    ASSERT_TRUE(fixed);
    FrameGenerator generator(*fixed);
    EXPECT_EQ(generator.next(), (Frame{0x18DA10F1, true, {0xDE, 0xAD, 0xBE, 0xEF}}));
    EXPECT_FALSE(FrameGenerator::fromText("800", "r", "r", false));
    EXPECT_FALSE(FrameGenerator::fromText("r", "9", "r", false));
    EXPECT_FALSE(FrameGenerator::fromText("r", "r", "010203040506070809", false));
}

}  // namespace
}  // namespace ptcan
