#pragma once

#include <string>

namespace vtx::platform {

// The string entries of the library's own version resource, each empty until read.
struct VersionInfo {
    std::string fileVersion;
    std::string fileDescription;
    std::string companyName;
    std::string legalCopyright;
    std::string internalName;
    std::string originalFilename;
    std::string comments;  // the maker's web address

    // Reads the entries of the first translation of the module that holds this code. False when
    // the module, its file, its version block or its translation list cannot be had; a missing
    // entry only stays empty.
    bool read();
};

}  // namespace vtx::platform
