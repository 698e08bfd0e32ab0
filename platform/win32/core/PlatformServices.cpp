#include "platform/PlatformServices.h"

#include <windows.h>

#include "platform/win32/core/DriverStore.h"
#include "platform/win32/core/RegistryKey.h"
#include "platform/win32/core/WinUsbPipeTransport.h"

namespace vtx::platform {

namespace {
constexpr char kSwitchKey[] = "SOFTWARE\\WOW6432Node\\PassThruSupport.04.04\\Vantrix - J2534";
constexpr char kSwitchValue[] = "EnableLog";
}  // namespace

uint32_t currentThreadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
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

// Event tracing for Windows arrives as its own back end; until then the provider does not
// register on Windows and no event is written.
std::unique_ptr<trace::TraceBackend> createTraceBackend() {
    return nullptr;
}

bool isDriverPackageInstalled(uint32_t interfaceType) {
    return driverStoreHasPackage(interfaceType);
}

std::unique_ptr<PipeTransport> createPipeTransport() {
    return std::make_unique<WinUsbPipeTransport>();
}

}  // namespace vtx::platform
