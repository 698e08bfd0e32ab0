// The library's own file and the program that loaded it.
#pragma once

#include <string>

namespace vtx::platform {

// The library's own FileVersion: Windows reads it from the DLL's version resource, POSIX has
// the same text compiled in. False when it cannot be read.
bool readLibraryVersion(std::string& fileVersion);

// A function the program that loaded the library exports under that name, or nullptr.
void* hostProgramFunction(const char* name);

}  // namespace vtx::platform
