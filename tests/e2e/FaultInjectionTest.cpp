// Faults at every phase of every operation: the device loses power right after it has taken a
// given packet (so the phase is pinned by what the device saw, not by time), or its replies come
// garbled. Whatever the phase, the call under way returns within its bound with one of the
// statuses its operation documents, the loss is then reported by every call, close succeeds, and
// once the device is back the next open works.
#include <ostream>
#include <set>
#include <string>

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
    void (*arm)(sim::SimControl&);
    uint32_t (*operation)(FaultInjection&);  // the call under way when the fault strikes
    std::set<uint32_t> allowed;              // what that call may answer
    bool unplugs = true;                     // false: a garbled reply, the device stays
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultInjection : public EngineFixture, public ::testing::WithParamInterface<FaultCase> {
  public:
    uint32_t open() { return PassThruOpen(nullptr, &deviceId); }
    uint32_t connect() { return PassThruConnect(deviceId, CAN, 0, 500000, &channelId); }
    uint32_t disconnect() { return PassThruDisconnect(channelId); }
    uint32_t close() { return PassThruClose(deviceId); }
    // Close as the call under way: afterwards there is no session to end.
    uint32_t closeForGood() {
        const uint32_t status = close();
        deviceId = 0;
        return status;
    }
    uint32_t ioctl(uint32_t id, void* in = nullptr, void* out = nullptr) {
        return PassThruIoctl(channelId, id, in, out);
    }
    uint32_t config(uint32_t id, uint32_t parameter, uint32_t value) {
        SCONFIG entry{parameter, value};
        SCONFIG_LIST list{1, &entry};
        return ioctl(id, &list);
    }
    uint32_t filter(uint32_t pattern) {
        uint32_t id = 0;
        return startFilter(PASS_FILTER, 0x7FF, pattern, 0, &id);
    }
    uint32_t stopFilter() { return PassThruStopMsgFilter(channelId, filterId); }
    uint32_t periodic() {
        uint32_t msgId = 0;
        return startPeriodic(0x301, {1, 2}, 5, &msgId);
    }
    // Writes count frames; a count back above the one offered is a fault of its own.
    uint32_t write(uint32_t count, uint32_t timeout) {
        std::vector<PASSTHRU_MSG> out(count, message(0x301, {1, 2, 3}));
        uint32_t written = count;
        const uint32_t status = PassThruWriteMsgs(channelId, out.data(), &written, timeout);
        EXPECT_LE(written, count);
        return status;
    }
    uint32_t read(uint32_t timeout) {
        PASSTHRU_MSG in[4];
        uint32_t count = 4;
        return PassThruReadMsgs(channelId, in, &count, timeout);
    }
    uint32_t clearBehindBacklog() {
        const uint32_t queued = write(200, 0);
        EXPECT_TRUE(eventually([&] { return !world().control().deviceState().plugged; }));
        return queued == STATUS_NOERROR ? ioctl(CLEAR_TX_BUFFER) : queued;
    }
    uint32_t readVersion() {
        char firmware[80], dll[80], api[80];
        return PassThruReadVersion(deviceId, firmware, dll, api);
    }

    uint32_t filterId = 0;

  protected:
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
    // it. A session that was closed by the call under way (or never opened) has nothing to end.
    void expectLossReported() {
        ASSERT_TRUE(eventually([&] { return !world().control().deviceState().plugged; }))
            << "the device never took the packet the fault waits for";
        if (deviceId == 0) {
            return;
        }
        EXPECT_TRUE(eventually(
            [&] { return config(GET_CONFIG, LOOPBACK, 0) == ERR_DEVICE_NOT_CONNECTED; }));
        uint32_t volts = 0;
        expectOutcome(ioctl(READ_VBATT, nullptr, &volts), ERR_DEVICE_NOT_CONNECTED);
        expectOutcome(close(), STATUS_NOERROR);
    }

    // Open, connect, a loopback write read back with a frame from the bus, close.
    void expectWorkingSession() {
        deviceId = channelId = 0;
        ASSERT_EQ(open(), STATUS_NOERROR) << lastError();
        ASSERT_EQ(connect(), STATUS_NOERROR) << lastError();
        ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
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
};

void afterPacket(sim::SimControl& c, PacketClass cls, int command = -1, int skip = 0) {
    c.unplugAfterPacket(cls, command, skip);
}
int command(ConfigCommand c) {
    return static_cast<int>(c);
}

constexpr uint32_t kNoError = STATUS_NOERROR;
constexpr uint32_t kLost = ERR_DEVICE_NOT_CONNECTED;

const FaultCase kCases[] = {
    // ---- open: the identification of the new thread, the output-bus query ----
    {"OpenIdentification",
     Start::Closed,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::IdentRequest); },
     [](FaultInjection& f) { return f.open(); },
     {kLost}},
    {"OpenOutputBusQuery",
     Start::Closed,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::OutputBusQuery));
     },
     [](FaultInjection& f) { return f.open(); },
     {kLost, ERR_FAILED}},
    // ---- connect: the controller programming ----
    {"ConnectEnable",
     Start::Open,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::Enable));
     },
     [](FaultInjection& f) { return f.connect(); },
     {kNoError, kLost, ERR_FAILED}},
    {"ConnectClear",
     Start::Open,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::Clear); },
     [](FaultInjection& f) { return f.connect(); },
     {kNoError, kLost, ERR_FAILED}},
    // ---- a read waiting for frames: the thread's tenth transfer after the call began ----
    {"BlockedRead",
     Start::Filtered,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::TransferHeader, -1, 10); },
     [](FaultInjection& f) { return f.read(2000); },
     {kLost, ERR_TIMEOUT, ERR_BUFFER_EMPTY}},
    // ---- a timed write: the power goes after its third frame ----
    {"TimedWrite",
     Start::Filtered,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::Frame, -1, 2); },
     [](FaultInjection& f) { return f.write(20, 2000); },
     {kNoError, kLost, ERR_TIMEOUT}},
    {"QueuedWrite",
     Start::Filtered,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::Frame, -1, 2); },
     [](FaultInjection& f) { return f.write(20, 0); },
     {kNoError, kLost}},
    // ---- periodic sending: after the fourth frame the thread sends on its own ----
    {"PeriodicSending",
     Start::Filtered,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::Frame, -1, 3); },
     [](FaultInjection& f) { return f.periodic(); },
     {kNoError}},
    // ---- ioctl ----
    {"SetConfigDataRate",
     Start::Filtered,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::Enable));
     },
     [](FaultInjection& f) { return f.config(SET_CONFIG, DATA_RATE, 250000); },
     {kNoError, kLost, ERR_FAILED}},
    {"GetTermResistor",
     Start::Filtered,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::TermResistorQuery));
     },
     [](FaultInjection& f) {
         uint32_t on = 0;
         return f.ioctl(GET_TERM_RESISTOR, nullptr, &on);
     },
     {kLost, ERR_FAILED}},
    {"SetTermResistor",
     Start::Filtered,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::TermResistorSet));
     },
     [](FaultInjection& f) {
         uint32_t on = 1;
         return f.ioctl(SET_TERM_RESISTOR, &on, nullptr);
     },
     {kNoError, kLost, ERR_FAILED}},
    // The calls that park the thread but send nothing: the device goes just before, unnoticed.
    {"GetConfigUnnoticed",
     Start::Filtered,
     [](sim::SimControl& c) { c.unplug(); },
     [](FaultInjection& f) { return f.config(GET_CONFIG, DATA_RATE, 0); },
     {kNoError, kLost}},
    {"ReadVbattUnnoticed",
     Start::Filtered,
     [](sim::SimControl& c) { c.unplug(); },
     [](FaultInjection& f) {
         uint32_t volts = 0;
         return f.ioctl(READ_VBATT, nullptr, &volts);
     },
     {ERR_NOT_SUPPORTED, kLost}},
    // CLEAR_TX_BUFFER behind a backlog that the device stopped taking at its first frame.
    {"ClearTxBufferBehindBacklog",
     Start::Filtered,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::Frame); },
     [](FaultInjection& f) { return f.clearBehindBacklog(); },
     {kNoError, kLost}},
    // ---- filters ----
    {"StartFilter",
     Start::Filtered,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::Enable));
     },
     [](FaultInjection& f) { return f.filter(0x7E8); },
     {kNoError, kLost, ERR_FAILED}},
    {"StopFilter",
     Start::Filtered,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::Enable));
     },
     [](FaultInjection& f) { return f.stopFilter(); },
     {kNoError, kLost, ERR_FAILED}},
    // ---- version: read from the records the thread keeps, nothing sent ----
    {"ReadVersionUnnoticed",
     Start::Open,
     [](sim::SimControl& c) { c.unplug(); },
     [](FaultInjection& f) { return f.readVersion(); },
     {kNoError, kLost}},
    // ---- disconnect and close: the controller switched off, the buffers cleared ----
    {"DisconnectDisable",
     Start::Filtered,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::Disable));
     },
     [](FaultInjection& f) { return f.disconnect(); },
     {kNoError, kLost}},
    {"DisconnectClear",
     Start::Filtered,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::Clear); },
     [](FaultInjection& f) { return f.disconnect(); },
     {kNoError, kLost}},
    {"CloseDisable",
     Start::Filtered,
     [](sim::SimControl& c) {
         afterPacket(c, PacketClass::Config, command(ConfigCommand::Disable));
     },
     [](FaultInjection& f) { return f.closeForGood(); },
     {kNoError, kLost}},
    {"CloseClear",
     Start::Filtered,
     [](sim::SimControl& c) { afterPacket(c, PacketClass::Clear); },
     [](FaultInjection& f) { return f.closeForGood(); },
     {kNoError, kLost}},
    // ---- garbled replies: the device stays, the call fails cleanly, the next open works ----
    {"OpenIdentificationClassGarbled",
     Start::Closed,
     [](sim::SimControl& c) { c.corruptNextIdentificationClass(); },
     [](FaultInjection& f) { return f.open(); },
     {kLost},
     false},
    {"OpenTruncatedReply",
     Start::Closed,
     [](sim::SimControl& c) { c.truncateNextRead(); },
     [](FaultInjection& f) { return f.open(); },
     {kNoError, kLost, ERR_FAILED},
     false},
    {"GetTermResistorStalled",
     Start::Filtered,
     [](sim::SimControl& c) { c.stallNextReads(3); },
     [](FaultInjection& f) {
         uint32_t on = 0;
         return f.ioctl(GET_TERM_RESISTOR, nullptr, &on);
     },
     {kNoError, ERR_FAILED},
     false},
};

TEST_P(FaultInjection, CallReturnsLossIsReportedAndReplugWorks) {
    const FaultCase& c = GetParam();
    reach(c.start);
    c.arm(world().control());
    auto call = std::async(std::launch::async, [&] { return c.operation(*this); });
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
    expectWorkingSession();
}

INSTANTIATE_TEST_SUITE_P(EveryPhase, FaultInjection, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vtx::e2e
