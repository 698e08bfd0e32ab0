// VTXPTS_USB_ID: the IDs the libusb path looks for.
#include <gtest/gtest.h>

#include "platform/posix/libusb/UsbDeviceId.h"

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

}  // namespace
}  // namespace vtx::platform
