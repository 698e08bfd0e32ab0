// UsbProtocolDevice: transfers. An exchange (a transfer header and the read that answers it)
// holds exchangeMutex_ from its header to the end of its read; every write holds outMutex_ for
// itself only, so that a plain write goes out while an exchange waits for its reply. Every
// transfer header takes the next sequence number.
#include <cstring>
#include <vector>

#include "device/DevicePackets.h"
#include "device/UsbProtocolDevice.h"

namespace vtx {

namespace {
// Byte 1 of the transfer headers this library sends.
constexpr uint8_t kPlainTransfer = 0;

bool validTransferLength(int length) {
    return length >= 0 && length <= packet::kMaxTransferBytes && length % packet::kSize == 0;
}
}  // namespace

int UsbProtocolDevice::setReplyTimeout(int ms) {
    const int previous = replyTimeout_;
    replyTimeout_ = static_cast<uint16_t>(ms);
    return previous;
}

uint16_t UsbProtocolDevice::headerTimeout(int requestedMs) const {
    return quirks_.headerTimeout == ProtocolQuirks::HeaderTimeout::ReplyTimeout
               ? replyTimeout_
               : static_cast<uint16_t>(requestedMs);
}

int UsbProtocolDevice::writeUnlocked(const uint8_t* bytes, int length) {
    if (!isOpen() || !validTransferLength(length) || (length > 0 && bytes == nullptr)) {
        return 0;
    }
    const int written = transportWrite(bytes, length);
    if (written < length) {
        transferFailed_ = true;
    }
    return written;
}

int UsbProtocolDevice::readUnlocked(uint8_t* bytes, int length) {
    if (!isOpen() || !validTransferLength(length) || (length > 0 && bytes == nullptr)) {
        return 0;
    }
    return transportRead(bytes, length);
}

int UsbProtocolDevice::writeBuffer(const uint8_t* bytes, int length) {
    const std::lock_guard lock(outMutex_);
    return writeUnlocked(bytes, length);
}

bool UsbProtocolDevice::writeHeaderAndPayload(const uint8_t* payload, int payloadLength,
                                              int replyLength, uint16_t timeoutMs) {
    const std::lock_guard lock(outMutex_);
    return writeHeaderLocked(payload, payloadLength, replyLength, timeoutMs);
}

bool UsbProtocolDevice::writeHeaderLocked(const uint8_t* payload, int payloadLength,
                                          int replyLength, uint16_t timeoutMs) {
    // The header, then the payload; the buffer is kept, so a poll allocates nothing.
    const std::size_t total = static_cast<std::size_t>(payloadLength) + packet::kSize;
    transferBuffer_.resize(total);
    if (payloadLength != 0) {
        std::memcpy(transferBuffer_.data() + packet::kSize, payload,
                    static_cast<std::size_t>(payloadLength));
    }
    packet::buildTransferHeader(transferBuffer_.data(), kPlainTransfer, timeoutMs,
                                static_cast<uint16_t>(replyLength / packet::kSize), sequence_);
    lastHeaderSequence_ = sequence_++;
    return writeUnlocked(transferBuffer_.data(), static_cast<int>(total)) ==
           static_cast<int>(total);
}

int UsbProtocolDevice::commandTransfer(const uint8_t* payload, int payloadLength, uint8_t* reply,
                                       int replyLength, int timeoutMs) {
    if (!isOpen() || payloadLength < 0 ||
        (payloadLength != 0 && (payload == nullptr || payloadLength % packet::kSize != 0)) ||
        !validTransferLength(replyLength)) {
        return 0;
    }
    // First the give-way: the reply comes on the IN pipe, which a frame wait's read holds until
    // it ends, so a wait under way is made to end now, and one about to begin not to.
    endFrameWait();
    // Then the exchange, once the wait's read has ended.
    const std::lock_guard exchange(exchangeMutex_);
    if (!writeHeaderAndPayload(payload, payloadLength, replyLength, headerTimeout(timeoutMs))) {
        return 0;
    }
    return readUnlocked(reply, replyLength);
}

bool UsbProtocolDevice::sendCommand(uint8_t cls, uint8_t cmd, uint8_t arg) {
    uint8_t command[packet::kSize];
    packet::buildCommand(command, cls, cmd, arg);
    return writeBuffer(command, packet::kSize) == packet::kSize;
}

bool UsbProtocolDevice::queryPacket(const uint8_t* request, uint8_t* reply, int timeoutMs) {
    return commandTransfer(request, packet::kSize, reply, packet::kSize, timeoutMs) ==
           packet::kSize;
}

}  // namespace vtx
