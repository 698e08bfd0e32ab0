// Connecting and disconnecting the CAN channel: the order of the checks, the controller
// programmed at connect and switched off at disconnect, the bit rate kept until close, and
// connect flags that belong to the channel that was connected with them.
#include "base/ErrorTexts.h"
#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

class Connect : public EngineFixture {};

struct ConnectCase {
    const char* name;
    uint32_t deviceId;
    uint32_t protocol;
    uint32_t flags;
    uint32_t baudRate;
    bool nullChannelPointer;
    bool channelConnectedBefore;
    uint32_t expected;
};

// A protocol the library does not offer.
constexpr uint32_t kIso9141 = 0x03;

// Every row names the check that decides; where a row breaks two rules, the earlier check wins.
// A channel connected before is a CAN channel at 500 kbit/s.
const ConnectCase kConnectCases[] = {
    {"device 0", 0, CAN, 0, 500000, false, false, ERR_INVALID_DEVICE_ID},
    {"device 2", 2, CAN, 0, 500000, false, false, ERR_INVALID_DEVICE_ID},
    {"device before protocol", 2, ISO15765, 0x200, 100000, true, true, ERR_INVALID_DEVICE_ID},
    {"ISO9141 not supported", 1, kIso9141, 0, 500000, false, false, ERR_NOT_SUPPORTED},
    {"unknown protocol", 1, 0x99, 0, 500000, false, false, ERR_NOT_SUPPORTED},
    {"protocol before flags", 1, kIso9141, 0x200, 100000, true, true, ERR_NOT_SUPPORTED},
    {"protocol before null pointer", 1, kIso9141, 0, 500000, true, false, ERR_NOT_SUPPORTED},
    {"ISO15765 flag on CAN", 1, CAN, ISO15765_ADDR_TYPE, 500000, false, false, ERR_INVALID_FLAGS},
    {"flag 0x200", 1, CAN, 0x200, 500000, false, false, ERR_INVALID_FLAGS},
    {"flags before bit rate", 1, CAN, 0x1, 100000, true, true, ERR_INVALID_FLAGS},
    {"bit rate 100000", 1, CAN, 0, 100000, false, false, ERR_INVALID_BAUDRATE},
    {"bit rate in kbit/s", 1, CAN, 0, 500, false, false, ERR_INVALID_BAUDRATE},
    {"bit rate 500001", 1, CAN, 0, 500001, false, false, ERR_INVALID_BAUDRATE},
    {"bit rate before null pointer", 1, CAN, 0, 0, true, true, ERR_INVALID_BAUDRATE},
    {"null channel pointer", 1, CAN, 0, 500000, true, false, ERR_NULL_PARAMETER},
    {"null pointer before channel in use", 1, CAN, 0, 500000, true, true, ERR_NULL_PARAMETER},
    {"channel in use", 1, CAN, 0, 500000, false, true, ERR_CHANNEL_IN_USE},
    {"channel in use at another rate", 1, CAN, 0, 250000, false, true, ERR_CHANNEL_IN_USE},
    {"ISO15765 beside CAN", 1, ISO15765, 0, 500000, false, true, STATUS_NOERROR},
    {"ISO15765 beside CAN at another rate", 1, ISO15765, 0, 250000, false, true, ERR_FAILED},
    {"ISO15765", 1, ISO15765, 0, 500000, false, false, STATUS_NOERROR},
    {"ISO15765 extended addressing", 1, ISO15765, ISO15765_ADDR_TYPE | CAN_29BIT_ID, 500000, false,
     false, STATUS_NOERROR},
    {"11-bit", 1, CAN, 0, 500000, false, false, STATUS_NOERROR},
    {"29-bit", 1, CAN, CAN_29BIT_ID, 500000, false, false, STATUS_NOERROR},
    {"both identifiers", 1, CAN, CAN_ID_BOTH, 500000, false, false, STATUS_NOERROR},
    {"29-bit and both", 1, CAN, CAN_29BIT_ID | CAN_ID_BOTH, 500000, false, false, STATUS_NOERROR},
    {"125 kbit/s", 1, CAN, 0, 125000, false, false, STATUS_NOERROR},
    {"250 kbit/s", 1, CAN, 0, 250000, false, false, STATUS_NOERROR},
    {"1 Mbit/s", 1, CAN, 0, 1000000, false, false, STATUS_NOERROR},
};

TEST_F(Connect, ChecksInOrder) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    for (const ConnectCase& c : kConnectCases) {
        SCOPED_TRACE(c.name);
        const bool otherRate = c.expected == STATUS_NOERROR && c.baudRate != 500000;
        if (otherRate) {
            // The bit rate of an earlier row stays until close.
            ASSERT_EQ(PassThruClose(1), STATUS_NOERROR);
            ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
        }
        if (c.channelConnectedBefore) {
            ASSERT_EQ(PassThruConnect(1, CAN, 0, 500000, &channelId), STATUS_NOERROR);
        }
        uint32_t newChannel = 0;
        const uint32_t status = PassThruConnect(c.deviceId, c.protocol, c.flags, c.baudRate,
                                                c.nullChannelPointer ? nullptr : &newChannel);
        // The only failure with a text here: the bit rate stays fixed while a channel is open.
        expectOutcome(status, c.expected, text::kBitrateAlreadySet);
        if (status == STATUS_NOERROR) {
            EXPECT_NE(newChannel, 0u);
            EXPECT_TRUE(controller().enabled);
        } else {
            EXPECT_EQ(newChannel, 0u);
        }
        // The next row starts without a channel, at 500 kbit/s or none.
        if (otherRate) {
            ASSERT_EQ(PassThruClose(1), STATUS_NOERROR);
            ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
            continue;
        }
        if (status == STATUS_NOERROR) {
            ASSERT_EQ(PassThruDisconnect(newChannel), STATUS_NOERROR);
        }
        if (c.channelConnectedBefore) {
            ASSERT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR);
        }
    }
}

TEST_F(Connect, WithoutOpenDeviceIsAnInvalidDevice) {
    expectOutcome(PassThruConnect(1, CAN, 0, 500000, &channelId), ERR_INVALID_DEVICE_ID);
    expectOutcome(PassThruDisconnect(1), ERR_INVALID_DEVICE_ID);
}

TEST_F(Connect, ProgramsTheControllerAtTheRateWithAcceptanceOpen) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    EXPECT_FALSE(controller().enabled);
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    const sim::SimCanController::Status status = controller();
    EXPECT_TRUE(status.enabled);
    EXPECT_TRUE(status.onBus);
    EXPECT_EQ(status.timing.bitRate(), 500000u);
    EXPECT_TRUE(status.acceptance.open);
}

TEST_F(Connect, AtAnotherRateThanTheBusTheControllerRunsAtThatRate) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 250000, &channelId), STATUS_NOERROR);
    EXPECT_TRUE(controller().enabled);
    EXPECT_FALSE(controller().onBus);
    EXPECT_EQ(controller().timing.bitRate(), 250000u);
}

TEST_F(Connect, DisconnectSwitchesTheControllerOffAndForgetsTheChannel) {
    openAndConnect();
    const uint64_t clears = world().control().deviceState().clears;
    expectOutcome(PassThruDisconnect(channelId + 1), ERR_INVALID_CHANNEL_ID);
    expectOutcome(PassThruDisconnect(0), ERR_INVALID_CHANNEL_ID);
    EXPECT_TRUE(controller().enabled);
    expectOutcome(PassThruDisconnect(channelId), STATUS_NOERROR);
    EXPECT_FALSE(controller().enabled);
    EXPECT_GT(world().control().deviceState().clears, clears);
    expectOutcome(PassThruDisconnect(channelId), ERR_INVALID_CHANNEL_ID);
    // The old channel ID reaches nothing, also once a new channel exists.
    const uint32_t oldChannel = channelId;
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    PASSTHRU_MSG msg = message(0x123);
    uint32_t count = 1;
    expectOutcome(PassThruWriteMsgs(oldChannel, &msg, &count, 0), ERR_INVALID_CHANNEL_ID);
    EXPECT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR);
    ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    expectOutcome(PassThruDisconnect(channelId), ERR_INVALID_DEVICE_ID);
}

TEST_F(Connect, BitRateStaysUntilTheDeviceIsClosed) {
    openAndConnect(0, 500000);
    ASSERT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR);
    expectOutcome(PassThruConnect(deviceId, CAN, 0, 250000, &channelId), ERR_FAILED,
                  kTextBitrateSet);
    // The refused connect changed nothing: the old rate still connects.
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    ASSERT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR);
    ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    expectOutcome(PassThruConnect(deviceId, CAN, 0, 250000, &channelId), STATUS_NOERROR);
    EXPECT_EQ(controller().timing.bitRate(), 250000u);
}

// An 11-bit channel after a 29-bit one: its filters are accepted and the controller compares
// 11-bit identifiers.
TEST_F(Connect, FlagsOfADisconnectedChannelDoNotCarryOver) {
    openAndConnect(CAN_29BIT_ID);
    uint32_t filterId = 0;
    expectOutcome(startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &filterId), ERR_FAILED,
                  kTextTxFlagsInconsistent);
    ASSERT_EQ(startFilter(PASS_FILTER, 0x1FFFFFFF, 0x18DAF110, CAN_29BIT_ID, &filterId),
              STATUS_NOERROR);
    EXPECT_TRUE(controllerAdmits(0x18DAF110, true));
    EXPECT_FALSE(controllerAdmits(0x7E8, false));
    ASSERT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR);

    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    EXPECT_TRUE(controller().acceptance.open);
    uint32_t first = 0;
    uint32_t second = 0;
    expectOutcome(startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &first), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x7E8, 0));
    expectOutcome(startFilter(PASS_FILTER, 0x7FF, 0x7E0, 0, &second), STATUS_NOERROR);
    // Stopping a filter programs the identifier mode from the connect flags.
    expectOutcome(PassThruStopMsgFilter(channelId, second), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x7E8, 0));
    EXPECT_TRUE(controllerAdmits(0x7E8, false));
    EXPECT_FALSE(controllerAdmits(0x7E8, true));
    expectOutcome(startFilter(PASS_FILTER, 0x1FFFFFFF, 0x18DAF110, CAN_29BIT_ID, &second),
                  ERR_FAILED, kTextTxFlagsInconsistent);

    inject(0x7E8, false, {0x03, 0x41, 0x0D, 0x20});
    const std::vector<PASSTHRU_MSG> got = readMessages(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(idOf(got[0]), 0x7E8u);
    EXPECT_EQ(got[0].RxStatus, 0u);
}

}  // namespace
}  // namespace vtx::e2e
