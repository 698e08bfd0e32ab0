// KernelDriverDevice against the simulated device behind its device file.
#include <gtest/gtest.h>

#include <chrono>

#include "device/kerneldriver/KernelDriverDevice.h"
#include "sim/SimWorld.h"

namespace vtx {
namespace {

sim::SimConfig quietBus() {
    sim::SimConfig config;
    config.ecu = false;
    return config;
}

class KernelDriverDeviceSimTest : public ::testing::Test {
  protected:
    sim::SimWorld world{quietBus()};
    KernelDriverDevice iface{world.deviceFile()};
};

TEST_F(KernelDriverDeviceSimTest, CheckConnectionOpensAndIdentifies) {
    iface.setReplyTimeout(40);
    ASSERT_TRUE(iface.checkConnection());
    EXPECT_TRUE(iface.isOpen());
    EXPECT_EQ(std::string(iface.info().productCode, 5), "VTX20");
    EXPECT_EQ(iface.info().serialNumber, sim::SimDevice::kSerialNumber);
    EXPECT_EQ(iface.info().outBusSupported, 2);
    // The file is not shared: a second opener is refused while this one holds it.
    EXPECT_FALSE(world.deviceFile().open());
}

TEST_F(KernelDriverDeviceSimTest, UnplugClosesRePlugReopensFresh) {
    iface.setReplyTimeout(40);
    ASSERT_TRUE(iface.checkConnection());
    ASSERT_TRUE(iface.configure(
        {.acceptanceId = 0x7E8, .acceptanceMask = 0, .bitRateKbps = 500, .outputBus = 0}));
    EXPECT_TRUE(world.control().deviceState().controller.enabled);

    world.control().unplug();
    EXPECT_FALSE(iface.checkConnection());
    EXPECT_FALSE(iface.isOpen());
    EXPECT_FALSE(iface.checkConnection());

    world.control().plug();
    ASSERT_TRUE(iface.checkConnection());
    EXPECT_TRUE(iface.isOpen());
    EXPECT_EQ(iface.settings().baudrate, 0u);
    EXPECT_FALSE(world.control().deviceState().controller.enabled);
}

TEST_F(KernelDriverDeviceSimTest, FramesCrossTheBusBothWays) {
    iface.setReplyTimeout(40);
    ASSERT_TRUE(iface.checkConnection());
    ASSERT_TRUE(iface.configure({.acceptanceId = kOpenFilter,
                                 .acceptanceMask = kOpenFilter,
                                 .bitRateKbps = 500,
                                 .outputBus = 0}));
    world.control().clearBusRecords();

    CanFrame out[2] = {};
    out[0].idCan = 0x7E0;
    out[0].lenDataCan = 2;
    out[0].dataCan[0] = 0x01;
    out[0].dataCan[1] = 0x0C;
    out[1].idCan = 0x18DB33F1;
    out[1].idExt = 1;
    out[1].lenDataCan = 1;
    ASSERT_EQ(iface.writeFrames(std::span(out, 2)), 2);
    ASSERT_TRUE(world.control().waitForBusRecords(2, std::chrono::seconds(5)));
    const auto records = world.control().busRecords();
    EXPECT_EQ(records[0].frame.id, 0x7E0u);
    EXPECT_FALSE(records[0].frame.extended);
    EXPECT_EQ(records[0].frame.data[1], 0x0C);
    EXPECT_EQ(records[1].frame.id, 0x18DB33F1u);
    EXPECT_TRUE(records[1].frame.extended);

    sim::CanFrame frame;
    frame.id = 0x18DAF110;
    frame.extended = true;
    frame.dlc = 3;
    frame.data = {1, 2, 3};
    ASSERT_TRUE(world.control().injectFrame(frame));
    ASSERT_TRUE(world.control().waitForBusRecords(3, std::chrono::seconds(5)));
    iface.setReplyTimeout(0);
    CanFrame in[128];
    ASSERT_EQ(iface.readFrames(std::span(in, 128)), 1);
    EXPECT_EQ(uint32_t{in[0].idCan}, 0x18DAF110u);
    EXPECT_EQ(in[0].idExt, 1);
    EXPECT_EQ(in[0].lenDataCan, 3);
    EXPECT_EQ(in[0].dataCan[2], 3);
    EXPECT_EQ(uint32_t{in[1].idCan}, 0xFFFFFFFFu);
}

TEST_F(KernelDriverDeviceSimTest, AuxValueReachesDeviceAndDriver) {
    ASSERT_TRUE(iface.checkConnection());
    EXPECT_EQ(iface.setAuxValue(1234), 1234);
    EXPECT_EQ(world.deviceFile().lastAuxValue(), 1234u);
}

}  // namespace
}  // namespace vtx
