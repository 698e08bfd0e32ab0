#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vtx::platform {

// A registry key opened for reading. The root is named as text, compared without regard to
// case; the library never creates keys or writes values.
class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // The standard root key of that name, or nullptr for an unknown name.
    static HKEY rootKeyByName(const std::string& rootName);

    // Opens an existing key for reading; false when the root is unknown or the key missing.
    bool open(const std::string& rootName, const std::string& subKey);
    // Reads a value of up to size bytes into value; 0 and false when not open or unreadable.
    bool readNumber(const std::string& valueName, uint32_t& value, uint32_t size);
    void close();

    bool isOpen() const { return open_; }
    LONG lastResult() const { return lastResult_; }

  private:
    HKEY handle_ = nullptr;
    HKEY root_ = nullptr;
    std::string subKey_;
    bool open_ = false;
    LONG lastResult_ = ERROR_FILE_NOT_FOUND;
};

}  // namespace vtx::platform
