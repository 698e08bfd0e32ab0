#include "trace/TraceProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trace/TracePlaces.h"

namespace vtx::trace {
namespace {

struct RecordedEvent {
    std::string name;
    std::string message;
    std::vector<std::string> fieldNames;
    bool hasCounter;
    uint32_t counter;
};

// Stands in for the platform's tracing facility: one session at a given level.
class RecordingBackend : public TraceBackend {
  public:
    struct Log {
        std::mutex mutex;
        std::vector<RecordedEvent> events;
        bool registered = false;
        int registrations = 0;
    };

    RecordingBackend(Log& log, uint8_t sessionLevel, bool acceptRegistration = true)
        : log_(log), sessionLevel_(sessionLevel), accept_(acceptRegistration) {}

    bool registerProvider(std::string_view name, std::atomic<uint8_t>& level) override {
        EXPECT_EQ(name, "vtxpts32.dll");
        ++log_.registrations;
        if (!accept_) {
            return false;
        }
        level_ = &level;
        level.store(sessionLevel_);
        log_.registered = true;
        return true;
    }
    void unregisterProvider() override {
        level_->store(0);
        log_.registered = false;
    }
    void write(const TraceEvent& event) override {
        RecordedEvent recorded{std::string(event.name),
                               std::string(event.message),
                               {},
                               event.hasCounter,
                               event.counter};
        for (const TraceField& field : event.fields) {
            recorded.fieldNames.emplace_back(field.name);
        }
        std::lock_guard lock(log_.mutex);
        log_.events.push_back(std::move(recorded));
    }

  private:
    Log& log_;
    const uint8_t sessionLevel_;
    const bool accept_;
    std::atomic<uint8_t>* level_ = nullptr;
};

class TraceProviderTest : public ::testing::Test {
  protected:
    void startWith(std::optional<uint32_t> logSwitch, uint8_t sessionLevel = kLevelVerbose,
                   bool accept = true) {
        provider.start(logSwitch, std::make_unique<RecordingBackend>(log, sessionLevel, accept));
    }
    void TearDown() override { provider.releaseBackend(); }

    RecordingBackend::Log log;
    TraceProvider provider;
};

TEST_F(TraceProviderTest, SwitchOffOrMissingRegistersNothing) {
    for (const std::optional<uint32_t> value : {std::optional<uint32_t>(), std::optional(0u)}) {
        startWith(value);
        EXPECT_FALSE(provider.registered());
        EXPECT_EQ(log.registrations, 0);
        EXPECT_FALSE(provider.admits(Group::PassThru));
        EXPECT_FALSE(provider.admits(Group::EntryPoint));
        provider.releaseBackend();
    }
}

TEST_F(TraceProviderTest, RefusedRegistrationWritesNothing) {
    startWith(0x39, kLevelVerbose, false);
    EXPECT_EQ(log.registrations, 1);
    EXPECT_FALSE(provider.registered());
    EXPECT_FALSE(provider.admits(Group::PassThru));
}

TEST_F(TraceProviderTest, GroupsFollowTheSwitchBits) {
    const Group groups[] = {Group::PassThru,        Group::EntryPoint, Group::CommAndChannel,
                            Group::DriverDetection, Group::WinUsb,     Group::KernelUsb};
    struct Case {
        uint32_t logSwitch;
        bool admitted[6];  // in the order of groups
    };
    const Case cases[] = {
        {0x01, {true, true, true, false, false, false}},
        {0x02, {true, true, false, false, false, false}},
        {0x04, {true, true, false, false, false, false}},
        {0x08, {true, true, false, true, false, false}},
        {0x10, {true, true, false, false, true, false}},
        {0x20, {true, true, false, false, false, true}},
        {0x39, {true, true, true, true, true, true}},
        // Only the low byte selects groups.
        {0x100, {true, true, false, false, false, false}},
        {0xFFFFFF00, {true, true, false, false, false, false}},
    };
    for (const Case& c : cases) {
        startWith(c.logSwitch);
        ASSERT_TRUE(provider.registered());
        for (std::size_t i = 0; i < std::size(groups); ++i) {
            EXPECT_EQ(provider.admits(groups[i]), c.admitted[i])
                << "switch 0x" << std::hex << c.logSwitch << " group 0x"
                << static_cast<uint32_t>(groups[i]);
        }
        provider.releaseBackend();
    }
}

TEST_F(TraceProviderTest, NothingBelowTheVerboseLevel) {
    startWith(0x39, 4);
    EXPECT_TRUE(provider.registered());
    EXPECT_FALSE(provider.admits(Group::PassThru));
    EXPECT_FALSE(provider.admits(Group::EntryPoint));
    EXPECT_FALSE(provider.admits(Group::CommAndChannel));
}

TEST_F(TraceProviderTest, CounterStartsAtZeroAndSkipsTransferEvents) {
    startWith(0x39);
    provider.write("DllMain", place::kLibraryAttached, {});
    provider.write("WinUSBInterface", place::kDeviceFramesWritten, {u32("t", 1)}, Counter::None);
    provider.write("PassThru", place::kOpenStarted, {u32("lastError", 0)});
    ASSERT_EQ(log.events.size(), 3u);
    EXPECT_TRUE(log.events[0].hasCounter);
    EXPECT_EQ(log.events[0].counter, 0u);
    EXPECT_FALSE(log.events[1].hasCounter);
    EXPECT_EQ(log.events[2].counter, 1u);
    EXPECT_EQ(log.events[2].fieldNames, std::vector<std::string>{"lastError"});

    // A new load starts counting again.
    provider.releaseBackend();
    log.events.clear();
    startWith(0x39);
    provider.write("DllMain", place::kLibraryAttached, {});
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].counter, 0u);
}

TEST_F(TraceProviderTest, CounterValuesAreUniqueAcrossThreads) {
    startWith(0x39);
    constexpr int kThreads = 4;
    constexpr int kEventsEach = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < kEventsEach; ++i) {
                provider.write("Channel", place::kChannelFramesQueued, {u32("count", 1)});
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<uint32_t> counters;
    for (const RecordedEvent& event : log.events) {
        counters.push_back(event.counter);
    }
    std::sort(counters.begin(), counters.end());
    ASSERT_EQ(counters.size(), static_cast<std::size_t>(kThreads * kEventsEach));
    for (std::size_t i = 0; i < counters.size(); ++i) {
        ASSERT_EQ(counters[i], i);
    }
}

TEST_F(TraceProviderTest, NothingAfterTermTrace) {
    startWith(0x01);
    provider.termTrace();
    EXPECT_FALSE(log.registered);
    EXPECT_FALSE(provider.admits(Group::PassThru));
    EXPECT_FALSE(provider.admits(Group::EntryPoint));
}

}  // namespace
}  // namespace vtx::trace
