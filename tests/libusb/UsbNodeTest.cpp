// What only the USB path has: the device's node removed and added back as when the cable is
// pulled and plugged in again, and the device found by its USB IDs.
#include <cstdlib>

#include "platform/posix/libusb/LibusbContext.h"
#include "tests/e2e/EngineFixture.h"
#include "tests/libusb/UmockdevEnvironment.h"

namespace vtx::e2e {
namespace {

class UsbNode : public EngineFixture {
  protected:
    void pullCable() {
        world().control().unplug();
        usbtest::usbEmulator().removeNode();
    }
    void plugCable() {
        world().control().plug();
        usbtest::usbEmulator().addNode();
    }
    void expectEcuAnswers() {
        uint32_t filterId = 0;
        ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &filterId), STATUS_NOERROR);
        PASSTHRU_MSG request = message(0x7DF, {0x02, 0x01, 0x0C});
        uint32_t count = 1;
        ASSERT_EQ(PassThruWriteMsgs(channelId, &request, &count, 500), STATUS_NOERROR)
            << lastError();
        const std::vector<PASSTHRU_MSG> answer = readThrough(0x7E8);
        ASSERT_FALSE(answer.empty());
        EXPECT_EQ(answer.back().Data[5], 0x41);  // engine speed, a positive answer
        EXPECT_EQ(answer.back().Data[6], 0x0C);
    }
};

TEST_F(UsbNode, CablePulledIsDeviceLossAndThePluggedDeviceOpensAgain) {
    openAndConnect();
    pullCable();
    ASSERT_TRUE(eventually([&] {
        PASSTHRU_MSG msg{};
        uint32_t count = 1;
        return PassThruReadMsgs(channelId, &msg, &count, 0) == ERR_DEVICE_NOT_CONNECTED;
    }));
    expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
    expectOutcome(PassThruOpen(nullptr, &deviceId), ERR_DEVICE_NOT_CONNECTED);

    plugCable();
    openAndConnect();
    expectEcuAnswers();
    EXPECT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
}

TEST_F(UsbNode, LossWithoutAChannelIsNoticedByThePresenceCheck) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    pullCable();
    ASSERT_TRUE(eventually([&] {
        return PassThruConnect(deviceId, CAN, 0, 500000, &channelId) == ERR_DEVICE_NOT_CONNECTED;
    }));
    expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
    plugCable();
}

// The library is loaded again with VTXPTS_USB_ID naming IDs no device has: the emulated device
// (and the hub beside it) are passed over. A process that has already seen the device keeps
// counting the driver as installed, so the check needs one that has not.
class OtherUsbIds : public UsbNode {
  protected:
    void SetUp() override {
        if (platform::LibusbContext::matchingDeviceSeen()) {
            GTEST_SKIP() << "this process has already seen the device";
        }
        setenv("VTXPTS_USB_ID", "1d6b:0003", 1);
        UsbNode::SetUp();
    }
    void TearDown() override {
        UsbNode::TearDown();
        unsetenv("VTXPTS_USB_ID");
    }
};

// The text says what is missing.
TEST_F(OtherUsbIds, NoDeviceWithTheIdsIsNoDriver) {
    expectOutcome(PassThruOpen(nullptr, &deviceId), ERR_FAILED,
                  "The interface driver is not installed: no USB device with its IDs");
}

}  // namespace
}  // namespace vtx::e2e
