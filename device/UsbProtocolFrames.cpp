// UsbProtocolDevice: CAN frames. A write sends frame packets as they are; a read is a transfer
// header asking for as many packets as the records hold, answered by the frames the device has.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "device/DevicePackets.h"
#include "device/UsbProtocolDevice.h"
#include "trace/TracePlaces.h"
#include "trace/TraceTimer.h"

namespace vtx {

using namespace trace;

namespace {
constexpr uint8_t kExtendedSecondMarker = 0x10;  // bit 20 of the identifier word, in byte 2
constexpr uint8_t kMaxDataBytes = 8;
constexpr std::size_t kLengthByte = 5;
constexpr std::size_t kFirstDataByte = 6;
constexpr uint32_t kUnreadRecord = 0xFFFFFFFF;

// The end events keep the fields of the transfer modes the frame operations once had: writes
// were plain (useIoctl 0), reads went with a transfer header (useIoctl 1) and carried the bytes
// of frames held back for them (intBuffer), which none are now.
constexpr uint32_t kPlainWriteMode = 0;
constexpr uint32_t kHeaderedReadMode = 1;
constexpr uint32_t kNoHeldBackBytes = 0;
}  // namespace

void UsbProtocolDevice::packFramePacket(const CanFrame& frame, uint8_t* out) const {
    packet::packFrame(frame, out);
    if (quirks_.extendedMarker == ProtocolQuirks::ExtendedMarker::Bit19Only) {
        out[2] &= static_cast<uint8_t>(~kExtendedSecondMarker);
    }
    if (quirks_.lengthByte == ProtocolQuirks::LengthByte::WholeByte) {
        out[kLengthByte] = frame.lenDataCan;
        std::memset(out + kFirstDataByte, 0, kMaxDataBytes);
        std::memcpy(out + kFirstDataByte, frame.dataCan, std::min(frame.lenDataCan, kMaxDataBytes));
    }
}

CanFrame UsbProtocolDevice::unpackFramePacket(const uint8_t* in) const {
    CanFrame frame = packet::unpackFrame(in);
    if (quirks_.lengthByte == ProtocolQuirks::LengthByte::WholeByte) {
        frame.lenDataCan = std::min(in[kLengthByte], kMaxDataBytes);
        std::memset(frame.dataCan, 0, sizeof frame.dataCan);
        std::memcpy(frame.dataCan, in + kFirstDataByte, frame.lenDataCan);
    }
    return frame;
}

void UsbProtocolDevice::markUnreadRecords(std::span<CanFrame> records) const {
    if (quirks_.unreadRecords == ProtocolQuirks::UnreadRecords::AllOnesIdentifier) {
        for (CanFrame& record : records) {
            record.idCan = kUnreadRecord;
        }
    }
}

int UsbProtocolDevice::writeFrameChunk(std::span<const CanFrame> frames) {
    std::vector<uint8_t> packets(frames.size() * packet::kSize);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        packFramePacket(frames[i], packets.data() + i * packet::kSize);
    }
    return writeBuffer(packets.data(), static_cast<int>(packets.size())) / packet::kSize;
}

int UsbProtocolDevice::writeFrames(std::span<const CanFrame> frames) {
    if (!isOpen() || frames.empty()) {
        return 0;
    }
    const trace::TraceTimer timer(identity_.group);
    const std::size_t count = frames.size();
    std::size_t accepted = 0;
    while (accepted < count) {
        const std::size_t n =
            std::min(count - accepted, static_cast<std::size_t>(packet::kMaxTransferPackets));
        const int chunkAccepted = writeFrameChunk(frames.subspan(accepted, n));
        accepted += static_cast<std::size_t>(chunkAccepted);
        if (chunkAccepted == 0) {
            break;
        }
    }
    VTX_TRACE_NO_COUNTER(
        identity_.group, identity_.eventName, place::kDeviceFramesWritten,
        u32("t", timer.elapsed()), u32("pacchettiScritti", static_cast<uint32_t>(accepted)),
        u32("numCANPkts", static_cast<uint32_t>(count)), u32("useIoctl", kPlainWriteMode));
    // The frames the device took, in order: a write cut short still reports the ones that went
    // out, so that nobody offers them again.
    return static_cast<int>(accepted);
}

int UsbProtocolDevice::readFrameChunk(std::span<CanFrame> frames) {
    const int n = static_cast<int>(frames.size());
    // Kept from poll to poll: it grows to the largest read once and is not allocated again.
    if (readReply_.size() < frames.size() * packet::kSize) {
        readReply_.resize(frames.size() * packet::kSize);
    }
    const int bytes =
        commandTransfer(nullptr, 0, readReply_.data(), n * packet::kSize, replyTimeout_);
    // A partial packet at the end is dropped.
    const int packets = std::clamp(bytes / packet::kSize, 0, n);
    for (int i = 0; i < packets; ++i) {
        frames[static_cast<std::size_t>(i)] =
            unpackFramePacket(readReply_.data() + i * packet::kSize);
    }
    markUnreadRecords(frames.subspan(static_cast<std::size_t>(packets)));
    return packets;
}

int UsbProtocolDevice::readFrames(std::span<CanFrame> frames) {
    std::fill(frames.begin(), frames.end(), CanFrame{});
    if (!isOpen() || frames.empty()) {
        return 0;
    }
    const trace::TraceTimer timer(identity_.group);
    const std::size_t maxCount = frames.size();
    std::size_t stored = 0;
    while (stored < maxCount) {
        const std::size_t n =
            std::min(maxCount - stored, static_cast<std::size_t>(packet::kMaxTransferPackets));
        const int got = readFrameChunk(frames.subspan(stored, n));
        stored += static_cast<std::size_t>(got);
        if (static_cast<std::size_t>(got) < n) {
            break;
        }
    }
    if (stored == 0) {
        return 0;
    }
    if (identity_.readEventCounter == ReadEventCounter::Carried) {
        VTX_TRACE(identity_.group, identity_.eventName, place::kDeviceFramesRead,
                  u32("t", timer.elapsed()), u32("pacchettiLetti", static_cast<uint32_t>(stored)),
                  u32("numCANPkts", static_cast<uint32_t>(maxCount)),
                  u32("useIoctl", kHeaderedReadMode), u32("intBuffer", kNoHeldBackBytes));
    } else {
        VTX_TRACE_NO_COUNTER(
            identity_.group, identity_.eventName, place::kDeviceFramesRead,
            u32("t", timer.elapsed()), u32("pacchettiLetti", static_cast<uint32_t>(stored)),
            u32("numCANPkts", static_cast<uint32_t>(maxCount)), u32("useIoctl", kHeaderedReadMode),
            u32("intBuffer", kNoHeldBackBytes));
    }
    return static_cast<int>(stored);
}

// A transfer header for one packet, carrying the wait's own timeout whatever the family's
// headers carry otherwise, and the read of that packet. A packet that is not a frame is the
// reply endFrameWait asked for, which the read took so that no later exchange meets it. A wait
// that ends without a frame in less than half its timeout, and was not asked to end, did not
// wait: the header or the read was refused.
FrameWaitOutcome UsbProtocolDevice::awaitFrame(CanFrame& frame, int timeoutMs) {
    frame = CanFrame{};
    const ElapsedTimer waited;
    {
        // The handle is read under a lock its close holds: the owner may be closing a lost
        // device as this wait begins.
        const std::lock_guard lock(outMutex_);
        if (!isOpen()) {
            return FrameWaitOutcome::Refused;
        }
        frameWaitStage_ = FrameWaitStage::Starting;
        frameWaitEndAsked_ = false;
    }
    uint8_t reply[packet::kSize] = {};
    bool read = false;
    {
        const std::lock_guard exchange(exchangeMutex_);
        read =
            sendFrameWaitHeader(timeoutMs) && readUnlocked(reply, packet::kSize) == packet::kSize;
    }
    const bool endAsked = finishFrameWait();
    if (read && reply[0] == packet::kClassFrame) {
        frame = unpackFramePacket(reply);
        return FrameWaitOutcome::Frame;
    }
    if (endAsked) {
        return FrameWaitOutcome::GaveWay;
    }
    return static_cast<int64_t>(waited.elapsed()) < timeoutMs / 2 ? FrameWaitOutcome::Refused
                                                                  : FrameWaitOutcome::Quiet;
}

bool UsbProtocolDevice::sendFrameWaitHeader(int timeoutMs) {
    const std::lock_guard lock(outMutex_);
    if (frameWaitEndAsked_) {
        return false;
    }
    if (!writeHeaderLocked(nullptr, 0, packet::kSize, static_cast<uint16_t>(timeoutMs))) {
        return false;
    }
    frameWaitStage_ = FrameWaitStage::HeaderOut;
    return true;
}

bool UsbProtocolDevice::finishFrameWait() {
    const std::lock_guard lock(outMutex_);
    frameWaitStage_ = FrameWaitStage::None;
    return std::exchange(frameWaitEndAsked_, false);
}

// A wait whose header is out ends when the device answers a request sent beside it: the reply
// goes to the read under way. The firmware-version request is answered at once and changes
// nothing. A wait not yet out is told not to begin.
void UsbProtocolDevice::endFrameWait() {
    const std::lock_guard lock(outMutex_);
    if (frameWaitStage_ == FrameWaitStage::None || frameWaitEndAsked_) {
        return;
    }
    frameWaitEndAsked_ = true;
    if (frameWaitStage_ == FrameWaitStage::HeaderOut) {
        uint8_t request[packet::kSize];
        packet::buildCommand(request, packet::kClassFirmwareRequest);
        writeUnlocked(request, packet::kSize);
    }
}

}  // namespace vtx
