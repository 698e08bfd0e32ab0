#include "platform/win32/core/RegistryKey.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vtx::platform {

namespace {
bool equalsIgnoringCase(const std::string& a, const char* b) {
    const std::string other(b);
    return a.size() == other.size() &&
           std::equal(a.begin(), a.end(), other.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}
}  // namespace

RegistryKey::~RegistryKey() {
    close();
}

HKEY RegistryKey::rootKeyByName(const std::string& rootName) {
    static const std::pair<const char*, HKEY> kRoots[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_USERS", HKEY_USERS},
        {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    };
    for (const auto& [name, key] : kRoots) {
        if (equalsIgnoringCase(rootName, name)) {
            return key;
        }
    }
    return nullptr;
}

bool RegistryKey::open(const std::string& rootName, const std::string& subKey) {
    close();
    root_ = rootKeyByName(rootName);
    subKey_ = subKey;
    if (root_ == nullptr) {
        lastResult_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    HKEY handle = nullptr;
    const LONG result = RegOpenKeyExA(root_, subKey.c_str(), 0, KEY_READ, &handle);
    lastResult_ = result;
    if (result != ERROR_SUCCESS) {
        return false;
    }
    handle_ = handle;
    open_ = true;
    return true;
}

bool RegistryKey::readNumber(const std::string& valueName, uint32_t& value, uint32_t size) {
    value = 0;
    if (!open_ || size > sizeof value) {
        return false;
    }
    DWORD length = size;
    uint32_t read = 0;
    const LONG result = RegQueryValueExA(handle_, valueName.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&read), &length);
    lastResult_ = result;
    if (result != ERROR_SUCCESS) {
        return false;
    }
    value = read;
    return true;
}

void RegistryKey::close() {
    if (open_) {
        RegCloseKey(handle_);
    }
    handle_ = nullptr;
    open_ = false;
}

}  // namespace vtx::platform
