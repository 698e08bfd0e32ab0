// The frame waiter end to end, seen in the packets the simulated device takes: what the loop
// asks of the device after a wait ended.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "comm/CommunicationThread.h"
#include "comm/FrameWaiter.h"
#include "sim/SimPacket.h"
#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

bool isClass(const sim::Packet& packet, sim::PacketClass cls) {
    return packet[0] == static_cast<uint8_t>(cls);
}

// A frame wait's header carries the waiter's own reply timeout and asks for one packet.
bool isFrameWaitHeader(const sim::Packet& packet) {
    return isClass(packet, sim::PacketClass::TransferHeader) &&
           sim::readLe16(&packet[2]) == FrameWaiter::kWaitMs && sim::readLe16(&packet[4]) == 1;
}

bool isTermResistorQuery(const sim::Packet& packet) {
    return isClass(packet, sim::PacketClass::Config) &&
           packet[1] == static_cast<uint8_t>(sim::ConfigCommand::TermResistorQuery);
}

// The first transfer header after position from; none when there is none yet.
std::optional<std::size_t> headerAfter(const std::vector<sim::Packet>& packets, std::size_t from) {
    for (std::size_t i = from + 1; i < packets.size(); ++i) {
        if (isClass(packets[i], sim::PacketClass::TransferHeader)) {
            return i;
        }
    }
    return std::nullopt;
}

class FrameWait : public EngineFixture {
  protected:
    std::vector<sim::Packet> packets() { return world().control().receivedPackets(); }

    // The last transfer header the device took is a frame wait's: one is under way, or just
    // ended.
    bool frameWaitHeaderLast() {
        const std::vector<sim::Packet> taken = packets();
        for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
            if (isClass(*it, sim::PacketClass::TransferHeader)) {
                return isFrameWaitHeader(*it);
            }
        }
        return false;
    }
};

// An exchange that needs the device's reply makes the wait under way give way (the device is
// sent a firmware request beside it). Frames may have arrived meanwhile, so the loop reads the
// device before it waits again; a loop that took the give-way for a quiet wait would go straight
// back to waiting. A query that meets no wait under way proves nothing, and is asked again.
TEST_F(FrameWait, ReadFollowsAWaitThatGaveWay) {
    openAndConnect();
    passFilter(0, 0);
    constexpr int kAttempts = 100;
    int gaveWay = 0;
    for (int attempt = 0; attempt < kAttempts && gaveWay == 0; ++attempt) {
        ASSERT_TRUE(eventually([&] { return frameWaitHeaderLast(); }));
        world().control().clearReceivedPackets();
        uint32_t state = 0;
        ASSERT_EQ(PassThruIoctl(channelId, GET_TERM_RESISTOR, nullptr, &state), STATUS_NOERROR)
            << lastError();
        std::vector<sim::Packet> taken;
        std::size_t query = 0;
        std::optional<std::size_t> next;
        ASSERT_TRUE(eventually([&] {
            taken = packets();
            query = static_cast<std::size_t>(
                std::find_if(taken.begin(), taken.end(), isTermResistorQuery) - taken.begin());
            next = query < taken.size() ? headerAfter(taken, query) : std::nullopt;
            return next.has_value();
        }));
        // The query's header, and before it the firmware request that ended the wait.
        if (query < 2 || !isClass(taken[query - 2], sim::PacketClass::FirmwareRequest)) {
            continue;
        }
        ++gaveWay;
        EXPECT_FALSE(isFrameWaitHeader(taken[*next])) << "a wait instead of a read";
        EXPECT_EQ(sim::readLe16(&taken[*next][4]), CommunicationThread::kReceiveBufferFrames)
            << "the loop's read asks for as many frames as it holds";
    }
    EXPECT_EQ(gaveWay, 1) << "no query met a frame wait under way";
}

}  // namespace
}  // namespace vtx::e2e
