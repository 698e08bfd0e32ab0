// PassThruSetProgrammingVoltage and PassThruReadVersion end to end over the simulated device.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimPacket.h"
#include "tests/e2e/SimFixture.h"

namespace vtx::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kVoltageRefused[] =
    "The voltage value requested is not admitted for pin 15 of SAE J1962 connector";

// ---------------------------------------------------------------------------------------------
// Programming voltage

class ProgrammingVoltage : public SimFixture {
  protected:
    sim::Pin15State pin15() { return world().control().deviceState().pin15; }

    std::size_t pin15Packets() {
        const std::vector<sim::Packet> packets = world().control().receivedPackets();
        return static_cast<std::size_t>(
            std::count_if(packets.begin(), packets.end(), [](const sim::Packet& p) {
                const auto cmd = static_cast<sim::ConfigCommand>(p[1]);
                return p[0] == static_cast<uint8_t>(sim::PacketClass::Config) &&
                       (cmd == sim::ConfigCommand::Pin15ShortToGround ||
                        cmd == sim::ConfigCommand::Pin15VoltageOff);
            }));
    }
};

TEST_F(ProgrammingVoltage, PinIsCheckedBeforeVoltage) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    struct Case {
        uint32_t pin;
        uint32_t voltage;
        uint32_t status;
    };
    const Case cases[] = {
        {12, 5000, ERR_PIN_INVALID},
        {12, SHORT_TO_GROUND, ERR_PIN_INVALID},
        {0, VOLTAGE_OFF, ERR_PIN_INVALID},
        {16, VOLTAGE_OFF, ERR_PIN_INVALID},
        {15, 12000, ERR_FAILED},
        {15, 5000, ERR_FAILED},
        {15, 0, ERR_FAILED},
        {15, 0xFFFFFFFD, ERR_FAILED},
    };
    world().control().clearReceivedPackets();
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "pin " << c.pin << " voltage " << c.voltage);
        EXPECT_EQ(PassThruSetProgrammingVoltage(deviceId, c.pin, c.voltage), c.status);
        if (c.status == ERR_FAILED) {
            EXPECT_EQ(lastError(), kVoltageRefused);
        }
    }
    EXPECT_EQ(pin15Packets(), 0u);
    EXPECT_EQ(pin15(), sim::Pin15State::VoltageOff);
}

TEST_F(ProgrammingVoltage, ShortToGroundAndVoltageOffReachTheDevice) {
    openAndConnect();
    ASSERT_EQ(PassThruSetProgrammingVoltage(deviceId, 15, SHORT_TO_GROUND), STATUS_NOERROR)
        << lastError();
    EXPECT_EQ(pin15(), sim::Pin15State::ShortToGround);
    ASSERT_EQ(PassThruSetProgrammingVoltage(deviceId, 15, VOLTAGE_OFF), STATUS_NOERROR)
        << lastError();
    EXPECT_EQ(pin15(), sim::Pin15State::VoltageOff);
}

TEST_F(ProgrammingVoltage, AnyDeviceIdWhileOpenNoneBeforeOpen) {
    // The device is checked before the pin: a wrong pin still answers the missing device.
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 15, SHORT_TO_GROUND), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 12, 5000), ERR_INVALID_DEVICE_ID);

    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(PassThruSetProgrammingVoltage(7, 15, SHORT_TO_GROUND), STATUS_NOERROR) << lastError();
    EXPECT_EQ(pin15(), sim::Pin15State::ShortToGround);
    EXPECT_EQ(PassThruSetProgrammingVoltage(0, 15, VOLTAGE_OFF), STATUS_NOERROR) << lastError();
    EXPECT_EQ(pin15(), sim::Pin15State::VoltageOff);

    ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(PassThruSetProgrammingVoltage(1, 15, VOLTAGE_OFF), ERR_INVALID_DEVICE_ID);
}

// Pin-15 commands go to the device beside the running communication thread. While another
// thread keeps switching pin 15, frames written (with loopback) and frames received from the
// bus all arrive whole and in order, and the device sees no malformed packet.
TEST_F(ProgrammingVoltage, Pin15CommandsDoNotCorruptFrameTransfers) {
    openAndConnect();
    passFilter(0x7F0, 0x210);  // 0x210 to 0x21F: the written frames' echoes and the bus frames
    SCONFIG loopback{LOOPBACK, 1};
    SCONFIG_LIST config{1, &loopback};
    ASSERT_EQ(PassThruIoctl(channelId, SET_CONFIG, &config, nullptr), STATUS_NOERROR);
    world().control().clearBusRecords();
    world().control().clearReceivedPackets();

    constexpr uint32_t kToggles = 30;
    constexpr uint32_t kFrames = 60;
    constexpr uint32_t kWrittenId = 0x211;
    constexpr uint32_t kBusId = 0x21A;
    auto payload = [](uint32_t k) {
        return std::vector<uint8_t>{
            static_cast<uint8_t>(k),    static_cast<uint8_t>(~k), 0x11, 0x22, 0x33, 0x44, 0x55,
            static_cast<uint8_t>(k + 7)};
    };

    std::atomic<uint32_t> toggleFailures{0};
    std::thread toggler([&] {
        for (uint32_t i = 0; i < kToggles; ++i) {
            const uint32_t voltage = i % 2 == 0 ? SHORT_TO_GROUND : VOLTAGE_OFF;
            if (PassThruSetProgrammingVoltage(1, 15, voltage) != STATUS_NOERROR) {
                ++toggleFailures;
            }
        }
    });

    uint32_t writeFailures = 0;
    for (uint32_t k = 0; k < kFrames; ++k) {
        PASSTHRU_MSG out = message(kWrittenId, payload(k));
        uint32_t count = 1;
        if (PassThruWriteMsgs(channelId, &out, &count, 500) != STATUS_NOERROR || count != 1) {
            ++writeFailures;
        }
        sim::CanFrame frame{kBusId, false, 8, {}};
        const std::vector<uint8_t> data = payload(k);
        std::copy(data.begin(), data.end(), frame.data.begin());
        world().control().injectFrame(frame);
    }
    toggler.join();
    EXPECT_EQ(toggleFailures.load(), 0u);
    EXPECT_EQ(writeFailures, 0u);

    // Every message read back: the echoes of the written frames and the frames from the bus.
    std::vector<PASSTHRU_MSG> echoes;
    std::vector<PASSTHRU_MSG> received;
    const auto deadline = Clock::now() + 10s;
    while ((echoes.size() < kFrames || received.size() < kFrames) && Clock::now() < deadline) {
        PASSTHRU_MSG in[32] = {};
        uint32_t got = 32;
        PassThruReadMsgs(channelId, in, &got, 100);
        for (uint32_t i = 0; i < got; ++i) {
            (in[i].RxStatus & TX_MSG_TYPE ? echoes : received).push_back(in[i]);
        }
    }
    ASSERT_EQ(echoes.size(), kFrames);
    ASSERT_EQ(received.size(), kFrames);
    for (uint32_t k = 0; k < kFrames; ++k) {
        SCOPED_TRACE(k);
        const std::vector<uint8_t> data = payload(k);
        EXPECT_EQ(idOf(echoes[k]), kWrittenId);
        EXPECT_EQ(idOf(received[k]), kBusId);
        ASSERT_EQ(received[k].DataSize, 12u);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), received[k].Data + 4));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), echoes[k].Data + 4));
    }

    // The written frames crossed the bus whole and in order.
    std::vector<sim::CanFrame> sent;
    for (const sim::SimControl::BusRecord& record : world().control().busRecords()) {
        if (record.frame.id == kWrittenId) {
            sent.push_back(record.frame);
        }
    }
    ASSERT_EQ(sent.size(), kFrames);
    for (uint32_t k = 0; k < kFrames; ++k) {
        const std::vector<uint8_t> data = payload(k);
        EXPECT_EQ(sent[k].dlc, 8);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), sent[k].data.begin())) << k;
    }

    const sim::SimDeviceState state = world().control().deviceState();
    EXPECT_EQ(state.unknownPackets, 0u);
    EXPECT_EQ(state.controller.droppedFrames, 0u);
    EXPECT_EQ(pin15Packets(), kToggles);
    EXPECT_EQ(state.pin15, sim::Pin15State::VoltageOff);
}

// ---------------------------------------------------------------------------------------------
// Version report

class ReadVersion : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        std::memset(firmware, '#', sizeof firmware);
        std::memset(dll, '#', sizeof dll);
        std::memset(api, '#', sizeof api);
    }

    bool untouched(const char* buffer) {
        return std::all_of(buffer, buffer + 80, [](char c) { return c == '#'; });
    }

    char firmware[80];
    char dll[80];
    char api[80];
};

TEST_F(ReadVersion, ReportsFirmwareLibraryAndApiVersions) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    ASSERT_EQ(PassThruReadVersion(deviceId, firmware, dll, api), STATUS_NOERROR) << lastError();
    EXPECT_STREQ(firmware, "VTX20 - N. 1234 - Ver FW 2.1.a.f");
    EXPECT_STREQ(dll, "2.3.0.0");
    EXPECT_STREQ(api, "04.04");
    // Each string is copied with its terminator and nothing beyond it.
    EXPECT_EQ(api[6], '#');
    EXPECT_EQ(dll[8], '#');
    EXPECT_EQ(firmware[33], '#');

    // The same while a channel is connected and frames flow.
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    std::memset(firmware, '#', sizeof firmware);
    ASSERT_EQ(PassThruReadVersion(deviceId, firmware, dll, api), STATUS_NOERROR) << lastError();
    EXPECT_STREQ(firmware, "VTX20 - N. 1234 - Ver FW 2.1.a.f");
}

TEST_F(ReadVersion, DeviceIdMustBeTheOpenDevice) {
    EXPECT_EQ(PassThruReadVersion(1, firmware, dll, api), ERR_INVALID_DEVICE_ID);
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(PassThruReadVersion(7, firmware, dll, api), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(PassThruReadVersion(0, firmware, dll, api), ERR_INVALID_DEVICE_ID);
    // The device is checked before the buffers.
    EXPECT_EQ(PassThruReadVersion(7, nullptr, nullptr, nullptr), ERR_INVALID_DEVICE_ID);
    EXPECT_TRUE(untouched(firmware));
    EXPECT_TRUE(untouched(dll));
    EXPECT_TRUE(untouched(api));
    ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    EXPECT_EQ(PassThruReadVersion(1, firmware, dll, api), ERR_INVALID_DEVICE_ID);
}

TEST_F(ReadVersion, AnyNullBufferIsRefused) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(PassThruReadVersion(deviceId, nullptr, dll, api), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruReadVersion(deviceId, firmware, nullptr, api), ERR_NULL_PARAMETER);
    EXPECT_EQ(PassThruReadVersion(deviceId, firmware, dll, nullptr), ERR_NULL_PARAMETER);
    EXPECT_TRUE(untouched(firmware));
    EXPECT_TRUE(untouched(dll));
    EXPECT_TRUE(untouched(api));
}

// An identification block with a bad checksum is not taken: the device stays without product
// code and serial number, and the report shows them as five zero characters and 0. The zero
// characters end the string for the caller; the rest of the report follows them.
TEST_F(ReadVersion, UnreadIdentificationReportsSerialZero) {
    world().control().corruptNextIdentificationChecksum();
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    ASSERT_EQ(PassThruReadVersion(deviceId, firmware, dll, api), STATUS_NOERROR) << lastError();
    EXPECT_EQ(std::string(firmware, 5), std::string(5, '\0'));
    EXPECT_STREQ(firmware + 5, " - N. 0 - Ver FW 2.1.a.f");
    EXPECT_STREQ(dll, "2.3.0.0");
}

}  // namespace
}  // namespace vtx::e2e
