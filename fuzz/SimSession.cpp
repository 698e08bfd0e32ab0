#include "fuzz/SimSession.h"

#include <chrono>
#include <vector>

#include "fuzz/FrameCodecChecks.h"
#include "fuzz/FuzzCheck.h"

namespace vtx::fuzz {

namespace {
using std::chrono::milliseconds;

constexpr uint32_t kTrafficRate = 2000;  // frames per second, when the input asks for traffic
constexpr milliseconds kTransmitWait{2};
constexpr int kMaxReadPackets = 64;
constexpr uint32_t kMaxReadTimeoutMs = 4;
constexpr int kMaxSteps = 512;
}  // namespace

SimSession::SimSession(FuzzInput& input) : input_(input) {
    world_ = std::make_unique<sim::SimWorld>(configFrom(input_.byte()));
    FUZZ_CHECK(world_->transport().open(sim::SimPipeTransport::kDevicePath));
}

SimSession::~SimSession() = default;

// Bit 0: no ECU; bit 1: traffic on the bus; bits 2-3: the bus rate.
sim::SimConfig SimSession::configFrom(uint8_t settings) {
    static constexpr uint32_t kBusRates[] = {500'000, 250'000, 1'000'000, 125'000};
    sim::SimConfig config;
    config.usbLatency = std::chrono::microseconds(0);
    config.ecu = (settings & 1) == 0;
    if ((settings & 2) != 0) {
        config.traffic = sim::TrafficGenerator::Rate{false, kTrafficRate};
    }
    config.busRate = kBusRates[(settings >> 2) & 3];
    config.device.transmitWait = kTransmitWait;
    return config;
}

void SimSession::run() {
    for (int i = 0; i < kMaxSteps && !input_.empty(); ++i) {
        step();
    }
}

void SimSession::step() {
    switch (input_.choice(8)) {
        case 0:
        case 1:
        case 2:
            write();
            break;
        case 3:
        case 4:
            read();
            break;
        case 5:
            armFault();
            break;
        case 6:
            replug();
            break;
        default:
            injectFrame();
            break;
    }
}

// Any number of bytes, not necessarily whole packets. Every whole packet also goes through the
// two frame codecs, as if it were a frame.
void SimSession::write() {
    const std::span<const uint8_t> bytes = input_.take(input_.byte());
    for (std::size_t i = 0; i + sim::kPacketSize <= bytes.size(); i += sim::kPacketSize) {
        checkDeviceHostAgreement(bytes.data() + i);
    }
    const int length = static_cast<int>(bytes.size());
    const int written = world_->transport().writePipe(bytes.data(), length);
    FUZZ_CHECK(written >= 0 && written <= length);
}

void SimSession::read() {
    const int packets = input_.byte() % (kMaxReadPackets + 1);
    const uint32_t timeoutMs = 1 + input_.byte() % kMaxReadTimeoutMs;
    world_->transport().setInPipeTimeout(timeoutMs);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(packets) * sim::kPacketSize);
    const int got = world_->transport().readPipe(bytes.data(), static_cast<int>(bytes.size()));
    FUZZ_CHECK(got >= 0 && got <= static_cast<int>(bytes.size()));
}

void SimSession::armFault() {
    sim::SimControl& control = world_->control();
    const uint8_t argument = input_.byte();
    switch (input_.choice(9)) {
        case 0:
            control.shortenNextWrites(1, argument);
            break;
        case 1:
            control.failNextWrites(1);
            break;
        case 2:
            control.truncateNextRead();
            break;
        case 3:
            control.oversizeDlcOfNextFrames(1 + argument % 4, static_cast<uint8_t>(argument >> 4));
            break;
        case 4:
            control.corruptNextIdentificationClass();
            break;
        case 5:
            control.corruptNextIdentificationChecksum();
            break;
        case 6:
            control.stallNextReads(1);
            break;
        case 7:
            control.setSingleOutputBus((argument & 1) != 0);
            break;
        default:
            control.clearFaults();
            break;
    }
}

// Unplugged and plugged again; the host's handle died with the power, so it opens a new one.
void SimSession::replug() {
    world_->control().unplug();
    world_->control().plug();
    world_->transport().close();
    FUZZ_CHECK(world_->transport().open(sim::SimPipeTransport::kDevicePath));
}

// A frame from another node, malformed ones included (the bus refuses those).
void SimSession::injectFrame() {
    sim::CanFrame frame;
    frame.id = input_.u32();
    frame.extended = (frame.id & 0x80000000u) != 0;
    frame.id &= 0x3FFFFFFF;
    frame.dlc = input_.byte() % 10;
    for (uint8_t& byte : frame.data) {
        byte = input_.byte();
    }
    const bool wellFormed = frame.dlc <= 8 && frame.id <= (frame.extended ? 0x1FFFFFFFu : 0x7FFu);
    FUZZ_CHECK(world_->control().injectFrame(frame) == wellFormed);
}

}  // namespace vtx::fuzz
