// Loads a shared library or DLL by path and resolves its functions: what a J2534 application
// does with the library. Used by the tools and the tests, never by the library itself.
#pragma once

#include <cstdint>
#include <string>

namespace vtx::platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool open(const std::string& path);
    void close();
    bool isOpen() const { return handle_ != nullptr; }

    void* symbol(const char* name) const;
    // Windows only: the export with that ordinal; nullptr elsewhere.
    void* symbolByOrdinal(uint16_t ordinal) const;

    // Whether the library at that path is mapped into the process (without loading it).
    static bool isMapped(const std::string& path);

    // What the system said about the last failure.
    const std::string& error() const { return error_; }

  private:
    void* handle_ = nullptr;
    std::string error_;
};

// Process environment, for tests and tools that choose the library's settings before loading.
void setEnvironment(const char* name, const char* value);
void unsetEnvironment(const char* name);

// The library's log switch as the next load reads it: the environment variable VTXPTS_ENABLELOG
// on POSIX, the registry value EnableLog in the 32-bit view on Windows (a number is written as
// REG_DWORD, other text as a string the library cannot read as a number). A null value removes
// it. False when it could not be written.
bool setLogSwitch(const char* value);

}  // namespace vtx::platform
