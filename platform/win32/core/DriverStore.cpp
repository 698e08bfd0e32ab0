#include "platform/win32/core/DriverStore.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <vector>

#include "platform/DriverPackages.h"
#include "platform/win32/core/Win32Guid.h"

// Present in setupapi's import library, missing from the MinGW header.
extern "C" WINBOOL WINAPI SetupGetInfDriverStoreLocationW(PCWSTR FileName,
                                                          PSP_ALTPLATFORM_INFO AlternatePlatform,
                                                          PCWSTR LocaleName, PWSTR ReturnBuffer,
                                                          DWORD ReturnBufferSize,
                                                          PDWORD RequiredSize);

namespace vtx::platform {

namespace {
constexpr DWORD kStorePathChars = 260;

// One compatible driver: does the driver store name its INF file as the package's?
bool driverMatches(HDEVINFO set, SP_DEVINFO_DATA& device, SP_DRVINFO_DATA_W& driver,
                   std::wstring_view infName) {
    DWORD size = 0;
    if (SetupDiGetDriverInfoDetailW(set, &device, &driver, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(SP_DRVINFO_DETAIL_DATA_W)) {
        return false;
    }
    std::vector<unsigned char> buffer(size);
    auto* detail = reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    if (!SetupDiGetDriverInfoDetailW(set, &device, &driver, detail, size, nullptr)) {
        return false;
    }
    wchar_t storePath[kStorePathChars] = {};
    if (!SetupGetInfDriverStoreLocationW(detail->InfFileName, nullptr, nullptr, storePath,
                                         kStorePathChars, nullptr)) {
        return false;
    }
    return infFileNameMatches(storePath, infName);
}

bool deviceHasPackage(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring_view infName) {
    if (!SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER)) {
        return false;
    }
    bool found = false;
    SP_DRVINFO_DATA_W driver;
    driver.cbSize = sizeof driver;
    for (DWORD index = 0;
         !found && SetupDiEnumDriverInfoW(set, &device, SPDIT_COMPATDRIVER, index, &driver);
         ++index) {
        found = driverMatches(set, device, driver, infName);
    }
    SetupDiDestroyDriverInfoList(set, &device, SPDIT_COMPATDRIVER);
    return found;
}
}  // namespace

bool driverStoreHasPackage(InterfaceType type) {
    const std::wstring_view infName = driverPackageInf(type);
    if (infName.empty()) {
        return false;
    }
    const GUID classGuid = toWin32Guid(kDeviceClassGuid);
    // No flags: devices that are installed but not plugged in count as well.
    HDEVINFO set = SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool found = false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; !found && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        found = deviceHasPackage(set, device, infName);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

}  // namespace vtx::platform
