// A whole simulated setup: its configuration from the environment, the nodes it builds, and
// the process-wide instance.
#include "sim/SimWorld.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "tests/sim/SimTestHost.h"

namespace vtx::sim {
namespace {

using namespace test;
using std::chrono::milliseconds;

SimConfig configFrom(const std::map<std::string, std::string>& variables) {
    return SimConfig::fromVariables([&](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    });
}

TEST(SimWorldConfig, DefaultsWhenNothingIsSet) {
    const SimConfig config = configFrom({});
    EXPECT_EQ(config.busRate, 500'000u);
    EXPECT_EQ(config.usbLatency, std::chrono::microseconds(125));
    EXPECT_TRUE(config.ecu);
    EXPECT_FALSE(config.traffic.has_value());
}

TEST(SimWorldConfig, ReadsEachVariable) {
    const SimConfig config = configFrom({{"VTXPTS_SIM_BUSRATE", "250000"},
                                         {"VTXPTS_SIM_USB_LATENCY_US", "0"},
                                         {"VTXPTS_SIM_ECU", "0"},
                                         {"VTXPTS_SIM_TRAFFIC", "max"}});
    EXPECT_EQ(config.busRate, 250'000u);
    EXPECT_EQ(config.usbLatency, std::chrono::microseconds(0));
    EXPECT_FALSE(config.ecu);
    ASSERT_TRUE(config.traffic.has_value());
    EXPECT_TRUE(config.traffic->saturate);

    const SimConfig rate = configFrom({{"VTXPTS_SIM_TRAFFIC", "1500"}, {"VTXPTS_SIM_ECU", "1"}});
    ASSERT_TRUE(rate.traffic.has_value());
    EXPECT_EQ(rate.traffic->framesPerSecond, 1500u);
    EXPECT_TRUE(rate.ecu);
}

TEST(SimWorldConfig, UnreadableValuesKeepTheDefaults) {
    for (const char* bad : {"", "abc", "-5", "500000x", "999", "1000001", " 500000"}) {
        EXPECT_EQ(configFrom({{"VTXPTS_SIM_BUSRATE", bad}}).busRate, 500'000u) << bad;
    }
    for (const char* bad : {"", "x", "-1", "1000001"}) {
        EXPECT_EQ(configFrom({{"VTXPTS_SIM_USB_LATENCY_US", bad}}).usbLatency,
                  std::chrono::microseconds(125))
            << bad;
    }
    EXPECT_FALSE(configFrom({{"VTXPTS_SIM_TRAFFIC", "lots"}}).traffic.has_value());
}

TEST(SimWorld, BuildsTheNodesItIsAskedFor) {
    SimWorld quiet(quietConfig());
    EXPECT_EQ(quiet.ecu(), nullptr);
    EXPECT_EQ(quiet.traffic(), nullptr);
    EXPECT_EQ(quiet.bus().bitRate(), 500'000u);

    SimConfig busy = quietConfig();
    busy.ecu = true;
    busy.busRate = 250'000;
    busy.traffic = TrafficGenerator::Rate{false, 1000};
    SimWorld world(busy);
    EXPECT_NE(world.ecu(), nullptr);
    ASSERT_NE(world.traffic(), nullptr);
    EXPECT_EQ(world.bus().bitRate(), 250'000u);
    EXPECT_TRUE(world.control().waitForBusRecords(5, milliseconds(10'000)));
}

// The device, the bus and the ECU together: an OBD request written as a frame packet is
// answered on the bus and read back as a frame packet.
TEST(SimWorld, EcuAnswersThroughTheDevice) {
    SimConfig config = quietConfig();
    config.ecu = true;
    SimWorld world(config);
    Host host(world.transport());
    ASSERT_TRUE(host.open());
    ASSERT_EQ(host.enableOpen(), 32);
    ASSERT_EQ(
        host.write({hostFrame(0x7DF, false, {0x02, 0x01, 0x0D, 0x55, 0x55, 0x55, 0x55, 0x55})}),
        16);
    const auto replies = host.transfer({}, 1, 2000);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(hostIdentifier(replies[0]), 0x7E8u);
    EXPECT_EQ(replies[0][5], 8);
    EXPECT_EQ(replies[0][6], 0x03);  // single frame, 3 bytes
    EXPECT_EQ(replies[0][7], 0x41);
    EXPECT_EQ(replies[0][8], 0x0D);
}

TEST(SimWorld, ProcessWorldLivesUntilShutdown) {
    SimWorld& first = SimWorld::process();
    EXPECT_EQ(&SimWorld::process(), &first);
    SimWorld::shutdownProcess();
    SimWorld::shutdownProcess();  // nothing left to shut down
    SimWorld& second = SimWorld::process();
    EXPECT_TRUE(second.transport().isDevicePresent());
    SimWorld::shutdownProcess();
}

}  // namespace
}  // namespace vtx::sim
