#include "device/DevicePackets.h"

#include <algorithm>
#include <cstring>

namespace vtx::packet {

namespace {
void putBigEndian32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

constexpr uint8_t kExtendedMarkers = 0x18;  // byte 2 of a packed 29-bit identifier
constexpr uint8_t kExtendedBit = 0x08;      // the bit that tells the width on receive

// The acceptance words, in the layout of a frame packet's identifier bytes as one big-endian
// word: an 11-bit identifier in bits 31 to 21; a 29-bit one in bits 31 to 21 and 18 to 1, with
// the markers in bits 20 and 19.
constexpr int kStandardIdShift = 21;
constexpr uint32_t kCompareNothing = 0xFFFFFFFF;
// Below an 11-bit identifier nothing is compared but the 29-bit marker, which must be clear.
constexpr uint32_t kStandardMaskIgnored = 0x0017FFFF;
constexpr uint32_t kExtendedCodeMarkers = 0x00180000;
// Of the markers, only the one that tells the width is compared.
constexpr uint32_t kExtendedMaskIgnored = 0x00100000;

// The enable command's fixed bytes.
constexpr uint8_t kEnableByte2 = 0x00;
constexpr uint8_t kEnableByte3 = 0x01;
constexpr uint8_t kOpenFilterFlags = 0x30;  // byte 6: every frame accepted
}  // namespace

void packFrame(const CanFrame& frame, uint8_t* out) {
    std::memset(out, 0, kSize);
    out[0] = kClassFrame;
    const uint32_t id = frame.idCan & kCanIdMask29;
    if (frame.idExt & 1) {
        out[1] = static_cast<uint8_t>(id >> 21);
        out[2] =
            static_cast<uint8_t>(((id >> 18) & 0x07) << 5 | kExtendedMarkers | ((id >> 15) & 0x07));
        out[3] = static_cast<uint8_t>(id >> 7);
        out[4] = static_cast<uint8_t>((id & 0x7F) << 1);
    } else {
        out[1] = static_cast<uint8_t>(id >> 3);
        out[2] = static_cast<uint8_t>((id & 0x07) << 5);
    }
    const uint8_t dlc = frame.lenDataCan & 0x0F;
    out[5] = dlc;
    std::memcpy(out + 6, frame.dataCan, std::min<uint8_t>(dlc, 8));
}

CanFrame unpackFrame(const uint8_t* in) {
    CanFrame frame{};
    if (in[2] & kExtendedBit) {
        frame.idExt = 1;
        frame.idCan = static_cast<uint32_t>(in[1]) << 21 |
                      static_cast<uint32_t>(in[2] & 0xE0) << 13 |
                      static_cast<uint32_t>(in[2] & 0x07) << 15 |
                      static_cast<uint32_t>(in[3]) << 7 | static_cast<uint32_t>(in[4]) >> 1;
    } else {
        frame.idCan = static_cast<uint32_t>(in[1]) << 3 | static_cast<uint32_t>(in[2]) >> 5;
    }
    frame.lenDataCan = in[5] & 0x0F;
    std::memcpy(frame.dataCan, in + 6, std::min<uint8_t>(frame.lenDataCan, 8));
    return frame;
}

void buildTransferHeader(uint8_t* out, uint8_t sub, uint16_t timeoutMs, uint16_t replyPackets,
                         uint16_t sequence) {
    std::memset(out, 0, kSize);
    out[0] = kClassTransferHeader;
    out[1] = sub;
    out[2] = static_cast<uint8_t>(timeoutMs);
    out[3] = static_cast<uint8_t>(timeoutMs >> 8);
    out[4] = static_cast<uint8_t>(replyPackets);
    out[5] = static_cast<uint8_t>(replyPackets >> 8);
    out[6] = static_cast<uint8_t>(sequence >> 8);
    out[7] = static_cast<uint8_t>(sequence);
}

bool assembleIdentification(const uint8_t* reply64, uint8_t* block32) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t* packet = reply64 + i * kSize;
        if (packet[0] != kClassIdentReply) {
            return false;
        }
        std::memcpy(block32 + 8 * i, packet + 8, 8);
    }
    return true;
}

bool identificationChecksumOk(const uint8_t* block32) {
    uint8_t sum = 0;
    for (int i = 0; i < 31; ++i) {
        sum = static_cast<uint8_t>(sum + block32[i]);
    }
    return sum == block32[31];
}

uint32_t identificationCustomer(const uint8_t* block32) {
    return static_cast<uint32_t>(block32[25]) << 8 | block32[26];
}

uint32_t identificationSerial(const uint8_t* block32) {
    return static_cast<uint32_t>(block32[27]) << 24 | static_cast<uint32_t>(block32[28]) << 16 |
           static_cast<uint32_t>(block32[29]) << 8 | block32[30];
}

Acceptance acceptanceOf(const CommParameters& params) {
    if (params.Id == kOpenFilter && params.Mk == kOpenFilter) {
        return {0, 0, true};
    }
    if (params.canIdBoth) {
        return {0, kCompareNothing, false};
    }
    if (!params.Ext) {
        return {params.Id << kStandardIdShift, params.Mk << kStandardIdShift | kStandardMaskIgnored,
                false};
    }
    const auto pack29 = [](uint32_t value, uint32_t markers) {
        return ((value >> 18) & 0x7FF) << kStandardIdShift | markers | (value & 0x3FFFF) << 1;
    };
    return {pack29(params.Id, kExtendedCodeMarkers), pack29(params.Mk, kExtendedMaskIgnored),
            false};
}

void buildEnableCommand(uint8_t* out, uint8_t btr0, uint8_t btr1, const CommParameters& params) {
    std::memset(out, 0, kEnableCommandSize);
    const Acceptance acceptance = acceptanceOf(params);
    out[0] = kClassConfig;
    out[1] = kCmdEnable;
    out[2] = kEnableByte2;
    out[3] = kEnableByte3;
    out[4] = btr0;
    out[5] = btr1;
    out[6] = acceptance.open ? kOpenFilterFlags : 0x00;
    putBigEndian32(out + 7, acceptance.code);
    putBigEndian32(out + 11, acceptance.mask);
    out[15] = params.Bus;
    out[16] = kClassClear;
}

void buildCommand(uint8_t* out, uint8_t cls, uint8_t cmd, uint8_t arg) {
    std::memset(out, 0, kSize);
    out[0] = cls;
    out[1] = cmd;
    out[2] = arg;
}

}  // namespace vtx::packet
