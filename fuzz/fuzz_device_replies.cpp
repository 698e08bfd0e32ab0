// The host's side of the device protocol fed replies as a device sends them: the input is any
// number of 16-byte packets (the last one may be partial). The packet decoders take every packet
// directly; then each driver family's protocol class runs init, frame reads and command
// transfers against a device that answers every read with the next packets of the input.
#include <cstddef>
#include <cstdint>

#include "device/DevicePackets.h"
#include "device/kerneldriver/KernelDriverDevice.h"
#include "device/winusb/WinUsbDevice.h"
#include "fuzz/FeedDeviceFile.h"
#include "fuzz/FeedPipeTransport.h"
#include "fuzz/FrameCodecChecks.h"
#include "fuzz/ProtocolExerciser.h"
#include "fuzz/ReplyFeed.h"

namespace {

using namespace vtx;
using namespace vtx::fuzz;

constexpr uint8_t kWinUsbMaxLength = 15;  // the length nibble, as the packet carries it
constexpr uint8_t kKernelMaxLength = 8;
constexpr uint32_t kKernelUnreadMarker = 0xFFFFFFFF;

void decodePackets(const uint8_t* data, std::size_t size) {
    const std::size_t packets = size / packet::kSize;
    for (std::size_t i = 0; i < packets; ++i) {
        checkHostFrameRoundTrip(data + i * packet::kSize);
        if (i + 4 <= packets) {
            checkIdentification(data + i * packet::kSize);
        }
    }
}

// The transport is closed before the protocol object goes: its close sequence, which waits for
// pin 15 to settle, would cost more than the rest of the run.
void driveWinUsb(const uint8_t* data, std::size_t size) {
    ReplyFeed feed(data, size);
    FeedPipeTransport transport(feed);
    WinUsbDevice device(transport);
    ProtocolExerciser(device, feed, 0, kWinUsbMaxLength).run();
    transport.close();
}

void driveKernelDriver(const uint8_t* data, std::size_t size) {
    ReplyFeed feed(data, size);
    FeedDeviceFile file(feed);
    KernelDriverDevice device(file);
    ProtocolExerciser(device, feed, kKernelUnreadMarker, kKernelMaxLength).run();
    file.close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    decodePackets(data, size);
    driveWinUsb(data, size);
    driveKernelDriver(data, size);
    return 0;
}
