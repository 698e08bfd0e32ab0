// VTXPTS_USB_ID and the texts the USB path leaves for PassThruGetLastError.
#include <gtest/gtest.h>

#include <libusb.h>

#include <cstring>

#include "platform/posix/libusb/LibusbErrorText.h"
#include "platform/posix/libusb/UsbDeviceId.h"
#include "platform/posix/libusb/UsbDriverStatus.h"

namespace vtx::platform {
namespace {

TEST(UsbDeviceId, ParsesVendorColonProductInHex) {
    const struct {
        const char* text;
        bool valid;
        uint16_t vendor;
        uint16_t product;
    } cases[] = {
        {"1D50:60a9", true, 0x1D50, 0x60A9},
        {"0:ffff", true, 0x0000, 0xFFFF},
        {"1d50", false, 0, 0},
        {":60a9", false, 0, 0},
        {"1d500:60a9", false, 0, 0},  // five digits
        {"1d50:60a9:1", false, 0, 0},
        {"0x1d:0x60", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<UsbDeviceId> id = UsbDeviceId::parse(c.text);
        ASSERT_EQ(id.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(id->vendor, c.vendor);
            EXPECT_EQ(id->product, c.product);
        }
    }
}

TEST(UsbDeviceId, MalformedEnvironmentFallsBackToThePlaceholders) {
    setenv("VTXPTS_USB_ID", "not-an-id", 1);
    const UsbDeviceId id = UsbDeviceId::fromEnvironment();
    unsetenv("VTXPTS_USB_ID");
    EXPECT_EQ(id.vendor, UsbDeviceId::kDefaultVendor);
    EXPECT_EQ(id.product, UsbDeviceId::kDefaultProduct);
}

// A J2534 error description is 80 characters with its terminator: a longer text would be cut
// or overrun the caller's buffer.
TEST(UsbErrorTexts, FitAnErrorDescription) {
    constexpr std::size_t kLongest = 79;
    for (int error = LIBUSB_ERROR_OTHER; error <= 0; ++error) {
        SCOPED_TRACE(error);
        EXPECT_LE(openErrorText(error).size(), kLongest);
    }
    for (const UsbDriverStatus status :
         {UsbDriverStatus::NoLibusb, UsbDriverStatus::NoDevice, UsbDriverStatus::NoPermission}) {
        EXPECT_LE(std::strlen(usbDriverStatusText(status)), kLongest);
        EXPECT_NE(std::strlen(usbDriverStatusText(status)), 0u);
    }
    EXPECT_NE(openErrorText(LIBUSB_ERROR_ACCESS).find("99-vtxpts.rules"), std::string::npos);
}

}  // namespace
}  // namespace vtx::platform
