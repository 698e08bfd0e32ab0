#include "platform/PlatformServices.h"

#include <pthread.h>
#include <windows.h>

#include <cstdlib>

#include "platform/TimeConversion.h"
#include "platform/win32/core/DriverStore.h"
#include "platform/win32/core/RegistryKey.h"
#include "platform/win32/core/VersionInfo.h"
#include "platform/win32/core/Win32DeviceFileTransport.h"
#include "platform/win32/core/WinUsbPipeTransport.h"
#include "trace/LogSwitch.h"

namespace vtx::platform {

namespace {
constexpr char kSwitchKey[] = "SOFTWARE\\WOW6432Node\\PassThruSupport.04.04\\Vantrix - J2534";
constexpr char kSwitchValue[] = "EnableLog";
}  // namespace

uint32_t currentThreadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

// Microseconds from the whole performance counter: whole seconds and the remainder are scaled
// separately, so that the product never overflows.
uint64_t monotonicMicroseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&counter) ||
        frequency.QuadPart <= 0) {
        return 0;
    }
    return ticksToMicroseconds(static_cast<uint64_t>(counter.QuadPart),
                               static_cast<uint64_t>(frequency.QuadPart));
}

void raiseCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

bool terminateThread(std::thread& thread) {
    if (!thread.joinable()) {
        return false;
    }
    HANDLE handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
    return handle != nullptr && TerminateThread(handle, 1) != FALSE;
}

std::optional<uint32_t> readLogSwitch() {
    RegistryKey key;
    if (!key.open("HKEY_LOCAL_MACHINE", kSwitchKey, false)) {
        return std::nullopt;
    }
    uint32_t value = 0;
    if (!key.readNumber(kSwitchValue, value, sizeof value)) {
        return std::nullopt;
    }
    return value;
}

bool isDriverPackageInstalled(uint32_t interfaceType) {
    return driverStoreHasPackage(interfaceType);
}

void keepLibraryLoaded() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&keepLibraryLoaded), &self);
}

bool readLibraryVersion(std::string& fileVersion) {
    VersionInfo info;
    if (!info.read()) {
        return false;
    }
    fileVersion = info.fileVersion;
    return true;
}

std::unique_ptr<PipeTransport> createPipeTransport() {
    return std::make_unique<WinUsbPipeTransport>();
}

std::unique_ptr<DeviceFileTransport> createDeviceFileTransport() {
    return std::make_unique<Win32DeviceFileTransport>();
}

}  // namespace vtx::platform
