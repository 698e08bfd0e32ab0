#include "sim/SimDevice.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace vtx::sim {

namespace {
constexpr uint8_t kOpenFilterFlag = 0x30;
constexpr uint8_t kCloseForm = 0x02;
constexpr uint8_t kProbeArgument = 0x01;
constexpr uint8_t kHardwareRevision[2] = {0x01, 0x00};
constexpr std::array<char, 16> kDeviceName{'V', 'T', 'X', '2', '0', ' ', 'S', 'I',
                                           'M', ' ', 'D', 'E', 'V', 'I', 'C', 'E'};

PacketClass classOf(const Packet& packet) {
    return static_cast<PacketClass>(packet[0]);
}

Packet packetWith(PacketClass cls, uint8_t second = 0) {
    Packet packet{};
    packet[0] = static_cast<uint8_t>(cls);
    packet[1] = second;
    return packet;
}

std::vector<Packet> splitPackets(const uint8_t* bytes, std::size_t count) {
    std::vector<Packet> packets(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(packets[i].data(), bytes + i * kPacketSize, kPacketSize);
    }
    return packets;
}

bool carriesFrame(const uint8_t* bytes, int length) {
    for (int offset = 0; offset + kPacketSize <= length; offset += kPacketSize) {
        if (bytes[offset] == static_cast<uint8_t>(PacketClass::Frame)) {
            return true;
        }
    }
    return false;
}

void writeBe(uint8_t* bytes, uint32_t value, int size) {
    for (int i = size - 1; i >= 0; --i, value >>= 8) {
        bytes[i] = static_cast<uint8_t>(value);
    }
}
}  // namespace

SimDevice::SimDevice(VirtualCanBus& bus) : SimDevice(bus, SimDeviceOptions{}) {}

SimDevice::SimDevice(VirtualCanBus& bus, const SimDeviceOptions& options)
    : options_(options), controller_(bus, options.receiveCapacity, options.transmitCapacity) {}

SimDevice::~SimDevice() = default;

bool SimDevice::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

uint64_t SimDevice::powerCycle() const {
    std::lock_guard lock(mutex_);
    return powerCycle_;
}

bool SimDevice::poweredSince(uint64_t cycle) const {
    std::lock_guard lock(mutex_);
    return plugged_ && powerCycle_ == cycle;
}

void SimDevice::unplug() {
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) {
            return;
        }
        plugged_ = false;
        ++powerCycle_;
        powerDown();
    }
    powerChanged_.notify_all();
    controller_.reset();
}

void SimDevice::plug() {
    std::lock_guard lock(mutex_);
    plugged_ = true;
}

void SimDevice::powerDown() {
    pendingHeader_.reset();
    replies_.clear();
    outputBus_ = 0;
    termResistor_ = false;
    pin15_ = Pin15State::VoltageOff;
    auxValue_ = 0;
}

void SimDevice::setSingleOutputBus(bool single) {
    std::lock_guard lock(mutex_);
    singleOutputBus_ = single;
}

// ---- OUT pipe ----

int SimDevice::write(const uint8_t* bytes, int length) {
    if (bytes == nullptr || length <= 0 || !plugged()) {
        return 0;
    }
    if (carriesFrame(bytes, length)) {
        waitWhileFrameWritesHeld();
    }
    std::lock_guard pipe(outPipe_);
    if (faults_.takeWriteFailure()) {
        return 0;
    }
    const int taken = faults_.takeShortWrite(length).value_or(length);
    const std::vector<Packet> packets =
        splitPackets(bytes, static_cast<std::size_t>(taken / kPacketSize));
    const auto deadline = SimClock::now() + options_.transmitWait;
    const std::optional<uint16_t> sequence = beginTransfer(packets);
    if (!sequence) {
        return 0;  // unplugged meanwhile
    }
    std::size_t index = 0;
    while (index < packets.size()) {
        if (classOf(packets[index]) != PacketClass::Frame) {
            if (!handlePacket(packets[index], *sequence)) {
                return static_cast<int>(index) * kPacketSize;  // the power went
            }
            if (const auto done = unplugIfTriggered(packets, index, index + 1)) {
                return static_cast<int>(*done) * kPacketSize;
            }
            ++index;
            continue;
        }
        const std::size_t sent = sendFrames(packets, index, deadline);
        if (const auto done = unplugIfTriggered(packets, index, index + sent)) {
            return static_cast<int>(*done) * kPacketSize;
        }
        index += sent;
        if (index < packets.size() && classOf(packets[index]) == PacketClass::Frame) {
            return static_cast<int>(index) * kPacketSize;  // short: no room for this frame
        }
    }
    return taken;
}

SimDevice::TransferHeader SimDevice::parseHeader(const Packet& packet) {
    TransferHeader header;
    header.timeoutMs = readLe16(&packet[2]);
    header.replyPackets = readLe16(&packet[4]);
    header.sequence = static_cast<uint16_t>((packet[6] << 8) | packet[7]);
    return header;
}

// A write that carries a transfer header starts a new exchange: replies that no read
// collected belong to an earlier one. Returns the sequence number replies of this write echo;
// nullopt when the device has no power.
std::optional<uint16_t> SimDevice::beginTransfer(const std::vector<Packet>& packets) {
    std::lock_guard lock(mutex_);
    if (!plugged_) {
        return std::nullopt;
    }
    writeCycle_ = powerCycle_;
    const auto header = std::find_if(packets.begin(), packets.end(), [](const Packet& packet) {
        return classOf(packet) == PacketClass::TransferHeader;
    });
    writeCarriesHeader_ = header != packets.end();
    if (writeCarriesHeader_) {
        replies_.clear();
        return parseHeader(*header).sequence;
    }
    return pendingHeader_ ? pendingHeader_->sequence : 0;
}

// Hands the run of frame packets starting at first to the controller; returns how many it took.
std::size_t SimDevice::sendFrames(const std::vector<Packet>& packets, std::size_t first,
                                  SimClock::time_point deadline) {
    std::size_t end = first;
    std::vector<CanFrame> frames;
    while (end < packets.size() && classOf(packets[end]) == PacketClass::Frame) {
        frames.push_back(unpackFrame(packets[end]));
        ++end;
    }
    const std::size_t taken = controller_.transmit(frames, deadline);
    std::lock_guard lock(mutex_);
    for (std::size_t i = first; i < first + taken; ++i) {
        logPacket(packets[i]);
    }
    return taken;
}

// Pulls the plug when a test's power trigger fires on one of the packets [first, end), which the
// device has carried out; returns how many packets of the write were taken up to the one that
// fired. Frames after it that the controller already holds go with the power.
std::optional<std::size_t> SimDevice::unplugIfTriggered(const std::vector<Packet>& packets,
                                                        std::size_t first, std::size_t end) {
    for (std::size_t i = first; i < end; ++i) {
        if (faults_.takeUnplugTrigger(packets[i])) {
            unplug();
            return i + 1;
        }
    }
    return std::nullopt;
}

void SimDevice::logPacket(const Packet& packet) {
    ++packetsReceived_;
    if (options_.packetLogCapacity == 0) {
        return;
    }
    if (packetLog_.size() >= options_.packetLogCapacity) {
        packetLog_.pop_front();
    }
    packetLog_.push_back(packet);
}

// Carries out one packet other than a frame; false, and nothing done, once the device has lost
// power since the write began.
bool SimDevice::handlePacket(const Packet& packet, uint16_t sequence) {
    std::lock_guard lock(mutex_);
    if (!plugged_ || powerCycle_ != writeCycle_) {
        return false;
    }
    logPacket(packet);
    switch (classOf(packet)) {
        case PacketClass::Filler:
            break;
        case PacketClass::TransferHeader:
            pendingHeader_ = parseHeader(packet);
            break;
        case PacketClass::Config:
            handleConfig(packet, sequence);
            break;
        case PacketClass::Clear:
            handleClear(packet);
            break;
        case PacketClass::FirmwareRequest:
            queueFirmwareVersion();
            break;
        case PacketClass::IdentRequest:
            queueIdentification();
            break;
        default:
            ++unknownPackets_;
            break;
    }
    return true;
}

void SimDevice::handleConfig(const Packet& packet, uint16_t sequence) {
    switch (static_cast<ConfigCommand>(packet[1])) {
        case ConfigCommand::Enable:
            enableController(packet);
            break;
        case ConfigCommand::Pin15ShortToGround:
            pin15_ = Pin15State::ShortToGround;
            break;
        case ConfigCommand::Pin15VoltageOff:
            pin15_ = Pin15State::VoltageOff;
            break;
        case ConfigCommand::AuxValue:
            auxValue_ = readLe16(&packet[2]);
            break;
        case ConfigCommand::Disable:
            controller_.disable();
            break;
        case ConfigCommand::OutputBusProbe:
            if (packet[2] != kProbeArgument) {
                ++unknownPackets_;
                break;
            }
            queueReply(Packet{});
            break;
        case ConfigCommand::TermResistorSet:
            termResistor_ = (packet[2] & 1) != 0;
            break;
        case ConfigCommand::TermResistorQuery: {
            Packet reply = packetWith(PacketClass::IdentReply, termResistor_ ? 1 : 0);
            queueReply(reply);
            break;
        }
        case ConfigCommand::OutputBusQuery: {
            if (singleOutputBus_) {
                break;  // a single-bus device does not know the query
            }
            Packet reply = packetWith(PacketClass::OutputBusReply,
                                      static_cast<uint8_t>(ConfigCommand::OutputBusQuery));
            reply[2] = 2;  // output buses
            reply[3] = outputBus_;
            reply[15] = static_cast<uint8_t>(sequence);
            queueReply(reply);
            break;
        }
        default:
            ++unknownPackets_;
            break;
    }
}

// Enable command, first packet: 0x04 0x01, bytes 2 and 3 (0x00 0x01) not examined, BTR0,
// BTR1, 0x30 for an open filter, acceptance code and mask big-endian, output bus. Its second
// packet is a clear, handled on its own.
void SimDevice::enableController(const Packet& packet) {
    const auto timing = SimCanController::Timing::decode(packet[4], packet[5]);
    SimCanController::Acceptance acceptance;
    acceptance.open = packet[6] == kOpenFilterFlag;
    acceptance.code = readBe32(&packet[7]);
    acceptance.mask = readBe32(&packet[11]);
    outputBus_ = packet[15];
    controller_.enable(timing, acceptance);
}

void SimDevice::handleClear(const Packet& packet) {
    if (packet[1] == 0) {
        ++clears_;
        controller_.clearReceived();
    } else if (packet[1] == kCloseForm) {
        ++closeForms_;
        controller_.clearReceived();
        pendingHeader_.reset();
        replies_.clear();
    } else {
        ++unknownPackets_;
    }
}

// A reply to a write without a header answers the read under way: it ends that read's wait.
void SimDevice::queueReply(const Packet& packet) {
    replies_.push_back(packet);
    if (!writeCarriesHeader_) {
        controller_.wakeReaders();
    }
}

void SimDevice::queueFirmwareVersion() {
    Packet reply = packetWith(PacketClass::FirmwareReply);
    // Least significant component first.
    std::reverse_copy(kFirmwareVersion.begin(), kFirmwareVersion.end(), reply.begin() + 1);
    queueReply(reply);
}

void SimDevice::queueIdentification() {
    auto block = identificationBlockLocked();
    if (faults_.takeIdentificationChecksumFault()) {
        ++block[kIdentificationSize - 1];
    }
    const bool wrongClass = faults_.takeIdentificationClassFault();
    for (int i = 0; i < 4; ++i) {
        Packet reply = packetWith(PacketClass::IdentReply);
        if (wrongClass && i == 2) {
            reply[0] = static_cast<uint8_t>(PacketClass::IdentRequest);
        }
        std::copy_n(block.begin() + 8 * i, 8, reply.begin() + 8);
        queueReply(reply);
    }
}

std::array<uint8_t, SimDevice::kIdentificationSize> SimDevice::identificationBlock() const {
    std::lock_guard lock(mutex_);
    return identificationBlockLocked();
}

std::array<uint8_t, SimDevice::kIdentificationSize> SimDevice::identificationBlockLocked() const {
    std::array<uint8_t, kIdentificationSize> block{};
    std::copy(kDeviceName.begin(), kDeviceName.end(), block.begin());
    block[16] = kHardwareRevision[0];
    block[17] = kHardwareRevision[1];
    block[18] = static_cast<uint8_t>(SimCanController::kClockHz / 1'000'000);
    block[19] = singleOutputBus_ ? 1 : 2;
    std::copy(kProductCode.begin(), kProductCode.end(), block.begin() + 20);
    writeBe(&block[25], kCustomerCode, 2);
    writeBe(&block[27], kSerialNumber, 4);
    block[31] = static_cast<uint8_t>(std::accumulate(block.begin(), block.begin() + 31, 0u));
    return block;
}

// ---- IN pipe ----

int SimDevice::read(uint8_t* bytes, int length, std::chrono::milliseconds timeout) {
    const std::size_t capacity =
        bytes != nullptr && length > 0 ? static_cast<std::size_t>(length / kPacketSize) : 0;
    if (capacity == 0 || !plugged()) {
        return 0;
    }
    const auto start = SimClock::now();
    const auto limit = start + timeout;
    if (faults_.takeReadStall(start)) {
        waitForPowerLoss(limit);
        return 0;
    }
    std::vector<Packet> packets;
    const ReadPlan plan = planRead(capacity, start, limit, packets);
    if (packets.size() < plan.packets && plan.framesAwaited > 0) {
        controller_.waitForFrames(plan.framesAwaited, plan.until, plan.readerWakes);
        if (controller_.readerWakes() != plan.readerWakes) {
            takeReplies(plan.packets - packets.size(), packets);
        }
    }
    appendFrames(plan.packets - packets.size(), packets);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        std::memcpy(bytes + i * kPacketSize, packets[i].data(), kPacketSize);
    }
    int delivered = static_cast<int>(packets.size()) * kPacketSize;
    if (delivered > 0 && faults_.takeReadTruncation()) {
        delivered -= kPacketSize / 2;
    }
    return delivered;
}

// Takes the pending header (if any) and the replies this read returns; says how many frames
// the read may wait for, and until when.
SimDevice::ReadPlan SimDevice::planRead(std::size_t capacity, SimClock::time_point start,
                                        SimClock::time_point limit, std::vector<Packet>& out) {
    std::lock_guard lock(mutex_);
    ReadPlan plan;
    plan.packets = capacity;
    plan.until = limit;
    const bool announced = pendingHeader_.has_value();
    if (announced) {
        plan.packets = std::min<std::size_t>(capacity, pendingHeader_->replyPackets);
        const auto replyTimeout = std::chrono::milliseconds(pendingHeader_->timeoutMs);
        plan.until = std::min(limit, start + replyTimeout);
        pendingHeader_.reset();
    }
    plan.readerWakes = controller_.readerWakes();
    out.clear();
    takeRepliesLocked(plan.packets, out);
    const std::size_t replies = out.size();
    if (plan.until > start && plan.packets > replies) {
        // After a header: until every packet asked for is there. Without: until there is one.
        if (announced) {
            plan.framesAwaited = plan.packets - replies;
        } else if (replies == 0) {
            plan.framesAwaited = 1;
        }
    }
    return plan;
}

void SimDevice::takeReplies(std::size_t max, std::vector<Packet>& out) {
    std::lock_guard lock(mutex_);
    takeRepliesLocked(max, out);
}

void SimDevice::takeRepliesLocked(std::size_t max, std::vector<Packet>& out) {
    const std::size_t count = std::min(max, replies_.size());
    out.insert(out.end(), replies_.begin(), replies_.begin() + static_cast<std::ptrdiff_t>(count));
    replies_.erase(replies_.begin(), replies_.begin() + static_cast<std::ptrdiff_t>(count));
}

void SimDevice::appendFrames(std::size_t max, std::vector<Packet>& out) {
    for (const CanFrame& frame : controller_.takeFrames(max)) {
        out.push_back(packFrame(frame, faults_.takeOversizedDlc().value_or(frame.dlc)));
    }
}

void SimDevice::holdFrameWritesFor(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    frameWritesHeldUntil_ = SimClock::now() + duration;
    heldFrameWrites_ = 0;
}

void SimDevice::releaseFrameWrites() {
    {
        std::lock_guard lock(mutex_);
        frameWritesHeldUntil_ = {};
    }
    powerChanged_.notify_all();
}

uint64_t SimDevice::heldFrameWrites() const {
    std::lock_guard lock(mutex_);
    return heldFrameWrites_;
}

void SimDevice::waitWhileFrameWritesHeld() {
    std::unique_lock lock(mutex_);
    const auto until = frameWritesHeldUntil_;
    if (SimClock::now() >= until) {
        return;
    }
    ++heldFrameWrites_;
    const uint64_t cycle = powerCycle_;
    powerChanged_.wait_until(
        lock, until, [&] { return powerCycle_ != cycle || frameWritesHeldUntil_ != until; });
}

void SimDevice::waitForPowerLoss(SimClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const uint64_t cycle = powerCycle_;
    powerChanged_.wait_until(lock, deadline, [&] { return powerCycle_ != cycle; });
}

// ---- test view ----

SimDeviceState SimDevice::state() const {
    SimDeviceState state;
    state.controller = controller_.status();
    std::lock_guard lock(mutex_);
    state.plugged = plugged_;
    state.outputBus = outputBus_;
    state.singleOutputBus = singleOutputBus_;
    state.termResistor = termResistor_;
    state.pin15 = pin15_;
    state.auxValue = auxValue_;
    state.clears = clears_;
    state.closeForms = closeForms_;
    state.unknownPackets = unknownPackets_;
    state.packetsReceived = packetsReceived_;
    return state;
}

std::vector<Packet> SimDevice::receivedPackets() const {
    std::lock_guard lock(mutex_);
    return {packetLog_.begin(), packetLog_.end()};
}

void SimDevice::clearReceivedPackets() {
    std::lock_guard lock(mutex_);
    packetLog_.clear();
}

}  // namespace vtx::sim
