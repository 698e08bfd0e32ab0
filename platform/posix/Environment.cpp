#include <stdlib.h>

#include "platform/DynamicLibrary.h"

namespace vtx::platform {

void setEnvironment(const char* name, const char* value) {
    setenv(name, value, 1);
}

void unsetEnvironment(const char* name) {
    unsetenv(name);
}

}  // namespace vtx::platform
