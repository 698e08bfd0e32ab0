#include "platform/win32/core/Win32DeviceFileTransport.h"

#include <optional>

namespace vtx::platform {

namespace {

constexpr wchar_t kDeviceFile[] = L"\\\\.\\VTXUSBCAN";

// One overlapped operation on the file, waited for to its end: the bytes it moved, or nothing
// when it failed. start issues the operation with the given OVERLAPPED.
template <typename Start>
std::optional<DWORD> completeOverlapped(HANDLE file, Start start) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return std::nullopt;
    }
    DWORD moved = 0;
    // The driver answers each request in its own time (a read within its reply timeout), so the
    // wait for the result ends with the request.
    const bool started = start(&overlapped) != FALSE || GetLastError() == ERROR_IO_PENDING;
    const bool done = started && GetOverlappedResult(file, &overlapped, &moved, TRUE) != FALSE;
    CloseHandle(overlapped.hEvent);
    return done ? std::optional<DWORD>(moved) : std::nullopt;
}

}  // namespace

Win32DeviceFileTransport::~Win32DeviceFileTransport() {
    close();
}

bool Win32DeviceFileTransport::open() {
    if (file_ != INVALID_HANDLE_VALUE) {
        return false;
    }
    file_ = CreateFileW(kDeviceFile, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
}

bool Win32DeviceFileTransport::isOpen() const {
    return file_ != INVALID_HANDLE_VALUE;
}

int Win32DeviceFileTransport::read(uint8_t* bytes, int length) {
    if (file_ == INVALID_HANDLE_VALUE || length <= 0) {
        return 0;
    }
    const auto got = completeOverlapped(file_, [&](OVERLAPPED* overlapped) {
        return ReadFile(file_, bytes, static_cast<DWORD>(length), nullptr, overlapped);
    });
    return static_cast<int>(got.value_or(0));
}

int Win32DeviceFileTransport::write(const uint8_t* bytes, int length) {
    if (file_ == INVALID_HANDLE_VALUE || length <= 0) {
        return 0;
    }
    const auto put = completeOverlapped(file_, [&](OVERLAPPED* overlapped) {
        return WriteFile(file_, bytes, static_cast<DWORD>(length), nullptr, overlapped);
    });
    return static_cast<int>(put.value_or(0));
}

bool Win32DeviceFileTransport::controlCode(uint32_t code, const void* input, uint32_t inputLength,
                                           void* output, uint32_t outputLength) {
    if (file_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    return completeOverlapped(file_,
                              [&](OVERLAPPED* overlapped) {
                                  return DeviceIoControl(file_, code, const_cast<void*>(input),
                                                         inputLength, output, outputLength, nullptr,
                                                         overlapped);
                              })
        .has_value();
}

void Win32DeviceFileTransport::close() {
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
}

}  // namespace vtx::platform
