// Four application threads on one channel, each until it has done its share, while periodic
// messages run and frames arrive from the bus: a reader, a writer with loopback on, one thread
// changing filters and one starting and stopping periodic messages. Nothing may hang, every echo is
// read exactly once, and received frames are never duplicated or reordered.
#include <atomic>
#include <future>
#include <map>
#include <random>

#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

constexpr uint32_t kWriterId = 0x321;
constexpr uint32_t kTrafficId = 0x100;
constexpr uint32_t kChurnFilterBase = 0x500;
constexpr uint32_t kChurnPeriodicBase = 0x600;
constexpr std::size_t kChurnLimit = 8;  // two filters and two periodic messages are fixed
// The run ends once every thread has done this much, however slow the machine; a run that gets
// nowhere within the limit is stuck.
constexpr uint32_t kWrittenGoal = 60;
constexpr uint32_t kPeriodicStartsGoal = 6;
constexpr uint32_t kFilterChangesGoal = 30;
constexpr uint32_t kInjectedGoal = 750;
constexpr auto kProgressLimit = 60s;

uint32_t sequenceOf(const PASSTHRU_MSG& msg) {
    return static_cast<uint32_t>(msg.Data[4]) << 24 | static_cast<uint32_t>(msg.Data[5]) << 16 |
           static_cast<uint32_t>(msg.Data[6]) << 8 | msg.Data[7];
}

std::vector<uint8_t> sequenceBytes(uint32_t seq) {
    return {static_cast<uint8_t>(seq >> 24), static_cast<uint8_t>(seq >> 16),
            static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
}

// What the reader keeps of a message.
struct Received {
    uint32_t id;
    uint32_t rxStatus;
    uint32_t seq;
};

class EngineStress : public EngineFixture {
  protected:
    bool acceptable(uint32_t status, std::initializer_list<uint32_t> allowed) {
        for (const uint32_t ok : allowed) {
            if (status == ok) {
                return true;
            }
        }
        ADD_FAILURE() << "unexpected " << statusName(status);
        return false;
    }

    // Writes sequence-numbered messages, one to three at a time, with and without a timeout.
    uint32_t runWriter() {
        uint32_t next = 0;
        for (uint32_t round = 0; !stop_; ++round) {
            const uint32_t n = 1 + round % 3;
            std::vector<PASSTHRU_MSG> out;
            for (uint32_t i = 0; i < n; ++i) {
                out.push_back(message(kWriterId, sequenceBytes(next + i)));
            }
            uint32_t count = n;
            const uint32_t status =
                PassThruWriteMsgs(channelId, out.data(), &count, round % 2 ? 20 : 0);
            // Validated messages are echoed whatever the device then takes.
            acceptable(status, {STATUS_NOERROR, ERR_TIMEOUT, ERR_BUFFER_FULL});
            next += n;
            written_ = next;
            std::this_thread::sleep_for(1ms);
        }
        return next;
    }

    std::vector<Received> runReader() {
        std::vector<Received> got;
        while (!stop_) {
            readInto(got, 5);
        }
        return got;
    }

    // One read; false when nothing came.
    bool readInto(std::vector<Received>& got, uint32_t timeout) {
        PASSTHRU_MSG in[32];
        uint32_t count = 32;
        const uint32_t status = PassThruReadMsgs(channelId, in, &count, timeout);
        acceptable(status, {STATUS_NOERROR, ERR_TIMEOUT, ERR_BUFFER_EMPTY});
        for (uint32_t i = 0; i < count; ++i) {
            got.push_back({idOf(in[i]), in[i].RxStatus, sequenceOf(in[i])});
        }
        return count > 0;
    }

    void runFilterChurn() {
        std::mt19937 random(1);
        std::vector<uint32_t> mine;
        for (uint32_t k = 0; !stop_; ++k) {
            if (mine.size() < kChurnLimit && (mine.empty() || random() % 2 == 0)) {
                uint32_t filterId = 0;
                const uint32_t type = random() % 3 == 0 ? BLOCK_FILTER : PASS_FILTER;
                if (acceptable(startFilter(type, 0x7FF, kChurnFilterBase + k % 64, 0, &filterId),
                               {STATUS_NOERROR})) {
                    mine.push_back(filterId);
                }
            } else {
                const std::size_t which = random() % mine.size();
                acceptable(PassThruStopMsgFilter(channelId, mine[which]), {STATUS_NOERROR});
                mine.erase(mine.begin() + static_cast<std::ptrdiff_t>(which));
            }
            ++filterChanges_;
            std::this_thread::sleep_for(1ms);
        }
    }

    // Each start carries its own number; the number of starts is returned.
    uint32_t runPeriodicChurn() {
        std::mt19937 random(2);
        std::vector<uint32_t> mine;
        uint32_t starts = 0;
        for (uint32_t k = 0; !stop_; ++k) {
            if (mine.size() < kChurnLimit && (mine.empty() || random() % 2 == 0)) {
                uint32_t msgId = 0;
                const uint32_t interval = 5 + random() % 46;
                if (acceptable(startPeriodic(kChurnPeriodicBase + k % 64, sequenceBytes(starts),
                                             interval, &msgId),
                               {STATUS_NOERROR})) {
                    mine.push_back(msgId);
                    periodicStarts_ = ++starts;
                }
            } else {
                const std::size_t which = random() % mine.size();
                acceptable(PassThruStopPeriodicMsg(channelId, mine[which]), {STATUS_NOERROR});
                mine.erase(mine.begin() + static_cast<std::ptrdiff_t>(which));
            }
            std::this_thread::sleep_for(1ms);
        }
        return starts;
    }

    bool goalsReached(uint32_t injected) const {
        return written_ >= kWrittenGoal && periodicStarts_ >= kPeriodicStartsGoal &&
               filterChanges_ >= kFilterChangesGoal && injected >= kInjectedGoal;
    }

    // Frames from another node, numbered, until every thread has done its share.
    uint32_t injectTraffic() {
        uint32_t seq = 0;
        const auto limit = Clock::now() + kProgressLimit;
        while (!goalsReached(seq)) {
            if (Clock::now() > limit) {
                ADD_FAILURE() << "no progress: written " << written_ << ", periodic starts "
                              << periodicStarts_ << ", filter changes " << filterChanges_
                              << ", injected " << seq;
                break;
            }
            if (world().control().injectFrame(canFrame(kTrafficId, false, sequenceBytes(seq)))) {
                ++seq;
            }
            std::this_thread::sleep_for(2ms);
        }
        return seq;
    }

    std::atomic<uint32_t> written_{0};
    std::atomic<uint32_t> periodicStarts_{0};
    std::atomic<uint32_t> filterChanges_{0};
    std::atomic<bool> stop_{false};
};

TEST_F(EngineStress, FourThreadsWhilePeriodicMessagesRun) {
    openAndConnect();
    setLoopback(1);
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, kWriterId, 0, &filterId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, kTrafficId, 0, &filterId), STATUS_NOERROR);
    uint32_t msgId = 0;
    ASSERT_EQ(startPeriodic(0x400, {0, 0, 0, 0}, 5, &msgId), STATUS_NOERROR);
    ASSERT_EQ(startPeriodic(0x401, {0, 0, 0, 0}, 10, &msgId), STATUS_NOERROR);

    auto writer = std::async(std::launch::async, [this] { return runWriter(); });
    auto reader = std::async(std::launch::async, [this] { return runReader(); });
    auto filters = std::async(std::launch::async, [this] { runFilterChurn(); });
    auto periodics = std::async(std::launch::async, [this] { return runPeriodicChurn(); });
    const uint32_t injected = injectTraffic();
    stop_ = true;
    const uint32_t written = awaitOrAbort(writer, 20s, "the writer");
    std::vector<Received> got = awaitOrAbort(reader, 20s, "the reader");
    awaitOrAbort(filters, 20s, "the filter thread");
    const uint32_t periodicStarts = awaitOrAbort(periodics, 20s, "the periodic thread");
    // Echoes are queued when written; what is left is read now.
    while (readInto(got, 200)) {
    }

    std::map<uint32_t, int> writerEchoes;
    std::map<uint32_t, int> periodicEchoes;
    std::map<uint32_t, int> fixedEchoes;
    std::vector<uint32_t> traffic;
    for (const Received& r : got) {
        if (r.rxStatus == TX_MSG_TYPE && r.id == kWriterId) {
            ++writerEchoes[r.seq];
        } else if (r.rxStatus == TX_MSG_TYPE && r.id >= kChurnPeriodicBase &&
                   r.id < kChurnPeriodicBase + 64) {
            ++periodicEchoes[r.seq];
        } else if (r.rxStatus == TX_MSG_TYPE) {
            ++fixedEchoes[r.id];
        } else if (r.rxStatus == 0 && r.id == kTrafficId) {
            traffic.push_back(r.seq);
        } else {
            ADD_FAILURE() << "unexpected message 0x" << std::hex << r.id << " status "
                          << r.rxStatus;
        }
    }

    RecordProperty("written", static_cast<int>(written));
    RecordProperty("periodicStarts", static_cast<int>(periodicStarts));
    RecordProperty("trafficRead", static_cast<int>(traffic.size()));
    EXPECT_EQ(writerEchoes.size(), written);
    for (uint32_t seq = 0; seq < written; ++seq) {
        ASSERT_EQ(writerEchoes[seq], 1) << "echo of message " << seq;
    }
    EXPECT_EQ(periodicEchoes.size(), periodicStarts);
    for (uint32_t seq = 0; seq < periodicStarts; ++seq) {
        ASSERT_EQ(periodicEchoes[seq], 1) << "echo of periodic start " << seq;
    }
    EXPECT_EQ(fixedEchoes, (std::map<uint32_t, int>{{0x400, 1}, {0x401, 1}}));
    // Frames from the bus may be lost while the controller is reprogrammed, but never
    // duplicated or reordered.
    EXPECT_FALSE(traffic.empty());
    EXPECT_LE(traffic.size(), injected);
    for (std::size_t i = 1; i < traffic.size(); ++i) {
        ASSERT_LT(traffic[i - 1], traffic[i]) << i;
    }
}

}  // namespace
}  // namespace vtx::e2e
