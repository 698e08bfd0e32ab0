#include "platform/win32/core/Win32DeviceFileTransport.h"

namespace vtx::platform {

namespace {
constexpr wchar_t kDeviceFile[] = L"\\\\.\\VTXUSBCAN";
}  // namespace

Win32DeviceFileTransport::~Win32DeviceFileTransport() {
    close();
}

bool Win32DeviceFileTransport::open() {
    if (file_ != INVALID_HANDLE_VALUE) {
        return false;
    }
    file_ = CreateFileW(kDeviceFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

bool Win32DeviceFileTransport::isOpen() const {
    return file_ != INVALID_HANDLE_VALUE;
}

int Win32DeviceFileTransport::read(uint8_t* bytes, int length) {
    DWORD got = 0;
    if (file_ == INVALID_HANDLE_VALUE || length <= 0 ||
        !ReadFile(file_, bytes, static_cast<DWORD>(length), &got, nullptr)) {
        return 0;
    }
    return static_cast<int>(got);
}

int Win32DeviceFileTransport::write(const uint8_t* bytes, int length) {
    DWORD put = 0;
    if (file_ == INVALID_HANDLE_VALUE || length <= 0 ||
        !WriteFile(file_, bytes, static_cast<DWORD>(length), &put, nullptr)) {
        return 0;
    }
    return static_cast<int>(put);
}

bool Win32DeviceFileTransport::controlCode(uint32_t code, const void* input, uint32_t inputLength,
                                           void* output, uint32_t outputLength) {
    if (file_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD returned = 0;
    return DeviceIoControl(file_, code, const_cast<void*>(input), inputLength, output, outputLength,
                           &returned, nullptr) != FALSE;
}

void Win32DeviceFileTransport::close() {
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
}

}  // namespace vtx::platform
