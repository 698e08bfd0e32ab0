#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "platform/DynamicLibrary.h"
#include "platform/win32/DeviceRegistryKey.h"

namespace vtx::platform {

// Both the C runtime's copy (getenv) and the process environment block (what a DLL's own
// runtime reads at load) are set.
void setEnvironment(const char* name, const char* value) {
    _putenv_s(name, value);
    SetEnvironmentVariableA(name, value);
}

void unsetEnvironment(const char* name) {
    _putenv_s(name, "");
    SetEnvironmentVariableA(name, nullptr);
}

namespace {
constexpr const char* kSwitchKey = kDeviceRegistryKey;
// The key's path is the one the native (64-bit) view shows: a 32-bit build names the
// WOW6432Node path itself, so it writes through the 64-bit view. Through the 32-bit view, 32-bit
// Wine nests that path once more and the switch lands where the library never looks.
constexpr REGSAM kRegistryView = KEY_WOW64_64KEY;

bool parseNumber(const char* text, DWORD& number) {
    char* end = nullptr;
    const unsigned long value = strtoul(text, &end, 0);
    number = static_cast<DWORD>(value);
    return *text != '\0' && *end == '\0';
}
}  // namespace

bool setLogSwitch(const char* value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSwitchKey, 0, nullptr, 0,
                        KEY_SET_VALUE | kRegistryView, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG result;
    DWORD number = 0;
    if (value == nullptr) {
        result = RegDeleteValueA(key, "EnableLog");
        result = result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
    } else if (parseNumber(value, number)) {
        result = RegSetValueExA(key, "EnableLog", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), sizeof number);
    } else {
        result = RegSetValueExA(key, "EnableLog", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                static_cast<DWORD>(strlen(value) + 1));
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

}  // namespace vtx::platform
