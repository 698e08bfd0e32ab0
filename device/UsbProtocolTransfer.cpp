// UsbProtocolDevice: transfers. An exchange (a transfer header and the read that answers it)
// holds exchangeMutex_ from its header to the end of its read; every write holds outMutex_ for
// itself only, so that a plain write goes out while an exchange waits for its reply. Every
// transfer header takes the next sequence number.
#include <cstring>
#include <optional>
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

std::optional<uint16_t> UsbProtocolDevice::writeHeaderAndPayload(const uint8_t* payload,
                                                                 int payloadLength, int replyLength,
                                                                 uint16_t timeoutMs) {
    const std::lock_guard lock(outMutex_);
    return writeHeaderLocked(payload, payloadLength, replyLength, timeoutMs);
}

std::optional<uint16_t> UsbProtocolDevice::writeHeaderLocked(const uint8_t* payload,
                                                             int payloadLength, int replyLength,
                                                             uint16_t timeoutMs) {
    // The header, then the payload; the buffer is kept, so a poll allocates nothing.
    const std::size_t total = static_cast<std::size_t>(payloadLength) + packet::kSize;
    transferBuffer_.resize(total);
    if (payloadLength != 0) {
        std::memcpy(transferBuffer_.data() + packet::kSize, payload,
                    static_cast<std::size_t>(payloadLength));
    }
    packet::buildTransferHeader(transferBuffer_.data(), kPlainTransfer, timeoutMs,
                                static_cast<uint16_t>(replyLength / packet::kSize), sequence_);
    const uint16_t stamped = sequence_++;
    if (writeUnlocked(transferBuffer_.data(), static_cast<int>(total)) != static_cast<int>(total)) {
        return std::nullopt;
    }
    return stamped;
}

int UsbProtocolDevice::commandTransfer(const uint8_t* payload, int payloadLength, uint8_t* reply,
                                       int replyLength, int timeoutMs, uint16_t* sequence) {
    if (!isOpen() || payloadLength < 0 ||
        (payloadLength != 0 && (payload == nullptr || payloadLength % packet::kSize != 0)) ||
        !validTransferLength(replyLength)) {
        return 0;
    }
    // First the give-way: the reply comes on the IN pipe, which a frame wait's read holds until
    // it ends, so a wait under way is made to end now, and one about to begin not to.
    endFrameWait();
    // Then the exchange, once the wait's read has ended. The header's own sequence number is
    // reported: a frame wait's header may follow it as soon as the lock is let go.
    const std::lock_guard exchange(exchangeMutex_);
    const std::optional<uint16_t> sent =
        writeHeaderAndPayload(payload, payloadLength, replyLength, headerTimeout(timeoutMs));
    if (!sent) {
        return 0;
    }
    if (sequence != nullptr) {
        *sequence = *sent;
    }
    return readUnlocked(reply, replyLength);
}

bool UsbProtocolDevice::sendCommand(uint8_t cls, uint8_t cmd, uint8_t arg) {
    uint8_t command[packet::kSize];
    packet::buildCommand(command, cls, cmd, arg);
    return writeBuffer(command, packet::kSize) == packet::kSize;
}

bool UsbProtocolDevice::queryPacket(const uint8_t* request, uint8_t* reply, int timeoutMs,
                                    uint16_t* sequence) {
    return commandTransfer(request, packet::kSize, reply, packet::kSize, timeoutMs, sequence) ==
           packet::kSize;
}

}  // namespace vtx
