// WinUsbDevice at the packet level, against a scripted transport.
#include "device/winusb/WinUsbDevice.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/DevicePackets.h"
#include "tests/device/ScriptedPipeTransport.h"

namespace vtx {
namespace {

using test::packetOf;
using Bytes = std::vector<uint8_t>;

Bytes identificationReply(const char* product, uint16_t customer, uint32_t serial, bool goodSum) {
    uint8_t block[32] = {};
    std::memcpy(block + 20, product, 5);
    block[25] = static_cast<uint8_t>(customer >> 8);
    block[26] = static_cast<uint8_t>(customer);
    for (int i = 0; i < 4; ++i) {
        block[27 + i] = static_cast<uint8_t>(serial >> (24 - 8 * i));
    }
    uint8_t sum = 0;
    for (int i = 0; i < 31; ++i) {
        sum = static_cast<uint8_t>(sum + block[i]);
    }
    block[31] = static_cast<uint8_t>(goodSum ? sum : sum + 1);
    Bytes reply(64, 0);
    for (int i = 0; i < 4; ++i) {
        reply[i * 16] = packet::kClassIdentReply;
        std::memcpy(&reply[i * 16 + 8], block + 8 * i, 8);
    }
    return reply;
}

class WinUsbDeviceTest : public ::testing::Test {
  protected:
    // Runs init against a device that identifies as product with the given firmware
    // (components most significant first), reports its resistor off and two output buses.
    void initDevice(const char* product = "VTX20", std::array<uint8_t, 4> fw = {2, 1, 10, 15}) {
        transport.replies.push_back(identificationReply(product, 0x0001, 1234, true));
        transport.replies.push_back(packetOf({0x08, fw[3], fw[2], fw[1], fw[0]}));
        transport.replies.push_back(packetOf({0x0A, 0x00}));
        Bytes outBus = packetOf({0x14, 0x0B});
        outBus[15] = 3;  // the fourth transfer header of init carries sequence number 3
        transport.replies.push_back(outBus);
        ASSERT_TRUE(iface.init());
        transport.writes.clear();
    }

    // Runs init against a device that offers no choice of output buses: the query goes
    // unanswered and the fallback probe answers zeros.
    void initSingleBusDevice() {
        transport.replies.push_back(identificationReply("VTX20", 0x0001, 1234, true));
        transport.replies.push_back(packetOf({0x08, 15, 10, 1, 2}));
        transport.replies.push_back(packetOf({0x0A, 0x00}));
        transport.replies.push_back({});
        transport.replies.push_back(Bytes(16, 0));
        ASSERT_TRUE(iface.init());
        transport.writes.clear();
    }

    test::ScriptedPipeTransport transport;
    WinUsbDevice iface{transport};
};

TEST_F(WinUsbDeviceTest, InitIdentifiesAndSwitchesTheResistorOff) {
    transport.replies.push_back(identificationReply("VTX20", 0x0001, 1234, true));
    transport.replies.push_back(packetOf({0x08, 0x04, 0x03, 0x02, 0x01}));
    transport.replies.push_back(packetOf({0x0A, 0x01}));  // resistor reported on
    Bytes outBus = packetOf({0x14, 0x0B});
    outBus[15] = 3;
    transport.replies.push_back(outBus);
    ASSERT_TRUE(iface.init());

    const auto identity = iface.identify(IdentitySource::Recorded);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->firmwareWord, 0x01020304u);
    EXPECT_EQ(identity->serialNumber, 1234u);
    EXPECT_EQ(identity->customerCode, 1u);
    EXPECT_EQ(std::string(identity->productCode.data(), 5), "VTX20");
    EXPECT_EQ(identity->kind, 2u);
    EXPECT_EQ(iface.info().outBusSupported, 2);
    EXPECT_EQ(iface.info().outBus, 0);
    const CommParameters& params = iface.settings();
    EXPECT_EQ(params.SamplePoint, 80u);
    EXPECT_EQ(params.Sjw, 1u);
    EXPECT_EQ(params.termResistor, 0u);

    // Open: clear, disable; then the four transfers; the resistor-off packet after the query.
    const auto packets = transport.packets();
    ASSERT_GE(packets.size(), 11u);
    EXPECT_EQ(packets[0], packetOf({0x06}));
    EXPECT_EQ(packets[1], packetOf({0x04, 0x05}));
    EXPECT_EQ(packets[2][0], 0x0B);
    EXPECT_EQ(packets[3], packetOf({0x09}));
    EXPECT_EQ(packets[7], packetOf({0x04, 0x0A}));
    EXPECT_EQ(packets[8], packetOf({0x04, 0x09, 0x00}));
    EXPECT_EQ(packets[10], packetOf({0x04, 0x0B}));
}

TEST_F(WinUsbDeviceTest, IdentificationFaults) {
    initDevice();
    // Wrong checksum: identification succeeds, the codes keep their values.
    transport.replies.push_back(identificationReply("ABCDE", 0x9999, 42, false));
    transport.replies.push_back(packetOf({0x08, 1, 0, 0, 3}));
    EXPECT_TRUE(iface.readIdentification());
    EXPECT_EQ(std::string(iface.info().productCode, 5), "VTX20");
    EXPECT_EQ(iface.info().serialNumber, 1234u);
    EXPECT_EQ(iface.info().firmwareWord(), 0x03000001u);
    // A reply packet of the wrong class fails the read and updates nothing.
    Bytes bad = identificationReply("ABCDE", 0x9999, 42, true);
    bad[32] = 0x09;
    transport.replies.push_back(bad);
    EXPECT_FALSE(iface.readIdentification());
    EXPECT_EQ(std::string(iface.info().productCode, 5), "VTX20");
}

TEST_F(WinUsbDeviceTest, TransferArgumentChecks) {
    initDevice();
    uint8_t payload[32] = {};
    uint8_t reply[16];
    EXPECT_EQ(iface.commandTransfer(payload, 20, reply, 16, 0), 0);
    EXPECT_EQ(iface.commandTransfer(nullptr, 16, reply, 16, 0), 0);
    std::vector<uint8_t> big(131088);
    EXPECT_EQ(iface.writeBuffer(big.data(), static_cast<int>(big.size())), 0);
    EXPECT_EQ(iface.writeBuffer(big.data(), 17), 0);
    EXPECT_TRUE(transport.writes.empty());
}

TEST_F(WinUsbDeviceTest, SetReplyTimeoutKeepsSixteenBits) {
    EXPECT_EQ(iface.setReplyTimeout(40), 0);
    EXPECT_EQ(iface.replyTimeout(), 40);
    EXPECT_EQ(iface.setReplyTimeout(0), 40);
    EXPECT_EQ(iface.setReplyTimeout(0x12345), 0);
    EXPECT_EQ(iface.replyTimeout(), 0x2345);
}

TEST_F(WinUsbDeviceTest, SetCommParametersMergeRules) {
    initDevice();
    // Nothing asked for: true, nothing sent.
    EXPECT_TRUE(iface.configure({}));
    EXPECT_TRUE(transport.writes.empty());
    // CAN FD and unknown bit rates are refused.
    EXPECT_FALSE(iface.configure({.acceptanceId = kOpenFilter,
                                  .acceptanceMask = kOpenFilter,
                                  .bitRateKbps = 500,
                                  .outputBus = 0,
                                  .canFd = true}));
    EXPECT_FALSE(iface.configure({.acceptanceId = kOpenFilter,
                                  .acceptanceMask = kOpenFilter,
                                  .bitRateKbps = 300,
                                  .outputBus = 0}));
    EXPECT_TRUE(transport.writes.empty());

    // Start at 500 kbit/s: disable, enable.
    ASSERT_TRUE(iface.configure({.acceptanceId = kOpenFilter,
                                 .acceptanceMask = kOpenFilter,
                                 .bitRateKbps = 500,
                                 .outputBus = 0}));
    EXPECT_TRUE(iface.controllerRunning());
    EXPECT_EQ(iface.info().baudrate, 500u);
    transport.writes.clear();

    // A running controller changes its bit rate only with force.
    EXPECT_FALSE(iface.configure({.bitRateKbps = 250, .outputBus = 0}));
    EXPECT_TRUE(transport.writes.empty());
    EXPECT_TRUE(iface.configure(
        {.bitRateKbps = 250, .outputBus = 0, .reprogramming = Reprogramming::Always}));
    EXPECT_EQ(iface.info().baudrate, 250u);
    EXPECT_FALSE(transport.writes.empty());

    // Off: the programmed bit rate goes to 0.
    EXPECT_TRUE(iface.configure({.bitRateKbps = kControllerOff, .outputBus = 0}));
    EXPECT_FALSE(iface.controllerRunning());
    EXPECT_EQ(iface.info().baudrate, 0u);
}

TEST_F(WinUsbDeviceTest, BusChangeRefusedWithoutAChoiceOfBuses) {
    initSingleBusDevice();
    ASSERT_EQ(iface.info().outBusSupported, 1);
    EXPECT_FALSE(iface.configure({.bitRateKbps = 500, .outputBus = 1}));
    EXPECT_TRUE(transport.writes.empty());
}

TEST_F(WinUsbDeviceTest, BusChangeOnATwoBusDevice) {
    initDevice();
    ASSERT_EQ(iface.info().outBusSupported, 2);
    EXPECT_TRUE(iface.configure({.bitRateKbps = 500, .outputBus = 1}));
    // The second bus uses the fixed table: BTR1 0x14, bus byte 1. The controller was off, so
    // no disable packet comes first.
    const auto packets = transport.packets();
    ASSERT_GE(packets.size(), 2u);
    EXPECT_EQ(packets[0][0], 0x04);
    EXPECT_EQ(packets[0][1], 0x01);
    EXPECT_EQ(packets[0][4], 0x03);
    EXPECT_EQ(packets[0][5], 0x14);
    EXPECT_EQ(packets[0][15], 0x01);
}

TEST_F(WinUsbDeviceTest, EnableCommandOfTheFirstFirmwareGeneration) {
    initDevice("VTX20", {1, 0, 0, 0});
    ASSERT_TRUE(iface.configure(
        {.acceptanceId = 0x123, .acceptanceMask = 0x7FF, .bitRateKbps = 500, .outputBus = 0}));
    const auto packets = transport.packets();
    // enable (two packets), clear; no disable while the controller is off
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0], (Bytes{0x04, 0x01, 0x00, 0x01, 0x03, 0x14, 0x00, 0x24, 0x60, 0x00, 0x00,
                                 0xFF, 0xF7, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(packets[1], packetOf({0x06}));
    EXPECT_EQ(packets[2], packetOf({0x06}));
    EXPECT_EQ(iface.settings().SamplePoint, 75u);
    EXPECT_EQ(iface.info().Id, 0x123u);
    EXPECT_EQ(iface.info().Mk, 0x7FFu);

    // Sample point 62 with a wanted SJW of 4.
    CommParameters wanted = iface.settings();
    wanted.SamplePoint = 62;
    wanted.Sjw = 4;
    transport.writes.clear();
    ASSERT_TRUE(iface.configure(ControllerRequest::replacing(wanted)));
    // Now running: disable first, then the new enable command.
    const auto again = transport.packets();
    ASSERT_GE(again.size(), 2u);
    EXPECT_EQ(again[0], packetOf({0x04, 0x05}));
    EXPECT_EQ(again[1][4], 0x43);
    EXPECT_EQ(again[1][5], 0x23);
    EXPECT_EQ(iface.settings().Sjw, 2u);
    EXPECT_EQ(iface.settings().SamplePoint, 62u);
}

TEST_F(WinUsbDeviceTest, EnableCommandCalculatedAtTheNewFirmwaresClock) {
    initDevice("VTX20", {2, 1, 10, 15});
    ASSERT_TRUE(iface.configure({.acceptanceId = kOpenFilter,
                                 .acceptanceMask = kOpenFilter,
                                 .bitRateKbps = 500,
                                 .outputBus = 0}));
    const auto packets = transport.packets();
    ASSERT_GE(packets.size(), 1u);
    // 24 MHz, 500 kbit/s, 80 %: prescaler 3, 12 + 3 segments.
    EXPECT_EQ(packets[0][4], 0x02);
    EXPECT_EQ(packets[0][5], 0x2B);
    EXPECT_EQ(packets[0][6], 0x30);
    EXPECT_EQ(iface.settings().SamplePoint, 81u);
    EXPECT_EQ(iface.info().tseg1, 12u);
    EXPECT_EQ(iface.info().tseg2, 3u);
}

TEST_F(WinUsbDeviceTest, AuxValueSentOnlyWhenItChanges) {
    initDevice();
    EXPECT_EQ(iface.setAuxValue(0), 0);
    EXPECT_TRUE(transport.writes.empty());
    EXPECT_EQ(iface.setAuxValue(70000), 65535);
    ASSERT_EQ(transport.writes.size(), 1u);
    EXPECT_EQ(transport.writes[0], packetOf({0x04, 0x04, 0xFF, 0xFF}));
    EXPECT_EQ(iface.setAuxValue(65535), 65535);
    EXPECT_EQ(transport.writes.size(), 1u);
    transport.writeLimit = 8;
    EXPECT_EQ(iface.setAuxValue(3), 8);
}

TEST_F(WinUsbDeviceTest, OutputBusQueryChecksTheSequenceByte) {
    initDevice();
    struct Case {
        const char* what;
        bool queryAnswered;
        int sequenceOffset;  // byte 15 of the answer against the request's sequence number
        Bytes probeReply;
        int expected;
    };
    const Case cases[] = {
        {"two buses", true, 0, {}, 2},
        {"wrong sequence byte, probe answers zeros", true, 1, Bytes(16, 0), 1},
        {"no answer, probe answers zeros", false, 0, Bytes(16, 0), 1},
        {"wrong sequence byte, probe answers something else", true, -1, packetOf({0x01}), 0},
    };
    for (const Case& c : cases) {
        transport.replies.clear();
        transport.writes.clear();
        Bytes query;
        if (c.queryAnswered) {
            query = packetOf({0x14, 0x0B});
            query[15] = static_cast<uint8_t>(iface.sequenceNumber() + c.sequenceOffset);
        }
        transport.replies.push_back(query);
        transport.replies.push_back(c.probeReply);
        EXPECT_EQ(iface.readOutputBusSupport(), c.expected) << c.what;
        const auto packets = transport.packets();
        const bool probeAsked = c.expected != 2;
        ASSERT_EQ(packets.size(), probeAsked ? 4u : 2u) << c.what;
        if (probeAsked) {
            EXPECT_EQ(packets[3], packetOf({0x04, 0x06, 0x01})) << c.what;
            EXPECT_EQ(packets[2][2], 40) << c.what;  // the probe's own timeout
        }
    }
}

TEST_F(WinUsbDeviceTest, TermResistorQueryWaitsASecond) {
    initDevice();
    iface.setReplyTimeout(40);
    transport.replies.push_back(packetOf({0x0A, 0x01}));
    uint32_t state = 0;
    EXPECT_TRUE(iface.readTermResistor(state));
    EXPECT_EQ(state, 1u);
    ASSERT_EQ(transport.writes.size(), 1u);
    EXPECT_EQ(transport.writes[0][2], 0xE8);
    EXPECT_EQ(transport.writes[0][3], 0x03);
    transport.replies.push_back(packetOf({0x0B, 0x01}));
    EXPECT_TRUE(iface.readTermResistor(state));
    EXPECT_EQ(state, 0u);
    EXPECT_FALSE(iface.readTermResistor(state));  // no reply at all
}

TEST_F(WinUsbDeviceTest, FrameReadAsksWithTheHeaderAndZeroFills) {
    CanFrame frames[128];
    std::memset(frames, 0xAB, sizeof frames);
    EXPECT_EQ(iface.readFrames(std::span(frames, 128)), 0);  // closed: zero-filled
    for (const auto& f : frames) {
        EXPECT_EQ(uint32_t{f.idCan}, 0u);
    }
    initDevice();
    Bytes reply;
    for (uint32_t i = 0; i < 5; ++i) {
        CanFrame f{};
        f.idCan = 0x100 + i;
        f.lenDataCan = 1;
        f.dataCan[0] = static_cast<uint8_t>(i);
        uint8_t p[16];
        packet::packFrame(f, p);
        reply.insert(reply.end(), p, p + 16);
    }
    reply.insert(reply.end(), 7, 0x01);  // a partial packet is dropped
    transport.replies.push_back(reply);
    std::memset(frames, 0xAB, sizeof frames);
    EXPECT_EQ(iface.readFrames(std::span(frames, 128)), 5);
    ASSERT_EQ(transport.writes.size(), 1u);
    EXPECT_EQ(transport.writes[0][0], 0x0B);
    EXPECT_EQ(transport.writes[0][4], 128);
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(uint32_t{frames[i].idCan}, 0x100 + i);
        EXPECT_EQ(frames[i].dataCan[0], i);
    }
    for (int i = 5; i < 128; ++i) {
        EXPECT_EQ(uint32_t{frames[i].idCan}, 0u);
        EXPECT_EQ(frames[i].lenDataCan, 0);
    }
}

// A frame wait ends Frame when a frame packet comes. Without one it ends Quiet when it may have
// run to its timeout, Refused when it ended well before it: the scripted device answers at once,
// so against a long timeout it did not wait.
TEST_F(WinUsbDeviceTest, FrameWaitOutcomes) {
    CanFrame none;
    EXPECT_EQ(iface.awaitFrame(none, 60000), FrameWaitOutcome::Refused);  // closed
    initDevice();
    CanFrame sent{};
    sent.idCan = 0x123;
    sent.lenDataCan = 1;
    Bytes framePacket(16);
    packet::packFrame(sent, framePacket.data());
    constexpr int kWholeWrites = 1 << 30;
    struct Case {
        const char* what;
        int writeLimit;
        Bytes reply;
        int timeoutMs;
        FrameWaitOutcome expected;
    };
    const Case cases[] = {
        {"a frame", kWholeWrites, framePacket, 60000, FrameWaitOutcome::Frame},
        {"no packet", kWholeWrites, {}, 60000, FrameWaitOutcome::Refused},
        {"a packet that is not a frame", kWholeWrites, packetOf({0x08}), 60000,
         FrameWaitOutcome::Refused},
        {"the header refused", 0, framePacket, 60000, FrameWaitOutcome::Refused},
        {"no packet, and no time to wait", kWholeWrites, {}, 0, FrameWaitOutcome::Quiet},
    };
    for (const Case& c : cases) {
        transport.writeLimit = c.writeLimit;
        transport.replies.assign(1, c.reply);
        CanFrame frame;
        EXPECT_EQ(iface.awaitFrame(frame, c.timeoutMs), c.expected) << c.what;
        EXPECT_EQ(uint32_t{frame.idCan}, c.expected == FrameWaitOutcome::Frame ? 0x123u : 0u)
            << c.what;
    }
}

TEST_F(WinUsbDeviceTest, CloseSequenceInOrder) {
    initDevice();
    iface.setAuxValue(7);
    ASSERT_TRUE(iface.configure({.acceptanceId = kOpenFilter,
                                 .acceptanceMask = kOpenFilter,
                                 .bitRateKbps = 500,
                                 .outputBus = 0}));
    transport.writes.clear();
    iface.closeDevice();
    EXPECT_FALSE(iface.isOpen());
    const std::vector<Bytes> expected = {
        packetOf({0x04, 0x09, 0x00}),       packetOf({0x04, 0x03}), packetOf({0x04, 0x05}),
        packetOf({0x04, 0x04, 0x00, 0x00}), packetOf({0x06, 0x02}), packetOf({0x06})};
    EXPECT_EQ(transport.packets(), expected);
    EXPECT_EQ(iface.info().outBus, 0xFF);
    EXPECT_EQ(iface.info().baudrate, 0u);
}

TEST_F(WinUsbDeviceTest, RefusedPipePolicyLeavesTheDeviceClosed) {
    transport.pipePolicyAccepted = false;
    EXPECT_FALSE(iface.init());
    EXPECT_FALSE(iface.isOpen());
    EXPECT_FALSE(iface.checkConnection());
    EXPECT_FALSE(iface.isOpen());
}

}  // namespace
}  // namespace vtx
