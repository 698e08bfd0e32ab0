#include "platform/Clock.h"
#include "platform/DeviceServices.h"
#include "platform/ModuleServices.h"
#include "platform/ThreadServices.h"
#include "platform/TraceServices.h"

#include <pthread.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "platform/TimeConversion.h"
#include "platform/win32/DeviceRegistryKey.h"
#include "platform/win32/core/DriverStore.h"
#include "platform/win32/core/RegistryKey.h"
#include "platform/win32/core/VersionInfo.h"
#include "platform/win32/core/Win32DeviceFileTransport.h"
#include "platform/win32/core/WinUsbPipeTransport.h"
#include "trace/LogSwitch.h"

namespace vtx::platform {

namespace {
constexpr const char* kSwitchKey = kDeviceRegistryKey;
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

namespace {
// SetThreadDescription exists from Windows 10 1607 on: found at run time in kernel32, which
// every process has loaded.
using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);

SetThreadDescriptionFunction findSetThreadDescription() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return nullptr;
    }
    FARPROC address = GetProcAddress(kernel, "SetThreadDescription");
    return reinterpret_cast<SetThreadDescriptionFunction>(reinterpret_cast<void*>(address));
}
}  // namespace

// Names are short ASCII, widened character by character; where the system has no thread
// descriptions the thread stays unnamed.
void nameCurrentThread(const char* name) {
    const SetThreadDescriptionFunction describe = findSetThreadDescription();
    if (describe == nullptr) {
        return;
    }
    constexpr std::size_t kLongestName = 63;
    wchar_t wide[kLongestName + 1] = {};
    for (std::size_t i = 0; i < kLongestName && name[i] != '\0'; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    }
    describe(GetCurrentThread(), wide);
}

// A terminated thread runs no exit code of its own, so waiting for it needs no loader lock.
bool terminateThread(std::thread& thread, uint32_t waitMs) {
    if (!thread.joinable()) {
        return false;
    }
    HANDLE handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
    return handle != nullptr && TerminateThread(handle, 1) != FALSE &&
           WaitForSingleObject(handle, waitMs) == WAIT_OBJECT_0;
}

namespace {
// The thread running DllMain's process detach while it runs, else 0. Written only by that
// thread; read by any thread, which compares it with its own identity.
constinit std::atomic<DWORD> unloadingThread{0};
}  // namespace

bool insideUnloadNotification() {
    return unloadingThread.load() == GetCurrentThreadId();
}

void markUnloadNotification(bool inside) {
    unloadingThread.store(inside ? GetCurrentThreadId() : 0);
}

std::optional<uint32_t> readLogSwitch() {
    RegistryKey key;
    if (!key.open("HKEY_LOCAL_MACHINE", kSwitchKey)) {
        return std::nullopt;
    }
    uint32_t value = 0;
    if (!key.readNumber(kSwitchValue, value, sizeof value)) {
        return std::nullopt;
    }
    return value;
}

bool isDriverPackageInstalled(InterfaceType type) {
    return driverStoreHasPackage(type);
}

// The driver store says only whether a package is there.
const char* missingDriverReason(InterfaceType /*type*/) {
    return "";
}

bool readLibraryVersion(std::string& fileVersion) {
    VersionInfo info;
    if (!info.read()) {
        return false;
    }
    fileVersion = info.fileVersion;
    return true;
}

void* hostProgramFunction(const char* name) {
    HMODULE program = GetModuleHandleW(nullptr);
    return program != nullptr ? reinterpret_cast<void*>(GetProcAddress(program, name)) : nullptr;
}

std::unique_ptr<PipeTransport> createPipeTransport() {
    return std::make_unique<WinUsbPipeTransport>();
}

std::unique_ptr<DeviceFileTransport> createDeviceFileTransport() {
    return std::make_unique<Win32DeviceFileTransport>();
}

}  // namespace vtx::platform
