// The descriptor by which Linux J2534 clients find a pass-thru device: one JSON file per device,
// in the user's ~/.passthru/ and in /etc/passthru/, naming the device, its vendor, the library to
// load (FUNCTION_LIB) and, as true or false, the protocols it supports (CAN, ISO15765, ...).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace examples {

struct DeviceDescriptor {
    std::filesystem::path file;  // where it was read
    std::string name;
    std::string vendor;
    std::string functionLibrary;
    std::vector<std::string> protocols;  // the keys whose value is true, in file order

    // The descriptor in one JSON object; nothing, with error set, when the text is not a JSON
    // object or names no library.
    static std::optional<DeviceDescriptor> parse(std::string_view json, std::string& error);

    // The folders a client scans, in order: ~/.passthru (when HOME is set), then /etc/passthru.
    static std::vector<std::filesystem::path> standardFolders();

    // Every *.json file of the folders, in file-name order within a folder. A file whose name
    // an earlier folder already gave is left out, so a user's copy overrides the system's.
    // Files that cannot be read or parsed are left out and reported in problems.
    static std::vector<DeviceDescriptor> scan(const std::vector<std::filesystem::path>& folders,
                                              std::vector<std::string>& problems);
};

}  // namespace examples
