#include <stdlib.h>

#include "platform/DynamicLibrary.h"

namespace vtx::platform {

void setEnvironment(const char* name, const char* value) {
    setenv(name, value, 1);
}

void unsetEnvironment(const char* name) {
    unsetenv(name);
}

bool setLogSwitch(const char* value) {
    return value != nullptr ? setenv("VTXPTS_ENABLELOG", value, 1) == 0
                            : unsetenv("VTXPTS_ENABLELOG") == 0;
}

}  // namespace vtx::platform
