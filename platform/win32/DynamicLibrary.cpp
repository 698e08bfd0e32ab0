#include "platform/DynamicLibrary.h"

#include <windows.h>

namespace vtx::platform {

namespace {
std::string lastErrorText(const char* what) {
    return std::string(what) + " failed, error " + std::to_string(GetLastError());
}
}  // namespace

DynamicLibrary::~DynamicLibrary() {
    close();
}

bool DynamicLibrary::open(const std::string& path) {
    close();
    handle_ = LoadLibraryA(path.c_str());
    if (handle_ == nullptr) {
        error_ = lastErrorText("LoadLibrary");
        return false;
    }
    return true;
}

void DynamicLibrary::close() {
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

bool DynamicLibrary::isMapped(const std::string& path) {
    return GetModuleHandleA(path.c_str()) != nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void* DynamicLibrary::symbolByOrdinal(uint16_t ordinal) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

}  // namespace vtx::platform
