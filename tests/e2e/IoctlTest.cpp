// PassThruIoctl end to end over the simulated device: the identifier map and its check order,
// the configuration lists, the clear identifiers and the termination resistor.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "sim/SimPacket.h"
#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kIso15765Bs = 0x1E;  // a parameter this library does not know
constexpr uint32_t kUntouched = 0xA5A5A5A5;
constexpr char kZeroElements[] = "The number of ioctl elements must not be zero";
constexpr char kTermWriteFailed[] =
    "Error returned when writing the CAN bus termination resistor status";
constexpr char kTermReadFailed[] =
    "Error returned when reading the CAN bus termination resistor status";

// Whether a packet the device took from the host is the given configuration command.
bool isConfigCommand(const sim::Packet& packet, sim::ConfigCommand command) {
    return packet[0] == static_cast<uint8_t>(sim::PacketClass::Config) &&
           packet[1] == static_cast<uint8_t>(command);
}

class IoctlFixture : public EngineFixture {
  protected:
    uint32_t ioctl(uint32_t id, void* in = nullptr, void* out = nullptr) {
        return PassThruIoctl(channelId, id, in, out);
    }

    // GET_CONFIG of one parameter; kUntouched when the call left it alone.
    uint32_t getConfig(uint32_t parameter) {
        SCONFIG entry{parameter, kUntouched};
        SCONFIG_LIST list{1, &entry};
        EXPECT_EQ(ioctl(GET_CONFIG, &list), STATUS_NOERROR) << lastError();
        return entry.Value;
    }

    uint32_t setConfig(uint32_t parameter, uint32_t value) {
        SCONFIG entry{parameter, value};
        SCONFIG_LIST list{1, &entry};
        return ioctl(SET_CONFIG, &list);
    }

    sim::SimCanController::Status controller() {
        return world().control().deviceState().controller;
    }

    std::vector<sim::Packet> packetsSince() { return world().control().receivedPackets(); }

    // Writes an OBD request for the engine speed to 0x7DF and waits up to timeout for the
    // answer from 0x7E8 (the channel needs a pass filter for it); whether it came.
    bool engineSpeedAnswered(uint32_t timeoutMs) {
        PASSTHRU_MSG request = message(0x7DF, {0x02, 0x01, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00});
        uint32_t count = 1;
        // Generous: the write ends when the device has taken the frame.
        EXPECT_EQ(PassThruWriteMsgs(channelId, &request, &count, 5000), STATUS_NOERROR)
            << lastError();
        PASSTHRU_MSG answer{};
        uint32_t got = 1;
        PassThruReadMsgs(channelId, &answer, &got, timeoutMs);
        return got == 1 && idOf(answer) == 0x7E8 && answer.Data[4] == 0x04 &&
               answer.Data[5] == 0x41 && answer.Data[6] == 0x0C;
    }

    // Keeps the communication thread inside reads that wait their full time, so that anything
    // waiting for the thread to run its command takes at least one such read.
    // Whether the device has taken the frame holdTheThread holds the thread in.
    bool deviceTookHoldFrame() {
        const std::vector<sim::Packet> packets = world().control().receivedPackets();
        return std::any_of(packets.begin(), packets.end(), [](const sim::Packet& packet) {
            return packet[0] == static_cast<uint8_t>(sim::PacketClass::Frame) &&
                   sim::unpackFrame(packet).id == kHoldFrameId;
        });
    }

    static bool onBusWithId(const std::vector<sim::SimControl::BusRecord>& records, uint32_t id) {
        return std::any_of(records.begin(), records.end(),
                           [id](const sim::SimControl::BusRecord& r) { return r.frame.id == id; });
    }
};

// ---------------------------------------------------------------------------------------------
// The identifier map and the check order

class IoctlIdMap : public IoctlFixture {};

struct IdCase {
    uint32_t id;
    uint32_t withChannel;     // status on the connected channel
    uint32_t withoutChannel;  // status on a channel identifier that is not connected
};

TEST_F(IoctlIdMap, StatusOfEveryRangeWithValidAndInvalidChannel) {
    openAndConnect();
    const uint32_t badChannel = channelId + 0x1000;
    SCONFIG entry{LOOPBACK, 0};
    SCONFIG_LIST list{1, &entry};
    uint32_t resistor = 2;
    uint32_t state = 0;
    const IdCase cases[] = {
        {0x00, ERR_INVALID_IOCTL_ID, ERR_INVALID_IOCTL_ID},
        {GET_CONFIG, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {SET_CONFIG, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {READ_VBATT, ERR_NOT_SUPPORTED, ERR_NOT_SUPPORTED},
        {FIVE_BAUD_INIT, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {FAST_INIT, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {0x06, ERR_INVALID_IOCTL_ID, ERR_INVALID_IOCTL_ID},
        {CLEAR_TX_BUFFER, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {CLEAR_RX_BUFFER, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {CLEAR_PERIODIC_MSGS, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {CLEAR_MSG_FILTERS, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {CLEAR_FUNCT_MSG_LOOKUP_TABLE, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {READ_PROG_VOLTAGE, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {0x7FFF, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {0x8000, ERR_NOT_SUPPORTED, ERR_NOT_SUPPORTED},
        {0x8001, ERR_NOT_SUPPORTED, ERR_NOT_SUPPORTED},
        {0xFFFF, ERR_NOT_SUPPORTED, ERR_NOT_SUPPORTED},
        {0x10000, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {0xEF0FFF, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {SET_TERM_RESISTOR, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {GET_TERM_RESISTOR, STATUS_NOERROR, ERR_INVALID_CHANNEL_ID},
        {0xEF1002, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {0x0FFFFFFF, ERR_NOT_SUPPORTED, ERR_INVALID_CHANNEL_ID},
        {0x10000000, ERR_INVALID_IOCTL_ID, ERR_INVALID_IOCTL_ID},
        {0xFFFFFFFF, ERR_INVALID_IOCTL_ID, ERR_INVALID_IOCTL_ID},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "IoctlID 0x" << std::hex << c.id);
        // Every identifier gets pointers it could use, so that only the map decides.
        void* in =
            c.id == SET_TERM_RESISTOR ? static_cast<void*>(&resistor) : static_cast<void*>(&list);
        void* out = &state;
        EXPECT_EQ(PassThruIoctl(channelId, c.id, in, out), c.withChannel) << lastError();
        EXPECT_EQ(PassThruIoctl(badChannel, c.id, in, out), c.withoutChannel);
        EXPECT_EQ(PassThruIoctl(0, c.id, in, out), c.withoutChannel);
    }
}

TEST_F(IoctlIdMap, BeforeOpenEveryIdentifierIsAnInvalidDevice) {
    for (const uint32_t id : {0x00u, GET_CONFIG, READ_VBATT, 0x8001u, 0x10000000u}) {
        SCOPED_TRACE(::testing::Message() << "IoctlID 0x" << std::hex << id);
        EXPECT_EQ(PassThruIoctl(1, id, nullptr, nullptr), ERR_INVALID_DEVICE_ID);
    }
}

TEST_F(IoctlIdMap, OpenDeviceWithoutChannel) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    uint32_t state = 0;
    EXPECT_EQ(PassThruIoctl(1, READ_VBATT, nullptr, nullptr), ERR_NOT_SUPPORTED);
    EXPECT_EQ(PassThruIoctl(1, 0x8001, nullptr, nullptr), ERR_NOT_SUPPORTED);
    EXPECT_EQ(PassThruIoctl(1, GET_TERM_RESISTOR, nullptr, &state), ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(PassThruIoctl(1, 0x10000000, nullptr, nullptr), ERR_INVALID_IOCTL_ID);
}

TEST_F(IoctlIdMap, LostDeviceAnswersNotConnectedWhateverTheArguments) {
    openAndConnect();
    world().control().unplug();
    uint32_t status = STATUS_NOERROR;
    const auto deadline = Clock::now() + 5s;
    while (status != ERR_DEVICE_NOT_CONNECTED && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        status = ioctl(CLEAR_RX_BUFFER);
    }
    ASSERT_EQ(status, ERR_DEVICE_NOT_CONNECTED);
    for (const uint32_t id : {0x00u, READ_VBATT, 0x8001u, 0x10000000u, GET_CONFIG}) {
        SCOPED_TRACE(::testing::Message() << "IoctlID 0x" << std::hex << id);
        EXPECT_EQ(PassThruIoctl(channelId + 7, id, nullptr, nullptr), ERR_DEVICE_NOT_CONNECTED);
    }
}

// The checks before the device access frame do not wait for the communication thread: with the
// thread held in a device write, refused identifiers answer while it is still held, and a
// served one has to wait for the thread to finish that write and run its command.
TEST_F(IoctlIdMap, RefusedIdentifiersDoNotWaitForTheThread) {
    openAndConnect();
    holdTheThread(3000ms);
    uint32_t resistor = 1;
    struct Call {
        uint32_t channel;
        uint32_t id;
        void* in;
        void* out;
        uint32_t status;
    };
    const Call refused[] = {
        {channelId, 0x00, nullptr, nullptr, ERR_INVALID_IOCTL_ID},
        {channelId + 9, READ_VBATT, nullptr, nullptr, ERR_NOT_SUPPORTED},
        {channelId, FAST_INIT, nullptr, nullptr, ERR_NOT_SUPPORTED},
        {channelId + 9, CLEAR_RX_BUFFER, nullptr, nullptr, ERR_INVALID_CHANNEL_ID},
        {channelId, 0xEF1002, nullptr, nullptr, ERR_NOT_SUPPORTED},
        {channelId, GET_CONFIG, nullptr, nullptr, ERR_NULL_PARAMETER},
        {channelId, GET_TERM_RESISTOR, &resistor, nullptr, ERR_NULL_PARAMETER},
        {channelId, SET_TERM_RESISTOR, nullptr, nullptr, ERR_NULL_PARAMETER},
    };
    for (const Call& call : refused) {
        SCOPED_TRACE(::testing::Message() << "IoctlID 0x" << std::hex << call.id);
        EXPECT_EQ(PassThruIoctl(call.channel, call.id, call.in, call.out), call.status);
    }
    EXPECT_FALSE(deviceTookHoldFrame());
    // Only pInput null: the call goes through the device access frame before it refuses.
    EXPECT_EQ(ioctl(SET_TERM_RESISTOR, nullptr, &resistor), ERR_NULL_PARAMETER);
    EXPECT_TRUE(deviceTookHoldFrame());
    EXPECT_EQ(resistor, 1u);
}

// ---------------------------------------------------------------------------------------------
// Null pointers

class IoctlNullPointers : public IoctlFixture {};

TEST_F(IoctlNullPointers, RequiredPointersPerIdentifier) {
    openAndConnect();
    uint32_t value = 1;
    EXPECT_EQ(ioctl(GET_CONFIG, nullptr, &value), ERR_NULL_PARAMETER);
    EXPECT_EQ(ioctl(SET_CONFIG, nullptr, &value), ERR_NULL_PARAMETER);
    EXPECT_EQ(ioctl(GET_TERM_RESISTOR, &value, nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(ioctl(SET_TERM_RESISTOR, nullptr, nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(ioctl(SET_TERM_RESISTOR, nullptr, &value), ERR_NULL_PARAMETER);
    EXPECT_EQ(value, 1u);
    // Pointers the identifier does not use may be null.
    for (const uint32_t id :
         {CLEAR_TX_BUFFER, CLEAR_RX_BUFFER, CLEAR_PERIODIC_MSGS, CLEAR_MSG_FILTERS}) {
        EXPECT_EQ(ioctl(id), STATUS_NOERROR) << id;
    }
    EXPECT_EQ(ioctl(SET_TERM_RESISTOR, &value, nullptr), STATUS_NOERROR);
    EXPECT_TRUE(world().control().deviceState().termResistor);
}

// ---------------------------------------------------------------------------------------------
// GET_CONFIG and SET_CONFIG lists

class IoctlConfigList : public IoctlFixture {};

TEST_F(IoctlConfigList, GetFillsKnownEntriesAndLeavesUnknownOnes) {
    openAndConnect();
    SCONFIG entries[] = {{LOOPBACK, kUntouched},         {kIso15765Bs, 0x1234},
                         {DATA_RATE, kUntouched},        {0x00, 0x5678},
                         {BIT_SAMPLE_POINT, kUntouched}, {SYNC_JUMP_WIDTH, kUntouched}};
    SCONFIG_LIST list{6, entries};
    ASSERT_EQ(ioctl(GET_CONFIG, &list), STATUS_NOERROR) << lastError();
    const sim::SimCanController::Status now = controller();
    EXPECT_EQ(entries[0].Value, 0u);
    EXPECT_EQ(entries[1].Value, 0x1234u);
    EXPECT_EQ(entries[2].Value, 500000u);
    EXPECT_EQ(entries[3].Value, 0x5678u);
    // 500 kbit/s at 24 MHz: 16 quanta, sampled after 13 of them, jump width 1.
    EXPECT_EQ(entries[4].Value, 81u);
    EXPECT_EQ(entries[4].Value, now.timing.samplePointPerMille() / 10);
    EXPECT_EQ(entries[5].Value, 100u / 16);
    EXPECT_EQ(entries[5].Value, now.timing.sjw * 100 / now.timing.quantaPerBit());
    // Only the first NumOfParams entries are looked at.
    SCONFIG beyond[] = {{LOOPBACK, kUntouched}, {DATA_RATE, kUntouched}};
    SCONFIG_LIST shortList{1, beyond};
    ASSERT_EQ(ioctl(GET_CONFIG, &shortList), STATUS_NOERROR);
    EXPECT_EQ(beyond[0].Value, 0u);
    EXPECT_EQ(beyond[1].Value, kUntouched);
}

TEST_F(IoctlConfigList, NullConfigPtrIsCheckedBeforeTheCount) {
    openAndConnect();
    for (const uint32_t id : {GET_CONFIG, SET_CONFIG}) {
        SCOPED_TRACE(id);
        SCONFIG_LIST nullList{0, nullptr};
        EXPECT_EQ(ioctl(id, &nullList), ERR_NULL_PARAMETER);
        SCONFIG_LIST nullWithCount{3, nullptr};
        EXPECT_EQ(ioctl(id, &nullWithCount), ERR_NULL_PARAMETER);
        SCONFIG entry{LOOPBACK, 1};
        SCONFIG_LIST empty{0, &entry};
        EXPECT_EQ(ioctl(id, &empty), ERR_FAILED);
        EXPECT_EQ(lastError(), kZeroElements);
    }
    EXPECT_EQ(getConfig(LOOPBACK), 0u);
}

TEST_F(IoctlConfigList, InvalidRateEndsTheListWithEarlierEntriesApplied) {
    openAndConnect();
    world().control().clearReceivedPackets();
    SCONFIG entries[] = {{LOOPBACK, 1}, {DATA_RATE, 300000}, {LOOPBACK, 0}};
    SCONFIG_LIST list{3, entries};
    EXPECT_EQ(ioctl(SET_CONFIG, &list), ERR_INVALID_BAUDRATE);
    EXPECT_EQ(getConfig(LOOPBACK), 1u);
    EXPECT_EQ(getConfig(DATA_RATE), 500000u);
    EXPECT_TRUE(packetsSince().empty());
    EXPECT_EQ(setConfig(DATA_RATE, 100000), ERR_INVALID_BAUDRATE);
    EXPECT_EQ(setConfig(DATA_RATE, 0), ERR_INVALID_BAUDRATE);
}

TEST_F(IoctlConfigList, LaterSuccessDoesNotClearAnEarlierFailure) {
    openAndConnect();
    SCONFIG entries[] = {{BIT_SAMPLE_POINT, 100}, {LOOPBACK, 1}, {kIso15765Bs, 7}};
    SCONFIG_LIST list{3, entries};
    EXPECT_EQ(ioctl(SET_CONFIG, &list), ERR_INVALID_IOCTL_VALUE);
    EXPECT_EQ(getConfig(LOOPBACK), 1u);
}

TEST_F(IoctlConfigList, AnyNonZeroLoopbackSwitchesItOn) {
    openAndConnect();
    passFilter(0x7FF, 0x123);
    ASSERT_EQ(setConfig(LOOPBACK, 5), STATUS_NOERROR);
    EXPECT_EQ(getConfig(LOOPBACK), 1u);
    PASSTHRU_MSG out = message(0x123, {0xAB});
    uint32_t count = 1;
    ASSERT_EQ(PassThruWriteMsgs(channelId, &out, &count, 200), STATUS_NOERROR) << lastError();
    PASSTHRU_MSG in{};
    uint32_t got = 1;
    EXPECT_EQ(PassThruReadMsgs(channelId, &in, &got, 500), STATUS_NOERROR);
    ASSERT_EQ(got, 1u);
    EXPECT_EQ(in.RxStatus, TX_MSG_TYPE);
    EXPECT_EQ(in.Data[4], 0xAB);

    ASSERT_EQ(setConfig(LOOPBACK, 0), STATUS_NOERROR);
    EXPECT_EQ(getConfig(LOOPBACK), 0u);
    count = 1;
    ASSERT_EQ(PassThruWriteMsgs(channelId, &out, &count, 200), STATUS_NOERROR);
    got = 1;
    PassThruReadMsgs(channelId, &in, &got, 200);
    EXPECT_EQ(got, 0u);
}

// ---------------------------------------------------------------------------------------------
// DATA_RATE

class IoctlDataRate : public IoctlFixture {};

TEST_F(IoctlDataRate, SameRateSendsNothing) {
    openAndConnect();
    world().control().clearReceivedPackets();
    EXPECT_EQ(setConfig(DATA_RATE, 500000), STATUS_NOERROR);
    EXPECT_TRUE(packetsSince().empty());
    EXPECT_TRUE(controller().onBus);
}

TEST_F(IoctlDataRate, ChangeReprogramsTheControllerAndTheEcuFallsSilent) {
    openAndConnect();
    passFilter(0x7FF, 0x7E8);
    ASSERT_TRUE(engineSpeedAnswered(10000));

    ASSERT_EQ(setConfig(DATA_RATE, 250000), STATUS_NOERROR) << lastError();
    sim::SimCanController::Status slow = controller();
    EXPECT_TRUE(slow.enabled);
    EXPECT_EQ(slow.timing.bitRate(), 250000u);
    EXPECT_FALSE(slow.onBus);
    EXPECT_EQ(getConfig(DATA_RATE), 250000u);
    // The acceptance filter of the pass filter survives the reprogramming.
    EXPECT_FALSE(slow.acceptance.open);

    // The answer read above may still be recorded after the clear: the bus hands a frame to its
    // nodes before its observers. The request is recorded before the ECU can answer it.
    world().control().clearBusRecords();
    EXPECT_FALSE(engineSpeedAnswered(300));
    EXPECT_FALSE(onBusWithId(world().control().busRecords(), 0x7DF));

    ASSERT_EQ(setConfig(DATA_RATE, 500000), STATUS_NOERROR) << lastError();
    EXPECT_EQ(controller().timing.bitRate(), 500000u);
    EXPECT_TRUE(controller().onBus);
    EXPECT_TRUE(engineSpeedAnswered(10000));
}

TEST_F(IoctlDataRate, EveryAdmittedRateReachesTheController) {
    openAndConnect();
    for (const uint32_t rate : {125000u, 1000000u, 250000u, 500000u}) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(setConfig(DATA_RATE, rate), STATUS_NOERROR) << lastError();
        EXPECT_EQ(controller().timing.bitRate(), rate);
        EXPECT_EQ(getConfig(DATA_RATE), rate);
        // The jump width read back follows the quanta of the new timing.
        const sim::SimCanController::Timing timing = controller().timing;
        EXPECT_EQ(getConfig(SYNC_JUMP_WIDTH), timing.sjw * 100 / timing.quantaPerBit());
    }
}

// ---------------------------------------------------------------------------------------------
// BIT_SAMPLE_POINT and SYNC_JUMP_WIDTH

class IoctlBitTiming : public IoctlFixture {};

TEST_F(IoctlBitTiming, RealisedSamplePointsAreAcceptedAndReadBack) {
    openAndConnect();
    struct Case {
        uint32_t asked;
        uint32_t realised;  // percent, at 500 kbit/s and 24 MHz
    };
    // 75 and 50 fall on whole quanta of a 16-quantum bit; 87 comes out as 14 of 16 (87.5 %);
    // 11 is below what the controller's first segment allows and is realised as near as it can.
    for (const Case c : {Case{75, 75}, Case{50, 50}, Case{87, 87}, Case{80, 81}}) {
        SCOPED_TRACE(c.asked);
        if (kernelVariant() && c.asked != c.realised) {
            // Behind the kernel driver the sample point asked for is kept as asked, so only a
            // point the controller realises exactly is accepted; the rest is rolled back.
            const uint32_t before = getConfig(BIT_SAMPLE_POINT);
            EXPECT_EQ(setConfig(BIT_SAMPLE_POINT, c.asked), ERR_INVALID_IOCTL_VALUE);
            EXPECT_EQ(getConfig(BIT_SAMPLE_POINT), before);
            EXPECT_TRUE(controller().onBus);
            continue;
        }
        ASSERT_EQ(setConfig(BIT_SAMPLE_POINT, c.asked), STATUS_NOERROR) << lastError();
        const sim::SimCanController::Status now = controller();
        EXPECT_TRUE(now.onBus);
        EXPECT_EQ(now.timing.samplePointPerMille() / 10, c.realised);
        EXPECT_EQ(getConfig(BIT_SAMPLE_POINT), c.realised);
    }
    if (kernelVariant()) {
        EXPECT_EQ(setConfig(BIT_SAMPLE_POINT, 11), ERR_INVALID_IOCTL_VALUE);
        return;
    }
    ASSERT_EQ(setConfig(BIT_SAMPLE_POINT, 11), STATUS_NOERROR) << lastError();
    const uint32_t lowest = controller().timing.samplePointPerMille() / 10;
    EXPECT_GT(lowest, 11u);
    EXPECT_EQ(getConfig(BIT_SAMPLE_POINT), lowest);
    EXPECT_TRUE(controller().onBus);
}

TEST_F(IoctlBitTiming, UnrealisedSamplePointIsRolledBack) {
    openAndConnect();
    passFilter(0x7FF, 0x7E8);
    ASSERT_EQ(setConfig(BIT_SAMPLE_POINT, 75), STATUS_NOERROR) << lastError();
    const sim::SimCanController::Status before = controller();
    for (const uint32_t asked : {0u, 10u, 100u, 150u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(asked);
        EXPECT_EQ(setConfig(BIT_SAMPLE_POINT, asked), ERR_INVALID_IOCTL_VALUE);
        const sim::SimCanController::Status after = controller();
        EXPECT_TRUE(after.enabled);
        EXPECT_TRUE(after.onBus);
        EXPECT_EQ(after.timing.btr0, before.timing.btr0);
        EXPECT_EQ(after.timing.btr1, before.timing.btr1);
        EXPECT_EQ(after.acceptance.code, before.acceptance.code);
        EXPECT_EQ(after.acceptance.mask, before.acceptance.mask);
        EXPECT_EQ(getConfig(BIT_SAMPLE_POINT), 75u);
    }
    EXPECT_TRUE(engineSpeedAnswered(1000));
}

TEST_F(IoctlBitTiming, JumpWidthIsSetAsPercentageAndReadBackAsOne) {
    openAndConnect();
    struct Case {
        uint32_t percent;
        uint32_t quanta;  // of a 16-quantum bit whose second segment is 3 quanta long
    };
    for (const Case c :
         {Case{13, 2}, Case{19, 3}, Case{6, 1}, Case{0, 1}, Case{100, 3}, Case{25, 3}}) {
        SCOPED_TRACE(c.percent);
        ASSERT_EQ(setConfig(SYNC_JUMP_WIDTH, c.percent), STATUS_NOERROR) << lastError();
        const sim::SimCanController::Status now = controller();
        EXPECT_TRUE(now.onBus);
        ASSERT_EQ(now.timing.quantaPerBit(), 16u);
        EXPECT_EQ(now.timing.sjw, c.quanta);
        EXPECT_EQ(getConfig(SYNC_JUMP_WIDTH), c.quanta * 100 / 16);
    }
}

// ---------------------------------------------------------------------------------------------
// The clear identifiers

class IoctlClear : public IoctlFixture {};

// Frames queued while the thread is busy in a long read are discarded: once the thread runs
// again the bus never carries them.
TEST_F(IoctlClear, TxBufferDropsQueuedFrames) {
    openAndConnect();
    // The clear empties the queue before it waits for the thread to run its command, which the
    // hold's end lets it do.
    holdTheThread(1500ms);
    world().control().clearBusRecords();
    PASSTHRU_MSG queued[] = {message(0x301, {1}), message(0x302, {2}), message(0x303, {3})};
    uint32_t count = 3;
    ASSERT_EQ(PassThruWriteMsgs(channelId, queued, &count, 0), STATUS_NOERROR) << lastError();
    ASSERT_EQ(ioctl(CLEAR_TX_BUFFER), STATUS_NOERROR) << lastError();

    // A frame written after the clear goes out; the ones before it never do.
    PASSTHRU_MSG after = message(0x3FF, {4});
    count = 1;
    ASSERT_EQ(PassThruWriteMsgs(channelId, &after, &count, 1000), STATUS_NOERROR) << lastError();
    ASSERT_TRUE(world().control().waitForBusRecords(1, 2000ms));
    std::this_thread::sleep_for(50ms);
    const std::vector<sim::SimControl::BusRecord> records = world().control().busRecords();
    EXPECT_TRUE(onBusWithId(records, 0x3FF));
    for (const uint32_t id : {0x301u, 0x302u, 0x303u}) {
        EXPECT_FALSE(onBusWithId(records, id)) << std::hex << id;
    }
}

TEST_F(IoctlClear, RxBufferEmptiesTheReceiveQueue) {
    openAndConnect();
    passFilter(0x700, 0x100);
    ASSERT_EQ(setConfig(LOOPBACK, 1), STATUS_NOERROR);
    PASSTHRU_MSG out[] = {message(0x101, {1}), message(0x102, {2}), message(0x103, {3})};
    uint32_t count = 3;
    ASSERT_EQ(PassThruWriteMsgs(channelId, out, &count, 500), STATUS_NOERROR) << lastError();
    ASSERT_TRUE(world().control().injectFrame({0x1AA, false, 1, {0x55}}));
    ASSERT_TRUE(world().control().waitForBusRecords(4, 2000ms));
    std::this_thread::sleep_for(100ms);  // the injected frame reaches the receive queue

    ASSERT_EQ(ioctl(CLEAR_RX_BUFFER), STATUS_NOERROR) << lastError();
    PASSTHRU_MSG in[8] = {};
    uint32_t got = 8;
    EXPECT_EQ(PassThruReadMsgs(channelId, in, &got, 0), ERR_BUFFER_EMPTY);
    EXPECT_EQ(got, 0u);

    // The queue still takes frames after the clear.
    ASSERT_TRUE(world().control().injectFrame({0x1BB, false, 1, {0x66}}));
    got = 1;
    EXPECT_EQ(PassThruReadMsgs(channelId, in, &got, 1000), STATUS_NOERROR);
    ASSERT_EQ(got, 1u);
    EXPECT_EQ(idOf(in[0]), 0x1BBu);
}

TEST_F(IoctlClear, PeriodicMessagesStop) {
    openAndConnect();
    PASSTHRU_MSG periodic = message(0x321, {0xAA, 0xBB});
    uint32_t msgId = 0;
    ASSERT_EQ(PassThruStartPeriodicMsg(channelId, &periodic, &msgId, 10), STATUS_NOERROR)
        << lastError();
    ASSERT_TRUE(world().control().waitForBusRecords(3, 2000ms));
    ASSERT_EQ(ioctl(CLEAR_PERIODIC_MSGS), STATUS_NOERROR) << lastError();
    // Once the clear has returned, the device is handed no frame of it.
    const std::size_t handedAtClear = framesHandedToDevice(0x321);
    std::this_thread::sleep_for(300ms);  // thirty of its intervals
    EXPECT_EQ(framesHandedToDevice(0x321), handedAtClear);
    EXPECT_EQ(PassThruStopPeriodicMsg(channelId, msgId), ERR_INVALID_MSG_ID);
}

TEST_F(IoctlClear, MsgFiltersWithOpenDeviceFilterSendNothing) {
    openAndConnect();
    // Never a filter, and a filter started then stopped: the device's filter is open both times.
    for (const bool withStoppedFilter : {false, true}) {
        SCOPED_TRACE(withStoppedFilter);
        if (withStoppedFilter) {
            const uint32_t filterId = passFilter(0x7FF, 0x7E8);
            ASSERT_EQ(PassThruStopMsgFilter(channelId, filterId), STATUS_NOERROR);
        }
        ASSERT_TRUE(controller().acceptance.open);
        world().control().clearReceivedPackets();
        ASSERT_EQ(ioctl(CLEAR_MSG_FILTERS), STATUS_NOERROR) << lastError();
        // No command; a read the thread asked for while the filter was there (a frame wait
        // armed before the stop) may still reach the device.
        const std::vector<sim::Packet> packets = packetsSince();
        EXPECT_TRUE(std::all_of(packets.begin(), packets.end(), [](const sim::Packet& p) {
            return p[0] == static_cast<uint8_t>(sim::PacketClass::TransferHeader);
        }));
        EXPECT_TRUE(controller().acceptance.open);
    }
}

// Clearing the last filter opens the controller, as stopping it does.
TEST_F(IoctlClear, MsgFiltersOpenTheControllerOverNoFilter) {
    struct Case {
        uint32_t connectFlags;
        uint32_t filterFlags;
        uint32_t mask;
        uint32_t pattern;
    };
    const Case cases[] = {
        {0, 0, 0x7FF, 0x7E8},
        {CAN_29BIT_ID, CAN_29BIT_ID, 0x1FFFFFFF, 0x18DAF110},
        {CAN_ID_BOTH, 0, 0x7FF, 0x7E8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "flags 0x" << std::hex << c.connectFlags);
        openAndConnect(c.connectFlags);
        passFilter(c.mask, c.pattern, c.filterFlags);
        ASSERT_FALSE(controller().acceptance.open);
        world().control().clearReceivedPackets();

        ASSERT_EQ(ioctl(CLEAR_MSG_FILTERS), STATUS_NOERROR) << lastError();
        const sim::SimCanController::Status now = controller();
        EXPECT_TRUE(now.onBus);
        EXPECT_TRUE(now.acceptance.open);
        const std::vector<sim::Packet> packets = packetsSince();
        EXPECT_TRUE(std::any_of(packets.begin(), packets.end(), [](const sim::Packet& p) {
            return isConfigCommand(p, sim::ConfigCommand::Enable);
        }));

        ASSERT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR) << lastError();
        ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR) << lastError();
    }
}

// ---------------------------------------------------------------------------------------------
// The termination resistor

class IoctlTermResistor : public IoctlFixture {};

TEST_F(IoctlTermResistor, SetReadBackAndDeviceState) {
    openAndConnect();
    uint32_t state = kUntouched;
    ASSERT_EQ(ioctl(GET_TERM_RESISTOR, nullptr, &state), STATUS_NOERROR) << lastError();
    EXPECT_EQ(state, 2u);  // switched off when the device was opened
    for (const uint32_t setting : {1u, 2u, 1u}) {
        SCOPED_TRACE(setting);
        uint32_t in = setting;
        uint32_t out = kUntouched;
        ASSERT_EQ(ioctl(SET_TERM_RESISTOR, &in, &out), STATUS_NOERROR) << lastError();
        EXPECT_EQ(out, setting);
        EXPECT_EQ(world().control().deviceState().termResistor, setting == 1);
        state = kUntouched;
        ASSERT_EQ(ioctl(GET_TERM_RESISTOR, nullptr, &state), STATUS_NOERROR) << lastError();
        EXPECT_EQ(state, setting);
    }
}

TEST_F(IoctlTermResistor, RefusedSettingFailsAndLeavesOutputUntouched) {
    openAndConnect();
    world().control().failNextWrites(1);
    uint32_t in = 1;
    uint32_t out = kUntouched;
    EXPECT_EQ(ioctl(SET_TERM_RESISTOR, &in, &out), ERR_FAILED);
    EXPECT_EQ(lastError(), kTermWriteFailed);
    EXPECT_EQ(out, kUntouched);
    EXPECT_FALSE(world().control().deviceState().termResistor);
    // The device is still there: the next attempt goes through.
    EXPECT_EQ(ioctl(SET_TERM_RESISTOR, &in, &out), STATUS_NOERROR) << lastError();
    EXPECT_EQ(out, 1u);
}

TEST_F(IoctlTermResistor, RefusedQueryFailsAndLeavesOutputUntouched) {
    openAndConnect();
    world().control().failNextWrites(1);
    uint32_t state = kUntouched;
    EXPECT_EQ(ioctl(GET_TERM_RESISTOR, nullptr, &state), ERR_FAILED);
    EXPECT_EQ(lastError(), kTermReadFailed);
    EXPECT_EQ(state, kUntouched);
    EXPECT_EQ(ioctl(GET_TERM_RESISTOR, nullptr, &state), STATUS_NOERROR) << lastError();
    EXPECT_EQ(state, 2u);
}

}  // namespace
}  // namespace vtx::e2e
