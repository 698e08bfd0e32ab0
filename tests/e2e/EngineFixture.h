// What the engine's end-to-end tests share: loopback on and off, frames put on the bus from
// outside, bounded waits, reading what arrives, the simulated controller's state, and a look
// at the library's trace events from inside the test.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/SimPacket.h"
#include "tests/e2e/SimFixture.h"
#include "trace/TraceProvider.h"

namespace vtx::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls the condition until it holds or the time is up; whether it holds.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = 3000ms) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

inline int64_t millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Waits for work on another thread. One that does not finish is stuck for good (a deadlock):
// the run ends here rather than hang.
template <typename T>
T awaitOrAbort(std::future<T>& done, std::chrono::milliseconds timeout, const char* what) {
    if (done.wait_for(timeout) != std::future_status::ready) {
        ADD_FAILURE() << what << " did not finish within " << timeout.count() << " ms";
        std::fflush(stdout);
        std::abort();
    }
    return done.get();
}

// The names PassThruGetLastError gives the status codes (ERR_FAILED gives its text instead).
inline const char* statusName(uint32_t code) {
    static const char* const kNames[] = {
        "STATUS_NOERROR",           "ERR_NOT_SUPPORTED",
        "ERR_INVALID_CHANNEL_ID",   "ERR_INVALID_PROTOCOL_ID",
        "ERR_NULL_PARAMETER",       "ERR_INVALID_IOCTL_VALUE",
        "ERR_INVALID_FLAGS",        "ERR_FAILED",
        "ERR_DEVICE_NOT_CONNECTED", "ERR_TIMEOUT",
        "ERR_INVALID_MSG",          "ERR_INVALID_TIME_INTERVAL",
        "ERR_EXCEEDED_LIMIT",       "ERR_INVALID_MSG_ID",
        "ERR_DEVICE_IN_USE",        "ERR_INVALID_IOCTL_ID",
        "ERR_BUFFER_EMPTY",         "ERR_BUFFER_FULL",
        "ERR_BUFFER_OVERFLOW",      "ERR_PIN_INVALID",
        "ERR_CHANNEL_IN_USE",       "ERR_MSG_PROTOCOL_ID",
        "ERR_INVALID_FILTER_ID",    "ERR_NO_FLOW_CONTROL",
        "ERR_NOT_UNIQUE",           "ERR_INVALID_BAUDRATE",
        "ERR_INVALID_DEVICE_ID",
    };
    return code < std::size(kNames) ? kNames[code] : "?";
}

inline constexpr char kTextBitrateSet[] =
    "The communication bitrate is already set different value";
inline constexpr char kTextTxFlagsInconsistent[] =
    "The specified TxFlags value is not consistent with the value of connected Flags";
inline constexpr char kTextInvalidTxFlags[] =
    "Invalid TxFlags value specified for the active protocol channel";
inline constexpr char kTextNoCanBus[] = "The communication interface does not support CAN bus";

// The acceptance words the simulated controller holds for an 11-bit or 29-bit code and mask in
// the device's polarity (mask bit 1: not compared).
struct AcceptanceWords {
    uint32_t code;
    uint32_t mask;
};
inline AcceptanceWords acceptance11(uint32_t code, uint32_t deviceMask) {
    return {code << 21, deviceMask << 21 | 0x0017FFFFu};
}
inline AcceptanceWords acceptance29(uint32_t code, uint32_t deviceMask) {
    const auto pack = [](uint32_t value, uint32_t markers) {
        return ((value >> 18) & 0x7FFu) << 21 | markers | (value & 0x3FFFFu) << 1;
    };
    return {pack(code, 0x00180000u), pack(deviceMask, 0x00100000u)};
}

// Receives the library's trace events inside the test, each on the thread that writes it.
class EventWatcher : public trace::TraceBackend {
  public:
    bool registerProvider(std::string_view, std::atomic<uint8_t>& enabledLevel) override {
        enabledLevel = trace::kLevelVerbose;
        return true;
    }
    void unregisterProvider() override {}

    static std::optional<uint32_t> field(const trace::TraceEvent& event, std::string_view name) {
        for (const trace::TraceField& f : event.fields) {
            if (f.name == name) {
                return f.number;
            }
        }
        return std::nullopt;
    }
};

class EngineFixture : public SimFixture {
  protected:
    // Puts the watcher in place of the trace session the environment chose, for the events of
    // the communication thread and the channels. Called before anything of the library runs;
    // unloading the library at the end of the test releases it.
    template <typename Watcher>
    static Watcher& watchEvents(std::unique_ptr<Watcher> watcher) {
        Watcher& watching = *watcher;
        trace::TraceProvider& provider = trace::TraceProvider::instance();
        provider.releaseBackend();
        provider.start(static_cast<uint32_t>(trace::Group::CommAndChannel), std::move(watcher));
        return watching;
    }

    static sim::CanFrame canFrame(uint32_t id, bool extended = false,
                                  std::vector<uint8_t> data = {}) {
        sim::CanFrame frame;
        frame.id = id;
        frame.extended = extended;
        frame.dlc = static_cast<uint8_t>(data.size());
        std::copy(data.begin(), data.end(), frame.data.begin());
        return frame;
    }

    // Checks a status and what PassThruGetLastError says about it.
    static void expectOutcome(uint32_t status, uint32_t expected, const char* failedText = "") {
        EXPECT_EQ(status, expected) << statusName(status) << " / " << lastError();
        EXPECT_EQ(lastError(), expected == ERR_FAILED ? failedText : statusName(expected));
    }
    // The same for a status whose description explains it instead of naming it.
    static void expectExplained(uint32_t status, uint32_t expected, const char* text) {
        EXPECT_EQ(status, expected) << statusName(status) << " / " << lastError();
        EXPECT_EQ(lastError(), text);
    }

    void setConfig(uint32_t parameter, uint32_t value) {
        SCONFIG entry{parameter, value};
        SCONFIG_LIST config{1, &entry};
        ASSERT_EQ(PassThruIoctl(channelId, SET_CONFIG, &config, nullptr), STATUS_NOERROR)
            << lastError();
    }
    void setLoopback(uint32_t on) { setConfig(LOOPBACK, on); }

    uint32_t startFilter(uint32_t type, uint32_t mask, uint32_t pattern, uint32_t txFlags,
                         uint32_t* filterId) {
        PASSTHRU_MSG maskMsg = message(mask, {}, txFlags);
        PASSTHRU_MSG patternMsg = message(pattern, {}, txFlags);
        return PassThruStartMsgFilter(channelId, type, &maskMsg, &patternMsg, nullptr, filterId);
    }

    uint32_t startPeriodic(uint32_t id, std::vector<uint8_t> data, uint32_t interval,
                           uint32_t* msgId, uint32_t txFlags = 0) {
        PASSTHRU_MSG msg = message(id, std::move(data), txFlags);
        return PassThruStartPeriodicMsg(channelId, &msg, msgId, interval);
    }

    // The frame the communication thread is held in by holdTheThread.
    static constexpr uint32_t kHoldFrameId = 0x5A5;

    // Holds the communication thread in a device write for up to duration (or until
    // world().control().releaseFrameWrites()): the device holds frame writes, and a frame with
    // kHoldFrameId is written for the thread to be held in. Returns once it is; what is written
    // meanwhile stays queued. The frame goes out when the hold ends.
    void holdTheThread(std::chrono::milliseconds duration) {
        world().control().holdFrameWritesFor(duration);
        PASSTHRU_MSG frame = message(kHoldFrameId, {0});
        uint32_t count = 1;
        ASSERT_EQ(PassThruWriteMsgs(channelId, &frame, &count, 0), STATUS_NOERROR) << lastError();
        ASSERT_TRUE(eventually([&] { return world().control().heldFrameWrites() > 0; }));
    }

    void inject(uint32_t id, bool extended = false, std::vector<uint8_t> data = {}) {
        ASSERT_TRUE(world().control().injectFrame(canFrame(id, extended, std::move(data))));
    }

    // Reads until count messages have arrived or the time is up.
    std::vector<PASSTHRU_MSG> readMessages(std::size_t count,
                                           std::chrono::milliseconds timeout = 3000ms) {
        std::vector<PASSTHRU_MSG> got;
        const auto deadline = Clock::now() + timeout;
        while (got.size() < count && Clock::now() < deadline) {
            std::vector<PASSTHRU_MSG> batch(count - got.size());
            auto n = static_cast<uint32_t>(batch.size());
            const uint32_t status = PassThruReadMsgs(channelId, batch.data(), &n, 20);
            EXPECT_TRUE(status == STATUS_NOERROR || status == ERR_TIMEOUT ||
                        status == ERR_BUFFER_EMPTY)
                << statusName(status);
            got.insert(got.end(), batch.begin(), batch.begin() + n);
        }
        return got;
    }

    // Reads messages until one with the identifier arrives (that one included).
    std::vector<PASSTHRU_MSG> readThrough(uint32_t id, std::chrono::milliseconds timeout = 3000ms) {
        std::vector<PASSTHRU_MSG> got;
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            for (const PASSTHRU_MSG& msg : readMessages(1, 50ms)) {
                got.push_back(msg);
                if (idOf(msg) == id) {
                    return got;
                }
            }
        }
        ADD_FAILURE() << "no message with identifier 0x" << std::hex << id;
        return got;
    }

    // Everything queued now.
    std::vector<PASSTHRU_MSG> drain() {
        std::vector<PASSTHRU_MSG> got;
        for (;;) {
            std::vector<PASSTHRU_MSG> batch(256);
            auto n = static_cast<uint32_t>(batch.size());
            if (PassThruReadMsgs(channelId, batch.data(), &n, 0) != STATUS_NOERROR) {
                return got;
            }
            got.insert(got.end(), batch.begin(), batch.begin() + n);
        }
    }

    static std::set<uint32_t> idsOf(const std::vector<PASSTHRU_MSG>& msgs) {
        std::set<uint32_t> ids;
        for (const PASSTHRU_MSG& msg : msgs) {
            ids.insert(idOf(msg));
        }
        return ids;
    }

    sim::SimCanController::Status controller() {
        return world().control().deviceState().controller;
    }

    // Times the frames with this identifier crossed the bus, oldest first.
    std::vector<sim::SimClock::time_point> busTimesOf(uint32_t id) {
        std::vector<sim::SimClock::time_point> times;
        for (const sim::SimControl::BusRecord& record : world().control().busRecords()) {
            if (record.frame.id == id) {
                times.push_back(record.endOfFrame);
            }
        }
        return times;
    }

    // The frames of the identifier the device has taken so far. After a call that ends a
    // message's frames, this count stays put; the bus may still carry one the device took
    // before, as late as a loaded machine makes it.
    std::size_t framesHandedToDevice(uint32_t id) {
        const std::vector<sim::Packet> packets = world().control().receivedPackets();
        return static_cast<std::size_t>(
            std::count_if(packets.begin(), packets.end(), [id](const sim::Packet& packet) {
                return packet[0] == static_cast<uint8_t>(sim::PacketClass::Frame) &&
                       sim::unpackFrame(packet).id == id;
            }));
    }

    std::vector<sim::CanFrame> busFrames() {
        std::vector<sim::CanFrame> frames;
        for (const sim::SimControl::BusRecord& record : world().control().busRecords()) {
            frames.push_back(record.frame);
        }
        return frames;
    }

    // The controller programming commands the device has taken so far.
    std::size_t enableCommands() {
        std::size_t count = 0;
        for (const sim::Packet& packet : world().control().receivedPackets()) {
            count += packet[0] == static_cast<uint8_t>(sim::PacketClass::Config) &&
                     packet[1] == static_cast<uint8_t>(sim::ConfigCommand::Enable);
        }
        return count;
    }

    void expectAcceptance(const AcceptanceWords& words) {
        const sim::SimCanController::Acceptance acceptance = controller().acceptance;
        EXPECT_FALSE(acceptance.open);
        EXPECT_EQ(acceptance.code, words.code) << std::hex << acceptance.code;
        EXPECT_EQ(acceptance.mask, words.mask) << std::hex << acceptance.mask;
    }

    bool controllerAdmits(uint32_t id, bool extended) {
        return controller().acceptance.admits(canFrame(id, extended));
    }
};

}  // namespace vtx::e2e
