#include "platform/posix/libusb/UsbDeviceId.h"

#include <charconv>
#include <cstdlib>

namespace vtx::platform {

namespace {
// One to four hexadecimal digits and nothing else.
std::optional<uint16_t> parseHexWord(std::string_view text) {
    constexpr std::size_t kLongestWord = 4;
    if (text.empty() || text.size() > kLongestWord) {
        return std::nullopt;
    }
    uint16_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}
}  // namespace

std::optional<UsbDeviceId> UsbDeviceId::parse(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<uint16_t> vendorId = parseHexWord(text.substr(0, colon));
    const std::optional<uint16_t> productId = parseHexWord(text.substr(colon + 1));
    if (!vendorId || !productId) {
        return std::nullopt;
    }
    return UsbDeviceId{*vendorId, *productId};
}

UsbDeviceId UsbDeviceId::fromEnvironment() {
    const char* value = std::getenv("VTXPTS_USB_ID");
    return value != nullptr ? parse(value).value_or(UsbDeviceId{}) : UsbDeviceId{};
}

}  // namespace vtx::platform
