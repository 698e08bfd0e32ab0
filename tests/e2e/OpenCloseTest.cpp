// Opening and closing the device: device ID 1, the open device kept on a second open, failed
// opens that leave nothing behind, close that always closes, and unloading with the device open.
#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

class OpenClose : public EngineFixture {
  protected:
    // The device handle of the driver family in use.
    bool transportOpen() {
        return kernelVariant() ? world().deviceFile().isOpen() : world().transport().isOpen();
    }

    // The device serves a channel: an echo comes back and the frame crosses the bus.
    void expectChannelWorks() {
        uint32_t filterId = 0;
        ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR)
            << lastError();
        setLoopback(1);
        PASSTHRU_MSG out = message(0x123, {0xAA});
        uint32_t count = 1;
        ASSERT_EQ(PassThruWriteMsgs(channelId, &out, &count, 500), STATUS_NOERROR) << lastError();
        EXPECT_EQ(count, 1u);
        const std::vector<PASSTHRU_MSG> echo = readMessages(1);
        ASSERT_EQ(echo.size(), 1u);
        EXPECT_EQ(echo[0].RxStatus, TX_MSG_TYPE);
        EXPECT_TRUE(eventually([&] { return !busTimesOf(0x123).empty(); }));
    }
};

TEST_F(OpenClose, OpenGivesDeviceOneAndCloseSwitchesTheDeviceOff) {
    deviceId = 77;
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(deviceId, 1u);
    EXPECT_EQ(lastError(), "STATUS_NOERROR");
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    EXPECT_TRUE(controller().enabled);

    expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
    EXPECT_FALSE(controller().enabled);
    EXPECT_FALSE(transportOpen());
    expectOutcome(PassThruConnect(1, CAN, 0, 500000, &channelId), ERR_INVALID_DEVICE_ID);
}

TEST_F(OpenClose, OpenCloseOpenAgainGivesAWorkingDevice) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    deviceId = 0;
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(deviceId, 1u);
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    expectChannelWorks();
    EXPECT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
}

TEST_F(OpenClose, CloseWithAWrongIdStillClosesTheDevice) {
    for (const uint32_t wrongId : {0u, 2u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(wrongId);
        openAndConnect();
        ASSERT_TRUE(controller().enabled);
        expectOutcome(PassThruClose(wrongId), ERR_INVALID_DEVICE_ID);
        EXPECT_FALSE(controller().enabled);
        EXPECT_FALSE(transportOpen());
        expectOutcome(PassThruConnect(1, CAN, 0, 500000, &channelId), ERR_INVALID_DEVICE_ID);
        expectOutcome(PassThruClose(1), ERR_INVALID_DEVICE_ID);
    }
}

TEST_F(OpenClose, CloseWithoutOpenIsAnInvalidDevice) {
    expectOutcome(PassThruClose(1), ERR_INVALID_DEVICE_ID);
    expectOutcome(PassThruClose(0), ERR_INVALID_DEVICE_ID);
}

TEST_F(OpenClose, OpenWithoutDeviceIdPointerLeavesNothingOpen) {
    expectOutcome(PassThruOpen(nullptr, nullptr), ERR_NULL_PARAMETER);
    // The thread that opened the device for its check is gone with the device handle.
    EXPECT_FALSE(transportOpen());
    expectOutcome(PassThruConnect(1, CAN, 0, 500000, &channelId), ERR_INVALID_DEVICE_ID);
    openAndConnect();
    expectChannelWorks();
}

TEST_F(OpenClose, SecondOpenWhileOpenKeepsTheDeviceServing) {
    openAndConnect();
    uint32_t secondId = 55;
    expectOutcome(PassThruOpen(nullptr, &secondId), ERR_DEVICE_IN_USE);
    EXPECT_EQ(secondId, 55u);
    EXPECT_TRUE(controller().enabled);
    // The channel is still there and works.
    uint32_t otherChannel = 0;
    expectOutcome(PassThruConnect(deviceId, CAN, 0, 500000, &otherChannel), ERR_CHANNEL_IN_USE);
    expectChannelWorks();
    expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
}

// A null pointer is checked before the device in use, and a failed open leaves the device
// closed.
TEST_F(OpenClose, OpenWithoutDeviceIdPointerWhileOpenClosesTheDevice) {
    openAndConnect();
    expectOutcome(PassThruOpen(nullptr, nullptr), ERR_NULL_PARAMETER);
    expectOutcome(PassThruDisconnect(channelId), ERR_INVALID_DEVICE_ID);
    EXPECT_FALSE(transportOpen());
}

TEST_F(OpenClose, OpenWhileUnpluggedFailsAndWorksOncePluggedBack) {
    world().control().unplug();
    expectOutcome(PassThruOpen(nullptr, &deviceId), ERR_DEVICE_NOT_CONNECTED);
    // The thread that could not be built is not used again: a second try builds a new one.
    expectOutcome(PassThruOpen(nullptr, &deviceId), ERR_DEVICE_NOT_CONNECTED);
    world().control().plug();
    openAndConnect();
    EXPECT_EQ(deviceId, 1u);
    expectChannelWorks();
    EXPECT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
}

TEST_F(OpenClose, CloseAfterAFailedOpenReportsNoError) {
    world().control().unplug();
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), ERR_DEVICE_NOT_CONNECTED);
    expectOutcome(PassThruClose(1), STATUS_NOERROR);
    world().control().plug();
    openAndConnect();
    expectChannelWorks();
}

TEST_F(OpenClose, DeviceWithoutTheOutputBusQueryIsRefused) {
    world().control().setSingleOutputBus(true);
    expectOutcome(PassThruOpen(nullptr, &deviceId), ERR_FAILED, kTextNoCanBus);
    EXPECT_FALSE(transportOpen());
    expectOutcome(PassThruConnect(1, CAN, 0, 500000, &channelId), ERR_INVALID_DEVICE_ID);
    world().control().setSingleOutputBus(false);
    openAndConnect();
    expectChannelWorks();
}

// Unloading the library in the middle of a session stops the thread and destroys the channels
// without stalling.
TEST_F(OpenClose, UnloadWithTheDeviceOpenReturnsPromptly) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    setLoopback(1);
    uint32_t msgId = 0;
    ASSERT_EQ(startPeriodic(0x301, {1, 2, 3}, 5, &msgId), STATUS_NOERROR);
    ASSERT_EQ(startPeriodic(0x302, {4}, 7, &msgId), STATUS_NOERROR);
    ASSERT_TRUE(world().control().waitForBusRecords(6, 2000ms));
    PASSTHRU_MSG out[3] = {message(0x123, {1}), message(0x124, {2}), message(0x125, {3})};
    uint32_t count = 3;
    ASSERT_EQ(PassThruWriteMsgs(channelId, out, &count, 0), STATUS_NOERROR);

    const auto start = Clock::now();
    unloadLibrary();
    EXPECT_LT(millisecondsSince(start), 2000);

    // Loaded again, the library starts from scratch; the fixture unloads this one.
    ASSERT_TRUE(loadLibrary());
    expectOutcome(PassThruClose(1), ERR_INVALID_DEVICE_ID);
    openAndConnect();
    expectChannelWorks();
}

}  // namespace
}  // namespace vtx::e2e
