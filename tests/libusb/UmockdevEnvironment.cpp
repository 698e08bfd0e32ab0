#include "tests/libusb/UmockdevEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/posix/libusb/UsbDeviceId.h"
#include "sim/SimWorld.h"

namespace vtx::usbtest {

namespace {
constexpr int kSkipped = 77;

std::unique_ptr<UsbDeviceEmulator> emulator;

// Without umockdev the program ends at once with the status CTest counts as skipped: none of
// its tests could reach the device.
class UmockdevEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const std::string reason = UsbDeviceEmulator::unavailableReason();
        if (!reason.empty()) {
            std::printf("SKIP: %s\n", reason.c_str());
            std::fflush(stdout);
            std::_Exit(kSkipped);
        }
        const platform::UsbDeviceId id = platform::UsbDeviceId::fromEnvironment();
        emulator = std::make_unique<UsbDeviceEmulator>(
            []() -> sim::SimWorld& { return sim::SimWorld::process(); }, id.vendor, id.product);
    }
    void TearDown() override { emulator.reset(); }
};

[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new UmockdevEnvironment);
}  // namespace

UsbDeviceEmulator& usbEmulator() {
    return *emulator;
}

}  // namespace vtx::usbtest
