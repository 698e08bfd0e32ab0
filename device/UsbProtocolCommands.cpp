// UsbProtocolDevice: the small commands: termination resistor, output bus, pin 15, auxiliary
// value and buffer clearing.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>
#include <vector>

#include "device/DevicePackets.h"
#include "device/UsbProtocolDevice.h"

namespace vtx {

namespace {
constexpr int kTermResistorQueryTimeoutMs = 1000;
constexpr uint8_t kTermResistorReportedOn = 1;
constexpr int kOutputBusProbeTimeoutMs = 40;
constexpr uint8_t kOutputBusProbeArgument = 0x01;
constexpr std::size_t kSequenceByte = 15;  // of the output-bus answer: the request's, low byte
constexpr int kClearReadBackBytes = 1024;
constexpr auto kPin15Settle = std::chrono::milliseconds(30);
constexpr uint32_t kAuxValueMax = 65535;
constexpr std::size_t kAuxValueHighByte = 3;
}  // namespace

// Only the lowest bit of the state travels: 1 on, anything even off.
bool UsbProtocolDevice::setTermResistor(uint32_t state) {
    commParams_.termResistor = state;
    if (!isOpen()) {
        return false;
    }
    return sendCommand(packet::kClassConfig, packet::kCmdTermResistor,
                       static_cast<uint8_t>(state & 1));
}

// A reply of another class leaves the state 0: asked, but not told.
bool UsbProtocolDevice::readTermResistor(uint32_t& state) {
    state = 0;
    if (!isOpen()) {
        return false;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassConfig, packet::kCmdTermResistorQuery);
    uint8_t reply[packet::kSize] = {};
    if (!queryPacket(request, reply, kTermResistorQueryTimeoutMs)) {
        return false;
    }
    if (reply[0] == packet::kClassTermResistorReply) {
        state = reply[1] == kTermResistorReportedOn ? kTermResistorOn : kTermResistorOff;
    }
    return true;
}

// The query is answered by a device offering two buses, with the low byte of the sequence number
// of the query's own header; otherwise the fallback probe tells a device driving the second bus
// (it answers zeros) from one driving the first.
int UsbProtocolDevice::readOutputBusSupport() {
    if (!isOpen()) {
        return kOutputBusNoDevice;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassConfig, packet::kCmdOutputBusQuery);
    uint8_t reply[packet::kSize] = {};
    uint16_t sequence = 0;
    if (queryPacket(request, reply, replyTimeout_, &sequence) &&
        reply[0] == packet::kClassOutputBusReply && reply[1] == packet::kCmdOutputBusQuery &&
        reply[kSequenceByte] == static_cast<uint8_t>(sequence)) {
        return kOutputBusChoiceOfTwo;
    }
    packet::buildCommand(request, packet::kClassConfig, packet::kCmdOutputBusProbe,
                         kOutputBusProbeArgument);
    std::memset(reply, 0xFF, sizeof reply);
    if (queryPacket(request, reply, kOutputBusProbeTimeoutMs) &&
        std::all_of(std::begin(reply), std::end(reply), [](uint8_t b) { return b == 0; })) {
        return kOutputBusProbeAnswered;
    }
    return kOutputBusNoChoice;
}

void UsbProtocolDevice::storeOutputBusSupport(int support) {
    deviceInfo_.outBusSupported = static_cast<uint8_t>(support);
    deviceInfo_.outBus = support == kOutputBusProbeAnswered ? kSecondOutputBus : kFirstOutputBus;
}

OutputBusState UsbProtocolDevice::outputBus() {
    if (!isOpen()) {
        return {};
    }
    if (deviceInfo_.outBus == kNotYetRead || deviceInfo_.outBusSupported == kNotYetRead) {
        const int support = readOutputBusSupport();
        if (support != kOutputBusNoDevice) {
            storeOutputBusSupport(support);
        }
    }
    constexpr int kSingleBus = 1;
    constexpr int kTwoBuses = 2;
    return {deviceInfo_.outBusSupported == kOutputBusChoiceOfTwo ? kTwoBuses : kSingleBus,
            deviceInfo_.outBus};
}

std::chrono::milliseconds UsbProtocolDevice::setPin15(Pin15State state) {
    if (!isOpen()) {
        return std::chrono::milliseconds{0};
    }
    sendCommand(packet::kClassConfig, state == Pin15State::ShortToGround
                                          ? packet::kCmdPin15ShortToGround
                                          : packet::kCmdPin15VoltageOff);
    return kPin15Settle;
}

int UsbProtocolDevice::setAuxValue(int value) {
    if (!isOpen()) {
        return 0;
    }
    if (static_cast<uint32_t>(value) == auxValue_) {
        return value;
    }
    const uint32_t clamped = std::min(static_cast<uint32_t>(std::max(value, 0)), kAuxValueMax);
    uint8_t command[packet::kSize];
    packet::buildCommand(command, packet::kClassConfig, packet::kCmdAuxValue,
                         static_cast<uint8_t>(clamped));
    command[kAuxValueHighByte] = static_cast<uint8_t>(clamped >> 8);
    const int written = writeBuffer(command, packet::kSize);
    if (written != packet::kSize) {
        return written;
    }
    if (quirks_.auxValue == ProtocolQuirks::AuxValue::DeviceAndDriver) {
        transportAuxValue(clamped);
    }
    auxValue_ = clamped;
    return static_cast<int>(clamped);
}

bool UsbProtocolDevice::clearBuffers() {
    if (!isOpen()) {
        return false;
    }
    return sendCommand(packet::kClassClear);
}

bool UsbProtocolDevice::clearBuffersReadingReply() {
    if (!isOpen()) {
        return false;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassClear);
    std::vector<uint8_t> discard(kClearReadBackBytes);
    commandTransfer(request, packet::kSize, discard.data(), kClearReadBackBytes, replyTimeout_);
    return true;
}

}  // namespace vtx
