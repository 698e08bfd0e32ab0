// WinUsbDevice against the simulated device: the protocol of the library against the
// device's own implementation of the packet tables.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "device/winusb/WinUsbDevice.h"
#include "sim/SimWorld.h"

namespace vtx {
namespace {

sim::SimConfig quietBus() {
    sim::SimConfig config;
    config.ecu = false;
    return config;
}

class WinUsbDeviceSimTest : public ::testing::Test {
  protected:
    sim::SimWorld world{quietBus()};
    WinUsbDevice iface{world.transport()};

    // Opens and identifies the device, then starts its controller at 500 kbit/s taking every
    // frame.
    void connectWithOpenFilter() {
        iface.setReplyTimeout(40);
        ASSERT_TRUE(iface.checkConnection());
        ASSERT_TRUE(iface.configure({.acceptanceId = kOpenFilter,
                                     .acceptanceMask = kOpenFilter,
                                     .bitRateKbps = 500,
                                     .outputBus = 0}));
    }
};

TEST_F(WinUsbDeviceSimTest, CheckConnectionOpensAndIdentifies) {
    iface.setReplyTimeout(40);
    ASSERT_TRUE(iface.checkConnection());
    EXPECT_TRUE(iface.isOpen());
    const auto identity = iface.identify(IdentitySource::Recorded);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->firmwareWord, 0x02010A0Fu);
    EXPECT_EQ(identity->serialNumber, 1234u);
    EXPECT_EQ(identity->customerCode, 1u);
    EXPECT_EQ(std::string(identity->productCode.data(), 5), "VTX20");
    const OutputBusState output = iface.outputBus();
    EXPECT_EQ(output.busesOffered, 2);
    EXPECT_EQ(output.bus, 0);
    EXPECT_FALSE(world.control().deviceState().termResistor);
    // Re-reading asks the device again.
    const auto reread = iface.identify(IdentitySource::ReadFromDevice);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->serialNumber, 1234u);
}

TEST_F(WinUsbDeviceSimTest, SingleBusDeviceFallsToTheProbe) {
    world.control().setSingleOutputBus(true);
    iface.setReplyTimeout(40);
    ASSERT_TRUE(iface.checkConnection());
    const OutputBusState output = iface.outputBus();
    EXPECT_EQ(output.busesOffered, 1);
    EXPECT_EQ(output.bus, 1);
}

TEST_F(WinUsbDeviceSimTest, UnplugClosesRePlugReopensFresh) {
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
    const CommParameters& params = iface.settings();
    EXPECT_EQ(params.baudrate, 0u);
    EXPECT_EQ(params.SamplePoint, 80u);
    EXPECT_EQ(params.Sjw, 1u);
    EXPECT_FALSE(iface.controllerRunning());
    EXPECT_FALSE(world.control().deviceState().controller.enabled);
}

TEST_F(WinUsbDeviceSimTest, TenThousandFramesCrossTheBusInOrder) {
    ASSERT_NO_FATAL_FAILURE(connectWithOpenFilter());
    world.control().clearBusRecords();
    world.control().clearReceivedPackets();
    constexpr int kFrames = 10000;
    std::vector<CanFrame> frames(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        frames[i].idCan = 0x200 + (i % 0x100);
        frames[i].lenDataCan = 2;
        frames[i].dataCan[0] = static_cast<uint8_t>(i >> 8);
        frames[i].dataCan[1] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(iface.writeFrames(std::span(frames.data(), kFrames)), kFrames);
    ASSERT_TRUE(world.control().waitForBusRecords(kFrames, std::chrono::seconds(30)));
    const auto records = world.control().busRecords();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(records[i].frame.id, uint32_t{frames[i].idCan}) << i;
        ASSERT_EQ((records[i].frame.data[0] << 8) | records[i].frame.data[1], i) << i;
    }
}

TEST_F(WinUsbDeviceSimTest, ReadAsksWithTheHeaderAndReturnsWhatTheDeviceHolds) {
    ASSERT_NO_FATAL_FAILURE(connectWithOpenFilter());
    for (uint32_t i = 0; i < 5; ++i) {
        sim::CanFrame frame;
        frame.id = i % 2 == 0 ? 0x100 + i : 0x18DAF110 + i;
        frame.extended = i % 2 == 1;
        frame.dlc = 1;
        frame.data[0] = static_cast<uint8_t>(i);
        ASSERT_TRUE(world.control().injectFrame(frame));
    }
    ASSERT_TRUE(world.control().waitForBusRecords(5, std::chrono::seconds(5)));
    iface.setReplyTimeout(0);
    world.control().clearReceivedPackets();
    CanFrame in[128];
    const int got = iface.readFrames(std::span(in, 128));
    ASSERT_EQ(got, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(in[i].idExt, i % 2 == 1 ? 1 : 0);
        EXPECT_EQ(uint32_t{in[i].idCan}, i % 2 == 0 ? 0x100u + i : 0x18DAF110u + i);
        EXPECT_EQ(in[i].dataCan[0], i);
    }
    const auto packets = world.control().receivedPackets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0][0], 0x0B);
    EXPECT_EQ(packets[0][4], 128);
    // Nothing more held: an empty answer at once.
    EXPECT_EQ(iface.readFrames(std::span(in, 128)), 0);
}

// A frame wait leaves the OUT pipe free: a frame written meanwhile goes out at once, and the
// wait ends with the first frame that arrives. Were the write held behind the wait, the wait
// would end empty at its timeout first.
TEST_F(WinUsbDeviceSimTest, FrameWaitLetsWritesPassAndEndsAtTheFirstFrame) {
    ASSERT_NO_FATAL_FAILURE(connectWithOpenFilter());
    CanFrame none;
    EXPECT_EQ(iface.awaitFrame(none, 20), FrameWaitOutcome::Quiet);

    world.control().clearBusRecords();
    CanFrame arrived;
    std::thread waiter(
        [&] { EXPECT_EQ(iface.awaitFrame(arrived, 10000), FrameWaitOutcome::Frame); });
    CanFrame out;
    out.idCan = 0x321;
    out.lenDataCan = 1;
    EXPECT_EQ(iface.writeFrames(std::span(&out, 1)), 1);
    ASSERT_TRUE(world.control().waitForBusRecords(1, std::chrono::seconds(5)));
    sim::CanFrame in;
    in.id = 0x7E8;
    in.dlc = 1;
    in.data[0] = 0x42;
    ASSERT_TRUE(world.control().injectFrame(in));
    waiter.join();
    EXPECT_EQ(uint32_t{arrived.idCan}, 0x7E8u);
    EXPECT_EQ(arrived.dataCan[0], 0x42);
}

// An exchange that needs the device's reply ends a frame wait under way instead of waiting it
// out: the wait gives way, and the reply is the exchange's, not the wait's.
TEST_F(WinUsbDeviceSimTest, ReplyExchangeEndsAFrameWaitUnderWay) {
    ASSERT_NO_FATAL_FAILURE(connectWithOpenFilter());
    ASSERT_TRUE(iface.setTermResistor(1));
    world.control().clearReceivedPackets();
    std::atomic<FrameWaitOutcome> end{FrameWaitOutcome::Frame};
    std::thread waiter([&] {
        CanFrame none;
        end = iface.awaitFrame(none, 60000);
    });
    // The wait's header has reached the device.
    while (world.control().receivedPackets().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    uint32_t state = 0;
    EXPECT_TRUE(iface.readTermResistor(state));
    EXPECT_EQ(state, 1u);
    waiter.join();
    EXPECT_EQ(end.load(), FrameWaitOutcome::GaveWay);
}

// The output-bus answer carries the low byte of its query's sequence number, and is matched
// against the query's own header. Frame waits keep asking beside the queries here, so that a
// wait's header often goes out between a query's reply and that match: matched against the
// last header sent, the answer would then be taken for none.
TEST_F(WinUsbDeviceSimTest, OutputBusAnswerMatchesItsOwnQueryBesideFrameWaits) {
    ASSERT_NO_FATAL_FAILURE(connectWithOpenFilter());
    std::atomic<bool> stop{false};
    std::thread waiter([&] {
        CanFrame none;
        while (!stop) {
            iface.awaitFrame(none, 0);
        }
    });
    constexpr int kQueries = 300;
    int choiceOfTwo = 0;
    for (int i = 0; i < kQueries; ++i) {
        choiceOfTwo += iface.readOutputBusSupport() == kOutputBusChoiceOfTwo ? 1 : 0;
    }
    stop = true;
    waiter.join();
    EXPECT_EQ(choiceOfTwo, kQueries);
}

// The frame waiter may begin a wait as the owner closes a lost device: the wait finds the
// handle closed, and reads it only under a lock the close holds. The waiter here has not
// synchronised with the close (it spins on a relaxed flag), no more than a waiter armed before
// the close has; the thread sanitizer sees a read of the handle outside those locks.
TEST_F(WinUsbDeviceSimTest, FrameWaitBegunAsTheDeviceClosesFindsItClosed) {
    ASSERT_NO_FATAL_FAILURE(connectWithOpenFilter());
    std::atomic<bool> closed{false};
    std::atomic<FrameWaitOutcome> end{FrameWaitOutcome::Frame};
    std::thread waiter([&] {
        while (!closed.load(std::memory_order_relaxed)) {
            std::this_thread::yield();
        }
        CanFrame none;
        end = iface.awaitFrame(none, 50);
    });
    world.control().unplug();
    EXPECT_FALSE(iface.checkConnection());
    closed.store(true, std::memory_order_relaxed);
    waiter.join();
    EXPECT_FALSE(iface.isOpen());
    EXPECT_EQ(end.load(), FrameWaitOutcome::Refused);
}

TEST_F(WinUsbDeviceSimTest, AcceptanceFilterReachesTheController) {
    iface.setReplyTimeout(40);
    ASSERT_TRUE(iface.checkConnection());
    // 11-bit 0x7E8 compared in full.
    ASSERT_TRUE(iface.configure(
        {.acceptanceId = 0x7E8, .acceptanceMask = 0, .bitRateKbps = 500, .outputBus = 0}));
    const auto status = world.control().deviceState().controller;
    EXPECT_TRUE(status.enabled);
    EXPECT_TRUE(status.onBus);
    EXPECT_FALSE(status.acceptance.open);
    sim::CanFrame match;
    match.id = 0x7E8;
    sim::CanFrame other;
    other.id = 0x7E9;
    EXPECT_TRUE(status.acceptance.admits(match));
    EXPECT_FALSE(status.acceptance.admits(other));
    // 250 kbit/s on the 500 kbit/s bus: the controller runs but is off the bus.
    ASSERT_TRUE(iface.configure(
        {.bitRateKbps = 250, .outputBus = 0, .reprogramming = Reprogramming::Always}));
    EXPECT_TRUE(world.control().deviceState().controller.enabled);
    EXPECT_FALSE(world.control().deviceState().controller.onBus);
}

TEST_F(WinUsbDeviceSimTest, CloseSequenceReachesTheDeviceInOrder) {
    iface.setReplyTimeout(40);
    ASSERT_TRUE(iface.checkConnection());
    ASSERT_TRUE(iface.setTermResistor(1));
    EXPECT_TRUE(world.control().deviceState().termResistor);
    iface.setPin15(Pin15State::ShortToGround);
    EXPECT_EQ(world.control().deviceState().pin15, sim::Pin15State::ShortToGround);
    ASSERT_TRUE(iface.configure({.acceptanceId = kOpenFilter,
                                 .acceptanceMask = kOpenFilter,
                                 .bitRateKbps = 500,
                                 .outputBus = 0}));
    world.control().clearReceivedPackets();
    iface.closeDevice();
    const auto packets = world.control().receivedPackets();
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(packets[0][0], 0x04);
    EXPECT_EQ(packets[0][1], 0x09);
    EXPECT_EQ(packets[1][1], 0x03);
    EXPECT_EQ(packets[2][1], 0x05);
    EXPECT_EQ(packets[3][0], 0x06);
    EXPECT_EQ(packets[3][1], 0x02);
    EXPECT_EQ(packets[4][0], 0x06);
    const auto state = world.control().deviceState();
    EXPECT_FALSE(state.termResistor);
    EXPECT_EQ(state.pin15, sim::Pin15State::VoltageOff);
    EXPECT_FALSE(state.controller.enabled);
    EXPECT_EQ(state.closeForms, 1u);
}

}  // namespace
}  // namespace vtx
