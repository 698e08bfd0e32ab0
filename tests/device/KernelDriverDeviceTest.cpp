// KernelDriverDevice at the packet level, against a scripted device file.
#include "device/kerneldriver/KernelDriverDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "device/DevicePackets.h"
#include "tests/device/ScriptedPipeTransport.h"

namespace vtx {
namespace {

using test::packetOf;
using Bytes = std::vector<uint8_t>;

// Records every write and control code, answers reads from a script.
class ScriptedDeviceFile : public DeviceFileTransport {
  public:
    struct Control {
        uint32_t code;
        Bytes input;
    };

    bool open() override {
        ++opens;
        open_ = present;
        return open_;
    }
    bool isOpen() const override { return open_; }
    int read(uint8_t* bytes, int length) override {
        if (replies.empty()) {
            return 0;
        }
        Bytes reply = std::move(replies.front());
        replies.pop_front();
        const int n = std::min(length, static_cast<int>(reply.size()));
        std::copy(reply.begin(), reply.begin() + n, bytes);
        return n;
    }
    int write(const uint8_t* bytes, int length) override {
        writes.emplace_back(bytes, bytes + length);
        return length;
    }
    bool controlCode(uint32_t code, const void* input, uint32_t inputLength, void*,
                     uint32_t) override {
        const auto* in = static_cast<const uint8_t*>(input);
        controls.push_back({code, in == nullptr ? Bytes{} : Bytes(in, in + inputLength)});
        return present;
    }
    void close() override { open_ = false; }

    std::vector<Bytes> packets() const {
        std::vector<Bytes> out;
        for (const Bytes& w : writes) {
            for (std::size_t i = 0; i + 16 <= w.size(); i += 16) {
                out.emplace_back(w.begin() + static_cast<long>(i),
                                 w.begin() + static_cast<long>(i) + 16);
            }
        }
        return out;
    }

    bool present = true;
    int opens = 0;
    std::deque<Bytes> replies;
    std::vector<Bytes> writes;
    std::vector<Control> controls;

  private:
    bool open_ = false;
};

Bytes identificationReply() {
    uint8_t block[32] = {};
    std::memcpy(block + 20, "VTX20", 5);
    block[26] = 1;
    uint8_t sum = 0;
    for (int i = 0; i < 31; ++i) {
        sum = static_cast<uint8_t>(sum + block[i]);
    }
    block[31] = sum;
    Bytes reply(64, 0);
    for (int i = 0; i < 4; ++i) {
        reply[i * 16] = packet::kClassIdentReply;
        std::memcpy(&reply[i * 16 + 8], block + 8 * i, 8);
    }
    return reply;
}

Bytes framePacket(std::initializer_list<uint8_t> idWord, uint8_t length) {
    Bytes p = packetOf({0x01});
    std::copy(idWord.begin(), idWord.end(), p.begin() + 1);
    p[5] = length;
    for (int i = 0; i < 8; ++i) {
        p[6 + i] = static_cast<uint8_t>(0xA0 + i);
    }
    return p;
}

class KernelDriverDeviceTest : public ::testing::Test {
  protected:
    void initDevice() {
        file.replies.push_back(identificationReply());
        file.replies.push_back(packetOf({0x08, 15, 10, 1, 2}));  // firmware 2.1.10.15
        file.replies.push_back(packetOf({0x0A, 0x00}));
        Bytes outBus = packetOf({0x14, 0x0B});
        outBus[15] = 3;
        file.replies.push_back(outBus);
        ASSERT_TRUE(iface.init());
        file.writes.clear();
        file.controls.clear();
    }

    ScriptedDeviceFile file;
    KernelDriverDevice iface{file};
};

TEST_F(KernelDriverDeviceTest, InitIdentifiesOverTheDeviceFile) {
    initDevice();
    EXPECT_EQ(iface.info().firmwareVersion[0], 2);
    EXPECT_EQ(iface.info().outBusSupported, 2);
    EXPECT_EQ(std::string(iface.info().productCode, 5), "VTX20");
}

TEST_F(KernelDriverDeviceTest, IdentifierWordAndLengthByteSent) {
    initDevice();
    struct Case {
        uint32_t id;
        uint8_t ext;
        uint8_t length;
        Bytes word;
        uint8_t lengthByte;
        int dataBytes;
    };
    const Case cases[] = {
        {0x00000001, 1, 2, {0x00, 0x08, 0x00, 0x02}, 2, 2},
        {0x123, 0, 3, {0x24, 0x60, 0x00, 0x00}, 3, 3},
        {0x1FFFFFFF, 1, 8, {0xFF, 0xEF, 0xFF, 0xFE}, 8, 8},
        // The whole length byte travels; the data never exceed the record's 8 bytes.
        {0x7FF, 0, 0x13, {0xFF, 0xE0, 0x00, 0x00}, 0x13, 8},
    };
    for (const Case& c : cases) {
        file.writes.clear();
        CanFrame frame{};
        frame.idCan = c.id;
        frame.idExt = c.ext;
        frame.lenDataCan = c.length;
        std::memset(frame.dataCan, 0x5A, sizeof frame.dataCan);
        ASSERT_EQ(iface.writeFrames(std::span(&frame, 1)), 1);
        const Bytes p = file.packets().at(0);
        EXPECT_EQ(p[0], 0x01);
        EXPECT_EQ(Bytes(p.begin() + 1, p.begin() + 5), c.word) << std::hex << c.id;
        EXPECT_EQ(p[5], c.lengthByte);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(p[6 + i], i < c.dataBytes ? 0x5A : 0x00) << i;
        }
        EXPECT_EQ(p[14], 0);
        EXPECT_EQ(p[15], 0);
    }
}

TEST_F(KernelDriverDeviceTest, IdentifierWordDecodedIgnoringBitTwenty) {
    initDevice();
    file.replies.push_back(framePacket({0x00, 0x18, 0x00, 0x02}, 1));
    file.replies.back().resize(32);
    const Bytes second = framePacket({0x00, 0x08, 0x00, 0x02}, 2);
    std::copy(second.begin(), second.end(), file.replies.back().begin() + 16);
    CanFrame frames[2];
    ASSERT_EQ(iface.readFrames(std::span(frames, 2)), 2);
    for (const CanFrame& f : frames) {
        EXPECT_EQ(uint32_t{f.idCan}, 1u);
        EXPECT_EQ(f.idExt, 1);
    }
    EXPECT_EQ(frames[1].lenDataCan, 2);
}

TEST_F(KernelDriverDeviceTest, LengthByteAboveEightKeepsEightDataBytes) {
    initDevice();
    file.replies.push_back(framePacket({0x24, 0x60, 0x00, 0x00}, 0x1F));
    CanFrame frame;
    ASSERT_EQ(iface.readFrames(std::span(&frame, 1)), 1);
    EXPECT_EQ(uint32_t{frame.idCan}, 0x123u);
    EXPECT_EQ(frame.idExt, 0);
    EXPECT_EQ(frame.lenDataCan, 8);
    EXPECT_EQ(frame.dataCan[7], 0xA7);
}

TEST_F(KernelDriverDeviceTest, UnreadRecordsCarryTheAllOnesIdentifier) {
    initDevice();
    Bytes reply;
    for (uint8_t i = 0; i < 3; ++i) {
        const Bytes p = framePacket({0x24, static_cast<uint8_t>(0x60 + 0x20 * i), 0, 0}, 1);
        reply.insert(reply.end(), p.begin(), p.end());
    }
    file.replies.push_back(reply);
    std::vector<CanFrame> frames(128);
    ASSERT_EQ(iface.readFrames(std::span(frames.data(), 128)), 3);
    EXPECT_EQ(uint32_t{frames[0].idCan}, 0x123u);
    EXPECT_EQ(uint32_t{frames[2].idCan}, 0x125u);
    for (int i = 3; i < 128; ++i) {
        ASSERT_EQ(uint32_t{frames[i].idCan}, 0xFFFFFFFFu) << i;
        ASSERT_EQ(frames[i].lenDataCan, 0) << i;
    }
    // The read asked for 128 packets in one transfer header.
    const Bytes header = file.packets().at(0);
    EXPECT_EQ(header[0], packet::kClassTransferHeader);
    EXPECT_EQ(header[4], 128);
}

TEST_F(KernelDriverDeviceTest, AuxValueClampedAndPassedToTheDriver) {
    initDevice();
    EXPECT_EQ(iface.setAuxValue(70000), 65535);
    ASSERT_EQ(file.packets().size(), 1u);
    EXPECT_EQ(file.packets()[0], packetOf({0x04, 0x04, 0xFF, 0xFF}));
    ASSERT_EQ(file.controls.size(), 1u);
    EXPECT_EQ(file.controls[0].code, 0x22202Cu);
    EXPECT_EQ(file.controls[0].input, (Bytes{0xFF, 0xFF, 0x00, 0x00}));
    // The same value again: neither packet nor control code.
    EXPECT_EQ(iface.setAuxValue(65535), 65535);
    EXPECT_EQ(file.controls.size(), 1u);
}

TEST_F(KernelDriverDeviceTest, EveryHeaderCarriesTheReplyTimeout) {
    initDevice();
    iface.setReplyTimeout(40);
    file.replies.push_back(packetOf({0x0A, 0x01}));
    uint32_t state = 0;
    ASSERT_TRUE(iface.readTermResistor(state));
    EXPECT_EQ(state, 1u);
    const Bytes header = file.packets().at(0);
    EXPECT_EQ(header[0], packet::kClassTransferHeader);
    EXPECT_EQ(header[2], 40);
    EXPECT_EQ(header[3], 0);
}

TEST_F(KernelDriverDeviceTest, OpenOnAnOpenHandleClearsAndDisablesAgain) {
    initDevice();
    EXPECT_TRUE(iface.open());
    EXPECT_EQ(file.opens, 1);
    ASSERT_EQ(file.packets().size(), 2u);
    EXPECT_EQ(file.packets()[0], packetOf({0x06}));
    EXPECT_EQ(file.packets()[1], packetOf({0x04, 0x05}));
}

TEST_F(KernelDriverDeviceTest, SamplePointRealisedIsKeptInTheDeviceInfoOnly) {
    initDevice();
    ASSERT_TRUE(iface.configure({.acceptanceId = kOpenFilter,
                                 .acceptanceMask = kOpenFilter,
                                 .bitRateKbps = 500,
                                 .outputBus = 0}));
    // 24 MHz, 500 kbit/s, 80 % asked: the controller realises 81 %.
    EXPECT_EQ(iface.settings().SamplePoint, 80u);
    EXPECT_EQ(iface.info().SamplePoint, 81u);
    EXPECT_EQ(iface.info().tseg1, 12u);
}

TEST_F(KernelDriverDeviceTest, PresenceAskedWithTheControlCode) {
    initDevice();
    EXPECT_TRUE(iface.checkConnection());
    ASSERT_EQ(file.controls.size(), 1u);
    EXPECT_EQ(file.controls[0].code, 0x222028u);
    EXPECT_TRUE(file.writes.empty());

    // The device stops answering: init runs again on the same handle, fails, and the device is
    // closed.
    file.present = false;
    EXPECT_FALSE(iface.checkConnection());
    EXPECT_FALSE(iface.isOpen());
    EXPECT_EQ(iface.info().outBus, 0xFF);
}

TEST_F(KernelDriverDeviceTest, ClosedDeviceRefusesTransfersWithoutTouchingTheFile) {
    CanFrame frames[4];
    EXPECT_EQ(iface.readFrames(std::span(frames, 4)), 0);
    EXPECT_EQ(iface.writeFrames(std::span(frames, 4)), 0);
    EXPECT_EQ(iface.setAuxValue(5), 0);
    EXPECT_TRUE(file.writes.empty());
    EXPECT_TRUE(file.controls.empty());
}

}  // namespace
}  // namespace vtx
