#include "platform/DriverPackages.h"

namespace vtx {

std::wstring_view driverPackageInf(InterfaceType type) {
    switch (type) {
        case InterfaceType::KernelDriver:
            return kKernelDriverInf;
        case InterfaceType::WinUsb:
            return kWinUsbInf;
        case InterfaceType::None:
            break;
    }
    return {};
}

bool infFileNameMatches(std::wstring_view driverStorePath, std::wstring_view infName) {
    const std::size_t slash = driverStorePath.find_last_of(L"\\/");
    const std::wstring_view fileName =
        slash == std::wstring_view::npos ? driverStorePath : driverStorePath.substr(slash + 1);
    return !infName.empty() && fileName == infName;
}

}  // namespace vtx
