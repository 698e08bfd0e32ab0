// UsbProtocolDevice: the device's fixed identification and firmware version.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "device/DevicePackets.h"
#include "device/UsbProtocolDevice.h"
#include "device/UsbProtocolTrace.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

namespace {
constexpr int kIdentificationReplyPackets = 4;
constexpr std::size_t kIdentificationBlockBytes = 32;

// The product code up to its first zero, at most its five characters.
std::string_view productCodeText(const DeviceInfo& info) {
    const char* begin = info.productCode;
    const char* end = std::find(begin, begin + sizeof info.productCode, '\0');
    return {begin, static_cast<std::size_t>(end - begin)};
}
}  // namespace

bool UsbProtocolDevice::readIdentification() {
    PROTOCOL_TRACE(place::kIdentificationReadStarted);
    if (!isOpen()) {
        return false;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassIdentRequest);
    uint8_t reply[kIdentificationReplyPackets * packet::kSize] = {};
    if (commandTransfer(request, packet::kSize, reply, sizeof reply, replyTimeout_) !=
        static_cast<int>(sizeof reply)) {
        return false;
    }
    uint8_t block[kIdentificationBlockBytes];
    if (!packet::assembleIdentification(reply, block)) {
        return false;
    }
    // A block with a wrong checksum leaves the identification as it was.
    if (packet::identificationChecksumOk(block)) {
        std::memcpy(deviceInfo_.productCode, block + packet::kProductCodeOffset,
                    sizeof deviceInfo_.productCode);
        deviceInfo_.customerCode = packet::identificationCustomer(block);
        deviceInfo_.serialNumber = packet::identificationSerial(block);
    }
    deviceInfo_.setFirmwareWord(readFirmwareVersion());
    PROTOCOL_TRACE(place::kIdentificationReadEnded);
    return true;
}

// The reply carries the components least significant first, in bytes 1 to 4.
uint32_t UsbProtocolDevice::readFirmwareVersion() {
    if (!isOpen()) {
        return 0;
    }
    uint8_t request[packet::kSize];
    packet::buildCommand(request, packet::kClassFirmwareRequest);
    uint8_t reply[packet::kSize] = {};
    if (!queryPacket(request, reply, replyTimeout_) || reply[0] != packet::kClassFirmwareReply) {
        return 0;
    }
    return static_cast<uint32_t>(reply[1]) | static_cast<uint32_t>(reply[2]) << 8 |
           static_cast<uint32_t>(reply[3]) << 16 | static_cast<uint32_t>(reply[4]) << 24;
}

std::optional<DeviceIdentity> UsbProtocolDevice::identify(IdentitySource source) {
    const ElapsedTimer timer;
    PROTOCOL_TRACE(place::kIdentityStarted);
    const bool ret = source == IdentitySource::ReadFromDevice ? readIdentification() : true;
    DeviceIdentity identity;
    identity.firmwareWord = deviceInfo_.firmwareWord();
    identity.serialNumber = deviceInfo_.serialNumber;
    identity.customerCode = deviceInfo_.customerCode;
    std::copy(std::begin(deviceInfo_.productCode), std::end(deviceInfo_.productCode),
              identity.productCode.begin());
    PROTOCOL_TRACE(place::kIdentityEnded, hex("versioneFW", identity.firmwareWord),
                   u32("numSeriale", identity.serialNumber),
                   u32("codCliente", identity.customerCode),
                   ansi("codProdotto", productCodeText(deviceInfo_)), u32("ret", ret),
                   u32("t", timer.elapsed()));
    if (!ret) {
        return std::nullopt;
    }
    return identity;
}

}  // namespace vtx
