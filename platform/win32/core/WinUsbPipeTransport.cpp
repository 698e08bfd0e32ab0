#include "platform/win32/core/WinUsbPipeTransport.h"

// clang-format off
#include <setupapi.h>
// clang-format on

#include "platform/DriverPackages.h"
#include "platform/win32/core/Win32Guid.h"

namespace vtx::platform {

namespace {
std::string toUtf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

std::wstring toWide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, result.data(), size);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

// The device path of one interface; empty when its detail cannot be read.
std::string interfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return {};
    }
    std::vector<unsigned char> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) {
        return {};
    }
    return toUtf8(detail->DevicePath);
}
}  // namespace

WinUsbPipeTransport::~WinUsbPipeTransport() {
    close();
}

std::vector<std::string> WinUsbPipeTransport::enumerateDevicePaths() {
    std::vector<std::string> paths;
    const GUID interfaceGuid = toWin32Guid(kWinUsbInterfaceGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&interfaceGuid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceGuid, index, &data);
         ++index) {
        std::string path = interfacePath(set, data);
        if (!path.empty()) {
            paths.push_back(std::move(path));
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

bool WinUsbPipeTransport::isDevicePresent() {
    const GUID classGuid = toWin32Guid(kDeviceClassGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    const bool present = SetupDiEnumDeviceInfo(set, 0, &device) != FALSE;
    SetupDiDestroyDeviceInfoList(set);
    return present;
}

bool WinUsbPipeTransport::open(const std::string& path) {
    if (file_ != INVALID_HANDLE_VALUE) {
        return false;
    }
    const std::wstring widePath = toWide(path);
    file_ = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    WINUSB_INTERFACE_HANDLE handle = nullptr;
    if (!WinUsb_Initialize(file_, &handle)) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        return false;
    }
    winusb_ = handle;
    return true;
}

bool WinUsbPipeTransport::setInPipeTimeout(uint32_t ms) {
    const WINUSB_INTERFACE_HANDLE handle = winusb_;
    if (handle == nullptr) {
        return false;
    }
    ULONG value = ms;
    return WinUsb_SetPipePolicy(handle, kInPipe, PIPE_TRANSFER_TIMEOUT, sizeof value, &value) !=
           FALSE;
}

void WinUsbPipeTransport::close() {
    if (const WINUSB_INTERFACE_HANDLE handle = winusb_.exchange(nullptr); handle != nullptr) {
        WinUsb_Free(handle);
    }
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
}

bool WinUsbPipeTransport::isOpen() const {
    return winusb_ != nullptr;
}

// Synchronous transfers: no overlapped structure, although the file was opened for overlapped
// use, as WinUSB allows.
int WinUsbPipeTransport::writePipe(const uint8_t* bytes, int length) {
    ULONG transferred = 0;
    const WINUSB_INTERFACE_HANDLE handle = winusb_;
    if (handle == nullptr || !WinUsb_WritePipe(handle, kOutPipe, const_cast<PUCHAR>(bytes),
                                               static_cast<ULONG>(length), &transferred, nullptr)) {
        return 0;
    }
    return static_cast<int>(transferred);
}

int WinUsbPipeTransport::readPipe(uint8_t* bytes, int length) {
    ULONG transferred = 0;
    const WINUSB_INTERFACE_HANDLE handle = winusb_;
    if (handle == nullptr || !WinUsb_ReadPipe(handle, kInPipe, bytes, static_cast<ULONG>(length),
                                              &transferred, nullptr)) {
        return 0;
    }
    return static_cast<int>(transferred);
}

}  // namespace vtx::platform
