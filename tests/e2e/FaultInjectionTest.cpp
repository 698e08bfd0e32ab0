// Faults at every phase of every operation: the device loses power right after it has taken a
// given packet (so the phase is pinned by what the device saw, not by time), or its replies come
// garbled or stalled. Whatever the phase, the call under way returns within its bound with one
// of the statuses its operation documents; the loss is then what every call reports, close
// succeeds, and once the device is back the next open works.
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

using sim::ConfigCommand;
using sim::PacketClass;

class FaultInjection;

// Where the session stands when the fault is armed.
enum class Start { Closed, Open, Connected, Filtered };

struct FaultCase {
    const char* name;
    Start start;
    std::function<void(sim::SimControl&)> arm;
    uint32_t (FaultInjection::*operation)();  // the call under way when the fault strikes
    std::set<uint32_t> allowed;               // what that call may answer
    bool unplugs = true;                      // false: the device stays, its replies go wrong
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultInjection : public EngineFixture, public ::testing::WithParamInterface<FaultCase> {
  public:
    // ---- the calls under way ----
    uint32_t open() { return PassThruOpen(nullptr, &deviceId); }
    uint32_t connect() { return PassThruConnect(deviceId, CAN, 0, 500000, &channelId); }
    uint32_t disconnect() { return PassThruDisconnect(channelId); }
    // Afterwards there is no session left to end.
    uint32_t close() { return PassThruClose(std::exchange(deviceId, 0)); }
    uint32_t blockedRead() {
        PASSTHRU_MSG in[4];
        uint32_t count = 4;
        return PassThruReadMsgs(channelId, in, &count, 2000);
    }
    uint32_t timedWrite() { return write(20, 2000); }
    uint32_t queuedWrite() { return write(20, 0); }
    uint32_t periodic() {
        uint32_t msgId = 0;
        return startPeriodic(0x301, {1, 2}, 5, &msgId);
    }
    uint32_t setDataRate() { return config(SET_CONFIG, DATA_RATE, 250000); }
    uint32_t getConfig() { return config(GET_CONFIG, DATA_RATE, 0); }
    uint32_t getTermResistor() {
        uint32_t on = 0;
        return PassThruIoctl(channelId, GET_TERM_RESISTOR, nullptr, &on);
    }
    uint32_t setTermResistor() {
        uint32_t on = 1;
        return PassThruIoctl(channelId, SET_TERM_RESISTOR, &on, nullptr);
    }
    uint32_t readVbatt() {
        uint32_t volts = 0;
        return PassThruIoctl(channelId, READ_VBATT, nullptr, &volts);
    }
    // CLEAR_TX_BUFFER behind a backlog that the device stopped taking at its first frame.
    uint32_t clearBehindBacklog() {
        const uint32_t queued = write(200, 0);
        EXPECT_TRUE(eventually([&] { return !world().control().deviceState().plugged; }));
        return queued == STATUS_NOERROR
                   ? PassThruIoctl(channelId, CLEAR_TX_BUFFER, nullptr, nullptr)
                   : queued;
    }
    uint32_t secondFilter() {
        uint32_t id = 0;
        return startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &id);
    }
    uint32_t stopFilter() { return PassThruStopMsgFilter(channelId, filterId); }
    uint32_t readVersion() {
        char firmware[80], dll[80], api[80];
        return PassThruReadVersion(deviceId, firmware, dll, api);
    }

  protected:
    uint32_t config(uint32_t id, uint32_t parameter, uint32_t value) {
        SCONFIG entry{parameter, value};
        SCONFIG_LIST list{1, &entry};
        return PassThruIoctl(channelId, id, &list, nullptr);
    }

    // Writes count frames; a count back above the one offered is a fault of its own.
    uint32_t write(uint32_t count, uint32_t timeout) {
        std::vector<PASSTHRU_MSG> out(count, message(0x301, {1, 2, 3}));
        uint32_t written = count;
        const uint32_t status = PassThruWriteMsgs(channelId, out.data(), &written, timeout);
        EXPECT_LE(written, count);
        return status;
    }

    void reach(Start start) {
        if (start >= Start::Open) {
            ASSERT_EQ(open(), STATUS_NOERROR) << lastError();
        }
        if (start >= Start::Connected) {
            ASSERT_EQ(connect(), STATUS_NOERROR) << lastError();
        }
        if (start >= Start::Filtered) {
            ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
        }
    }

    // The device is gone and the session knows: the loss is what calls report, and close ends
    // it. A session closed by the call under way (or never opened) has nothing to end.
    void expectLossReported() {
        ASSERT_TRUE(eventually([&] { return !world().control().deviceState().plugged; }))
            << "the device never took the packet the fault waits for";
        if (deviceId == 0) {
            return;
        }
        EXPECT_TRUE(eventually([&] { return getConfig() == ERR_DEVICE_NOT_CONNECTED; }));
        expectOutcome(readVbatt(), ERR_DEVICE_NOT_CONNECTED);
        expectOutcome(close(), STATUS_NOERROR);
    }

    // Open, connect, a loopback write read back with a frame from the bus, close.
    void expectWorkingSession() {
        reach(Start::Filtered);
        setLoopback(1);
        PASSTHRU_MSG out = message(0x123, {5});
        uint32_t count = 1;
        ASSERT_EQ(PassThruWriteMsgs(channelId, &out, &count, 500), STATUS_NOERROR) << lastError();
        inject(0x123, false, {6});
        const std::vector<PASSTHRU_MSG> got = readMessages(2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].RxStatus, TX_MSG_TYPE);
        EXPECT_EQ(got[1].RxStatus, 0u);
        EXPECT_EQ(close(), STATUS_NOERROR) << lastError();
    }

    uint32_t filterId = 0;
};

// The power goes right after the (skip + 1)th packet of the class, or configuration command.
std::function<void(sim::SimControl&)> after(PacketClass cls, int skip = 0) {
    return [=](sim::SimControl& c) { c.unplugAfterPacket(cls, -1, skip); };
}
std::function<void(sim::SimControl&)> after(ConfigCommand command) {
    return [=](sim::SimControl& c) {
        c.unplugAfterPacket(PacketClass::Config, static_cast<int>(command));
    };
}
// The power goes now, before a call that sends nothing: the thread has not noticed yet.
void unplugNow(sim::SimControl& c) {
    c.unplug();
}

using F = FaultInjection;
using P = PacketClass;
using C = ConfigCommand;
constexpr uint32_t kOk = STATUS_NOERROR;
constexpr uint32_t kLost = ERR_DEVICE_NOT_CONNECTED;
constexpr uint32_t kFailed = ERR_FAILED;

const FaultCase kCases[] = {
    // open: the new thread's identification, then the output-bus query
    {"OpenIdentification", Start::Closed, after(P::IdentRequest), &F::open, {kLost}},
    {"OpenOutputBusQuery", Start::Closed, after(C::OutputBusQuery), &F::open, {kLost, kFailed}},
    // connect: the controller's programming, then the clear after it
    {"ConnectEnable", Start::Open, after(C::Enable), &F::connect, {kOk, kLost, kFailed}},
    {"ConnectClear", Start::Open, after(P::Clear), &F::connect, {kOk, kLost, kFailed}},
    // a read waiting for frames: the power goes at the thread's eleventh transfer after arming
    {"BlockedRead",
     Start::Filtered,
     after(P::TransferHeader, 10),
     &F::blockedRead,
     {kLost, ERR_TIMEOUT, ERR_BUFFER_EMPTY}},
    // writes: the power goes after their third frame (a timed write of which the device
    // transmitted nothing answers ERR_BUFFER_FULL)
    {"TimedWrite",
     Start::Filtered,
     after(P::Frame, 2),
     &F::timedWrite,
     {kOk, kLost, ERR_TIMEOUT, ERR_BUFFER_FULL}},
    {"QueuedWrite", Start::Filtered, after(P::Frame, 2), &F::queuedWrite, {kOk, kLost}},
    // periodic sending: the thread's fourth frame
    {"PeriodicSending", Start::Filtered, after(P::Frame, 3), &F::periodic, {kOk}},
    // ioctl
    {"SetConfigDataRate",
     Start::Filtered,
     after(C::Enable),
     &F::setDataRate,
     {kOk, kLost, kFailed}},
    {"GetTermResistor",
     Start::Filtered,
     after(C::TermResistorQuery),
     &F::getTermResistor,
     {kLost, kFailed}},
    {"SetTermResistor",
     Start::Filtered,
     after(C::TermResistorSet),
     &F::setTermResistor,
     {kOk, kLost, kFailed}},
    {"GetConfigUnnoticed", Start::Filtered, unplugNow, &F::getConfig, {kOk, kLost}},
    {"ReadVbattUnnoticed", Start::Filtered, unplugNow, &F::readVbatt, {ERR_NOT_SUPPORTED, kLost}},
    {"ClearTxBufferBehindBacklog",
     Start::Filtered,
     after(P::Frame),
     &F::clearBehindBacklog,
     {kOk, kLost}},
    // filters: the controller's new acceptance words
    {"StartFilter", Start::Filtered, after(C::Enable), &F::secondFilter, {kOk, kLost, kFailed}},
    {"StopFilter", Start::Filtered, after(C::Enable), &F::stopFilter, {kOk, kLost, kFailed}},
    // the version comes from records the thread keeps: nothing is sent
    {"ReadVersionUnnoticed", Start::Open, unplugNow, &F::readVersion, {kOk, kLost}},
    // disconnect and close: the controller switched off, then the buffers cleared
    {"DisconnectDisable", Start::Filtered, after(C::Disable), &F::disconnect, {kOk, kLost}},
    {"DisconnectClear", Start::Filtered, after(P::Clear), &F::disconnect, {kOk, kLost}},
    {"CloseDisable", Start::Filtered, after(C::Disable), &F::close, {kOk, kLost}},
    {"CloseClear", Start::Filtered, after(P::Clear), &F::close, {kOk, kLost}},
    // garbled or stalled replies: the call fails cleanly, the device stays
    {"OpenIdentificationClassGarbled",
     Start::Closed,
     [](sim::SimControl& c) { c.corruptNextIdentificationClass(); },
     &F::open,
     {kLost},
     false},
    {"OpenTruncatedReply",
     Start::Closed,
     [](sim::SimControl& c) { c.truncateNextRead(); },
     &F::open,
     {kOk, kLost, kFailed},
     false},
    {"GetTermResistorStalled",
     Start::Filtered,
     [](sim::SimControl& c) { c.stallNextReads(3); },
     &F::getTermResistor,
     {kOk, kFailed},
     false},
};

TEST_P(FaultInjection, CallReturnsLossIsReportedAndReplugWorks) {
    const FaultCase& c = GetParam();
    reach(c.start);
    c.arm(world().control());
    auto call = std::async(std::launch::async, [&] { return (this->*c.operation)(); });
    const uint32_t status = awaitOrAbort(call, 10s, c.name);
    EXPECT_TRUE(c.allowed.count(status)) << statusName(status) << " / " << lastError();
    RecordProperty("answer", statusName(status));
    if (c.unplugs) {
        expectLossReported();
        world().control().plug();
    } else {
        world().control().clearFaults();
        PassThruClose(1);
    }
    deviceId = channelId = 0;
    expectWorkingSession();
}

INSTANTIATE_TEST_SUITE_P(EveryPhase, FaultInjection, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vtx::e2e
