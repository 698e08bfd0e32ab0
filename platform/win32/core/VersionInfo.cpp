#include "platform/win32/core/VersionInfo.h"

// clang-format off
#include <windows.h>
#include <winver.h>
// clang-format on

#include <cstdio>
#include <vector>

namespace vtx::platform {

namespace {
constexpr DWORD kPathChars = 260;

struct Translation {
    WORD language;
    WORD codePage;
};

std::string queryEntry(const std::vector<unsigned char>& block, const Translation& translation,
                       const char* key) {
    char path[96];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation.language,
                  translation.codePage, key);
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path, reinterpret_cast<void**>(&value), &length) ||
        value == nullptr) {
        return {};
    }
    return std::string(value);
}
}  // namespace

bool VersionInfo::read() {
    *this = VersionInfo{};
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&queryEntry), &module)) {
        return false;
    }
    wchar_t fileName[kPathChars] = {};
    if (GetModuleFileNameW(module, fileName, kPathChars) == 0) {
        return false;
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(fileName, &handle);
    if (size == 0) {
        return false;
    }
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(fileName, 0, size, block.data())) {
        return false;
    }
    Translation* translations = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translations), &length) ||
        translations == nullptr || length < sizeof(Translation)) {
        return false;
    }
    const Translation first = translations[0];
    fileVersion = queryEntry(block, first, "FileVersion");
    fileDescription = queryEntry(block, first, "FileDescription");
    companyName = queryEntry(block, first, "CompanyName");
    legalCopyright = queryEntry(block, first, "LegalCopyright");
    internalName = queryEntry(block, first, "InternalName");
    originalFilename = queryEntry(block, first, "OriginalFilename");
    comments = queryEntry(block, first, "Comments");
    return true;
}

}  // namespace vtx::platform
