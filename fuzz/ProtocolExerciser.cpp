#include "fuzz/ProtocolExerciser.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "device/CommParameters.h"
#include "device/DevicePackets.h"
#include "fuzz/FuzzCheck.h"

namespace vtx::fuzz {

namespace {
constexpr std::size_t kOperations = 10;
// Enough rounds for every packet to be asked for, even by operations that read nothing.
constexpr std::size_t kRoundsPerPacket = 4;
constexpr uint32_t kBitRates[] = {125, 250, 500, 1000};
constexpr int kLongRead = 64;  // frames
}  // namespace

ProtocolExerciser::ProtocolExerciser(UsbProtocolDevice& device, ReplyFeed& feed,
                                     uint32_t unreadMarker, uint8_t maxLength)
    : device_(device), feed_(feed), unreadMarker_(unreadMarker), maxLength_(maxLength) {}

void ProtocolExerciser::run() {
    device_.init();
    const std::size_t rounds = kRoundsPerPacket * (feed_.packetsServed() + 8);
    for (std::size_t round = 0; !feed_.exhausted() && round < rounds; ++round) {
        // Where the feed stands picks the operation, so that the replies steer the order.
        runOperation((round + feed_.packetsServed()) % kOperations);
    }
}

void ProtocolExerciser::runOperation(std::size_t which) {
    uint32_t value = 0;
    switch (which) {
        case 0:
            readFrames(4);
            break;
        case 1:
            device_.readFirmwareVersion();
            break;
        case 2:
            writeThenReadFrames();
            break;
        case 3:
            device_.readTermResistor(value);
            FUZZ_CHECK(value <= 2);
            break;
        case 4:
            FUZZ_CHECK(device_.readOutputBusSupport() >= 0);
            device_.outputBus();
            break;
        case 5:
            readIdentification();
            break;
        case 6:
            programController();
            break;
        case 7:
            device_.clearBuffersReadingReply();
            break;
        case 8:
            commandTransfer();
            break;
        default:
            readFrames(kLongRead);
            break;
    }
}

void ProtocolExerciser::readFrames(int maxCount) {
    std::vector<CanFrame> records(static_cast<std::size_t>(maxCount));
    const int filled = device_.readFrames(records);
    checkRecords(records.data(), filled, maxCount);
}

void ProtocolExerciser::writeThenReadFrames() {
    CanFrame frame{};
    frame.idCan = 0x18DA10F1;
    frame.idExt = 1;
    frame.lenDataCan = 3;
    frame.dataCan[0] = 0x02;
    FUZZ_CHECK(device_.writeFrames(std::span(&frame, 1)) == 1);
    readFrames(8);
}

void ProtocolExerciser::readIdentification() {
    const auto identity = device_.identify(IdentitySource::ReadFromDevice);
    FUZZ_CHECK(!identity || identity->kind == DeviceIdentity::kUsbCanKind);
}

// The bit timing depends on the product code and firmware version the device reported.
void ProtocolExerciser::programController() {
    const DeviceInfo& info = device_.info();
    const uint32_t rate = kBitRates[info.firmwareVersion[0] % std::size(kBitRates)];
    const bool ext = (info.firmwareVersion[1] & 1) != 0;
    device_.configure({.acceptanceId = kOpenFilter,
                       .acceptanceMask = kOpenFilter,
                       .bitRateKbps = rate,
                       .outputBus = 0,
                       .extendedIds = ext,
                       .reprogramming = Reprogramming::Always});
}

void ProtocolExerciser::commandTransfer() {
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassFirmwareRequest);
    uint8_t reply[2 * packet::kSize];
    const int got = device_.commandTransfer(request, packet::kSize, reply, sizeof reply, 1);
    FUZZ_CHECK(got >= 0 && got <= static_cast<int>(sizeof reply));
}

void ProtocolExerciser::checkRecords(const CanFrame* records, int filled, int count) const {
    FUZZ_CHECK(filled >= 0 && filled <= count);
    for (int i = 0; i < filled; ++i) {
        FUZZ_CHECK(records[i].idCan <= kCanIdMask29);
        FUZZ_CHECK(records[i].idExt <= 1);
        FUZZ_CHECK(records[i].lenDataCan <= maxLength_);
    }
    // A read that came up short marks the rest of the transfer it came short in.
    const int shortTransferEnd = std::min(count, packet::kMaxTransferPackets);
    for (int i = filled; i < shortTransferEnd; ++i) {
        FUZZ_CHECK(records[i].idCan == unreadMarker_);
    }
}

}  // namespace vtx::fuzz
