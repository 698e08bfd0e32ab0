#include "sim/SimControl.h"

namespace vtx::sim {

SimControl::SimControl(VirtualCanBus& bus, SimDevice& device, SimPipeTransport& transport,
                       SimEcu* ecu)
    : bus_(bus), device_(device), transport_(transport), ecu_(ecu) {
    observerId_ = bus_.addObserver(
        [this](const CanFrame& frame, SimClock::time_point end) { record(frame, end); });
}

SimControl::~SimControl() {
    bus_.removeObserver(observerId_);
}

uint64_t SimControl::ecuFlowControlViolations() const {
    return ecu_ != nullptr ? ecu_->flowControlViolations() : 0;
}

uint64_t SimControl::ecuReceptionTimeouts() const {
    return ecu_ != nullptr ? ecu_->receptionTimeouts() : 0;
}

bool SimControl::injectFrame(const CanFrame& frame) {
    return bus_.transmit(nullptr, frame);
}

void SimControl::record(const CanFrame& frame, SimClock::time_point endOfFrame) {
    {
        std::lock_guard lock(mutex_);
        if (records_.size() >= kBusRecordCapacity) {
            records_.pop_front();
        }
        records_.push_back(BusRecord{frame, endOfFrame});
    }
    recorded_.notify_all();
}

std::vector<SimControl::BusRecord> SimControl::busRecords() const {
    std::lock_guard lock(mutex_);
    return {records_.begin(), records_.end()};
}

void SimControl::clearBusRecords() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

bool SimControl::waitForBusRecords(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return recorded_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
}

int SimControl::addBusObserver(VirtualCanBus::Observer observer) {
    return bus_.addObserver(std::move(observer));
}

void SimControl::removeBusObserver(int id) {
    bus_.removeObserver(id);
}

void SimControl::unplug() {
    device_.unplug();
}

void SimControl::plug() {
    device_.plug();
}

void SimControl::unplugAfterPacket(PacketClass packetClass, int command, int skip) {
    device_.faults().unplugAfterPacket(static_cast<uint8_t>(packetClass), command, skip);
}

void SimControl::failNextWrites(int count) {
    device_.faults().failWrites(count);
}

void SimControl::shortenNextWrites(int count, int keepBytes) {
    device_.faults().shortenWrites(count, keepBytes);
}

void SimControl::failNextInPipeTimeoutSets(int count) {
    transport_.failInPipeTimeoutSets(count);
}

void SimControl::stallNextReads(int count) {
    device_.faults().stallReads(count);
}

void SimControl::stallReadsFor(std::chrono::milliseconds duration) {
    device_.faults().stallReadsFor(duration);
}

void SimControl::holdFrameWritesFor(std::chrono::milliseconds duration) {
    device_.holdFrameWritesFor(duration);
}

void SimControl::releaseFrameWrites() {
    device_.releaseFrameWrites();
}

uint64_t SimControl::heldFrameWrites() const {
    return device_.heldFrameWrites();
}

void SimControl::truncateNextRead() {
    device_.faults().truncateNextRead();
}

void SimControl::corruptNextIdentificationClass() {
    device_.faults().corruptNextIdentificationClass();
}

void SimControl::corruptNextIdentificationChecksum() {
    device_.faults().corruptNextIdentificationChecksum();
}

void SimControl::oversizeDlcOfNextFrames(int count, uint8_t dlc) {
    device_.faults().oversizeDlcOfNextFrames(count, dlc);
}

void SimControl::clearFaults() {
    device_.faults().clear();
    transport_.failInPipeTimeoutSets(0);
}

void SimControl::setSingleOutputBus(bool single) {
    device_.setSingleOutputBus(single);
}

SimDeviceState SimControl::deviceState() const {
    return device_.state();
}

std::vector<Packet> SimControl::receivedPackets() const {
    return device_.receivedPackets();
}

void SimControl::clearReceivedPackets() {
    device_.clearReceivedPackets();
}

}  // namespace vtx::sim
