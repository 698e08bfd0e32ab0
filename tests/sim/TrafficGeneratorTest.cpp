#include "sim/TrafficGenerator.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace vtx::sim {
namespace {

using namespace std::chrono_literals;
using Rate = TrafficGenerator::Rate;

// Every frame on the bus with its end time.
class BusLog {
  public:
    struct Entry {
        CanFrame frame;
        SimClock::time_point end;
    };
    explicit BusLog(VirtualCanBus& bus) : bus_(bus) {
        id_ = bus_.addObserver([this](const CanFrame& f, SimClock::time_point end) {
            std::lock_guard lock(mutex_);
            entries_.push_back(Entry{f, end});
        });
    }
    ~BusLog() { bus_.removeObserver(id_); }
    std::vector<Entry> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

  private:
    VirtualCanBus& bus_;
    int id_ = 0;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;  // guarded by mutex_
};

uint32_t sequenceOf(const CanFrame& f) {
    return (uint32_t{f.data[0]} << 24) | (uint32_t{f.data[1]} << 16) | (uint32_t{f.data[2]} << 8) |
           f.data[3];
}

// The generator's frames are numbered 0, 1, 2, ... without a gap.
void expectGaplessSequence(const std::vector<BusLog::Entry>& entries) {
    uint32_t expected = 0;
    for (const BusLog::Entry& e : entries) {
        if (e.frame.id == TrafficGenerator::kIdentifier && !e.frame.extended) {
            ASSERT_EQ(sequenceOf(e.frame), expected);
            ++expected;
        }
    }
}

// The most frames whose end falls within any span of the given length.
std::size_t busiestSpan(const std::vector<BusLog::Entry>& entries, std::chrono::nanoseconds span) {
    std::size_t most = 0;
    std::size_t first = 0;
    for (std::size_t last = 0; last < entries.size(); ++last) {
        while (entries[last].end - entries[first].end >= span) {
            ++first;
        }
        most = std::max(most, last - first + 1);
    }
    return most;
}

TEST(TrafficGeneratorTest, ParsesTheSetting) {
    const struct {
        std::string_view text;
        std::optional<Rate> rate;
    } cases[] = {
        {"max", Rate{true, 0}},
        {"1", Rate{false, 1}},
        {"1000", Rate{false, 1000}},
        {"0100", Rate{false, 100}},
        {"4294967295", Rate{false, 4294967295u}},
        {"", std::nullopt},
        {"0", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"10x", std::nullopt},
        {"1.5", std::nullopt},
        {"4294967296", std::nullopt},
        {"MAX", std::nullopt},
        {"maximum", std::nullopt},
        {"off", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrafficGenerator::parseSetting(c.text), c.rate) << "'" << c.text << "'";
    }
}

TEST(TrafficGeneratorTest, FrameCarriesTheSequenceNumberBigEndian) {
    const CanFrame f = TrafficGenerator::frameFor(0x01020304);
    EXPECT_EQ(f.id, 0x100u);
    EXPECT_FALSE(f.extended);
    EXPECT_EQ(f.dlc, 8);
    EXPECT_EQ(f.data, (std::array<uint8_t, 8>{1, 2, 3, 4, 0, 0, 0, 0}));
    EXPECT_EQ(sequenceOf(TrafficGenerator::frameFor(0xFFFFFFFE)), 0xFFFFFFFEu);
}

// At "max" the bus carries what its bit rate allows, no more and hardly less, and no frame of
// the sequence is lost.
// Saturation is judged by the frames that follow each other back to back, not by a count in a
// window of real time: a generator thread held off the processor for a while by a loaded machine
// leaves one gap, which costs a window count more than the test could allow.
TEST(TrafficGeneratorTest, SaturatesTheBusToItsCapacity) {
    constexpr uint32_t kBusRate = 500000;
    VirtualCanBus bus(kBusRate);
    BusLog log(bus);
    const std::chrono::nanoseconds frameTime =
        VirtualCanBus::frameDuration(TrafficGenerator::frameFor(0), kBusRate);
    const double capacity = 1s / std::chrono::duration<double>(frameTime);  // frames per second
    constexpr std::size_t kFrames = 2000;
    {
        TrafficGenerator generator(bus, Rate{true, 0});
        const auto deadline = SimClock::now() + 20s;
        while (log.entries().size() < kFrames && SimClock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
    }
    const std::vector<BusLog::Entry> entries = log.entries();
    ASSERT_GE(entries.size(), kFrames);

    EXPECT_LE(busiestSpan(entries, 1s), static_cast<std::size_t>(capacity) + 1);
    std::size_t backToBack = 0;
    for (std::size_t i = 1; i < kFrames; ++i) {
        backToBack += entries[i].end - entries[i - 1].end == frameTime ? 1 : 0;
    }
    EXPECT_GE(backToBack, (kFrames - 1) * 9 / 10);
    expectGaplessSequence(entries);
}

// Frames go on the bus on the schedule, never ahead of it (they are queued ahead of their time
// and released at it), and the generator queues no more than kScheduleAhead early.
TEST(TrafficGeneratorTest, SendsAtTheGivenRate) {
    constexpr uint32_t kBusRate = 500000;
    constexpr double kPerSecond = 200;
    VirtualCanBus bus(kBusRate);
    BusLog log(bus);
    const std::chrono::nanoseconds frameTime =
        VirtualCanBus::frameDuration(TrafficGenerator::frameFor(0), kBusRate);
    const SimClock::time_point start = SimClock::now();
    std::size_t sent = 0;
    {
        TrafficGenerator generator(bus, Rate{false, static_cast<uint32_t>(kPerSecond)});
        std::this_thread::sleep_for(1s);
        sent = generator.framesQueued();
    }
    const SimClock::time_point stop = SimClock::now();
    const std::vector<BusLog::Entry> entries = log.entries();
    const double seconds = std::chrono::duration<double>(stop - start).count();
    const double ahead = std::chrono::duration<double>(TrafficGenerator::kScheduleAhead).count();
    for (const BusLog::Entry& e : entries) {
        const auto due = std::chrono::duration_cast<SimClock::duration>(
            std::chrono::duration<double>(sequenceOf(e.frame) / kPerSecond));
        ASSERT_GE(e.end - start, due + frameTime) << sequenceOf(e.frame);
    }
    // How far behind the schedule a loaded machine falls, and how much it sends at once to
    // catch up, is the machine's, not the generator's: no bound on either.
    EXPECT_LE(static_cast<double>(sent), kPerSecond * (seconds + ahead) + 1);
    EXPECT_GT(entries.size(), 0u);
    EXPECT_LE(entries.size(), sent);
    expectGaplessSequence(entries);
}

// A rate above what the bus carries keeps the generator's queue bounded and the bus at
// capacity, and leaves no gaps in the sequence.
TEST(TrafficGeneratorTest, RateAboveCapacityStaysBounded) {
    constexpr uint32_t kBusRate = 125000;
    VirtualCanBus bus(kBusRate);
    BusLog log(bus);
    const std::chrono::nanoseconds frameTime =
        VirtualCanBus::frameDuration(TrafficGenerator::frameFor(0), kBusRate);
    const auto reserve = static_cast<std::size_t>(
        std::chrono::nanoseconds(TrafficGenerator::kSaturationReserve) / frameTime + 1);
    {
        TrafficGenerator generator(bus, Rate{false, 1000000});
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(30ms);
            EXPECT_LE(bus.pending(&generator), std::max<std::size_t>(reserve, 8));
        }
        EXPECT_LT(generator.framesQueued(), 1000u);
    }
    const std::vector<BusLog::Entry> entries = log.entries();
    EXPECT_LE(busiestSpan(entries, 100ms), 100ms / frameTime + 1);
    expectGaplessSequence(entries);
}

// A generator given a 29-bit identifier puts 29-bit frames with it on the bus, numbered without a
// gap, each taking at least a 29-bit frame's time there (at "max" they follow back to back).
TEST(TrafficGeneratorTest, SendsFramesWithTheGivenIdentifier) {
    constexpr uint32_t kBusRate = 500000;
    constexpr TrafficGenerator::Identifier kExtended{0x18FEF100, true};
    VirtualCanBus bus(kBusRate);
    BusLog log(bus);
    constexpr std::size_t kFrames = 100;
    {
        TrafficGenerator generator(bus, Rate{true, 0}, kExtended);
        const auto deadline = SimClock::now() + 20s;
        while (log.entries().size() < kFrames && SimClock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
    }
    const std::vector<BusLog::Entry> entries = log.entries();
    ASSERT_GE(entries.size(), kFrames);
    const std::chrono::nanoseconds frameTime =
        VirtualCanBus::frameDuration(TrafficGenerator::frameFor(0, kExtended), kBusRate);
    EXPECT_GT(frameTime, VirtualCanBus::frameDuration(TrafficGenerator::frameFor(0), kBusRate));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(entries[i].frame.id, kExtended.id) << i;
        ASSERT_TRUE(entries[i].frame.extended) << i;
        ASSERT_EQ(sequenceOf(entries[i].frame), i);
        if (i > 0) {
            ASSERT_GE(entries[i].end - entries[i - 1].end, frameTime) << i;
        }
    }
}

TEST(TrafficGeneratorTest, StopsWhenDestroyed) {
    VirtualCanBus bus(500000);
    BusLog log(bus);
    auto generator = std::make_unique<TrafficGenerator>(bus, Rate{true, 0});
    std::this_thread::sleep_for(30ms);
    const SimClock::time_point start = SimClock::now();
    generator.reset();
    EXPECT_LT(SimClock::now() - start, 500ms);
    const std::size_t atStop = log.entries().size();
    EXPECT_GT(atStop, 0u);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(log.entries().size(), atStop);
}

}  // namespace
}  // namespace vtx::sim
