// The flow control the simulated ECU grants and the traffic generator's identifier, as the
// environment sets them.
#include "sim/SimConfig.h"

#include <gtest/gtest.h>

#include <string>

namespace vtx::sim {
namespace {

SimConfig configWith(const char* blockSize, const char* separationTime) {
    return SimConfig::fromVariables([&](const std::string& name) -> const char* {
        if (name == "VTXPTS_SIM_ECU_BS") {
            return blockSize;
        }
        return name == "VTXPTS_SIM_ECU_STMIN" ? separationTime : nullptr;
    });
}

TEST(SimConfigTest, ReadsTheEcuFlowControl) {
    const struct {
        const char* blockSize;
        const char* separationTime;
        uint8_t expectedBlockSize;
        uint8_t expectedSeparationTime;
    } cases[] = {
        {nullptr, nullptr, 0, 0},                                                   // the defaults
        {"2", "5", 2, 5},         {"255", "127", 255, 127}, {"0", "241", 0, 0xF1},  // 100 µs
        {"8", "249", 8, 0xF9},                                                      // 900 µs
        {"256", "128", 0, 0},  // out of range, reserved: the defaults
        {"-1", "250", 0, 0},      {"x", "0x05", 0, 0},      {"", "", 0, 0},
    };
    for (const auto& c : cases) {
        const SimConfig config = configWith(c.blockSize, c.separationTime);
        EXPECT_EQ(config.ecuFlowControl.blockSize, c.expectedBlockSize)
            << (c.blockSize ? c.blockSize : "unset");
        EXPECT_EQ(config.ecuFlowControl.separationTime, c.expectedSeparationTime)
            << (c.separationTime ? c.separationTime : "unset");
    }
}

TEST(SimConfigTest, StuffingIsOnOnlyForOne) {
    const struct {
        const char* value;
        BitStuffing expected;
    } cases[] = {
        {nullptr, BitStuffing::None},
        {"1", BitStuffing::Real},
        {"yes", BitStuffing::None},
    };
    for (const auto& c : cases) {
        const SimConfig config = SimConfig::fromVariables([&](const std::string& name) {
            return name == "VTXPTS_SIM_STUFFING" ? c.value : nullptr;
        });
        EXPECT_EQ(config.stuffing, c.expected) << (c.value ? c.value : "unset");
    }
}

TEST(SimConfigTest, ReadsTheTrafficIdentifierAsCandumpWritesIt) {
    using Identifier = TrafficGenerator::Identifier;
    const Identifier byDefault{0x100, false};
    const struct {
        const char* value;
        Identifier expected;
    } cases[] = {
        {nullptr, byDefault},
        {"100", {0x100, false}},
        {"7FF", {0x7FF, false}},
        {"18FEF100", {0x18FEF100, true}},
        {"1FFFFFFF", {0x1FFFFFFF, true}},
        {"800", byDefault},       // above 11 bits
        {"20000000", byDefault},  // above 29 bits
        {"1234", byDefault},      // neither 3 nor 8 digits
        {"xyz", byDefault},
        {"", byDefault},
    };
    for (const auto& c : cases) {
        const SimConfig config = SimConfig::fromVariables([&](const std::string& name) {
            return name == "VTXPTS_SIM_TRAFFIC_ID" ? c.value : nullptr;
        });
        EXPECT_EQ(config.trafficIdentifier, c.expected) << (c.value ? c.value : "unset");
    }
}

}  // namespace
}  // namespace vtx::sim
