#include <stdlib.h>
#include <windows.h>

#include "platform/DynamicLibrary.h"

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

}  // namespace vtx::platform
