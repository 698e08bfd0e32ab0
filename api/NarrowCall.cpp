#include "api/NarrowCall.h"

#include <cstdio>

namespace vtx {

uint32_t NarrowCall::value(wide::Integer value, uint32_t statusWhenTooWide, const char* argument) {
    if (wide::fits(value)) {
        return static_cast<uint32_t>(value);
    }
    if (!refused()) {
        status_ = statusWhenTooWide;
        std::snprintf(text_, sizeof text_, "The value of %s does not fit in 32 bits", argument);
    }
    return 0;
}

uint32_t NarrowCall::bound(wide::Integer value) {
    return wide::fits(value) ? static_cast<uint32_t>(value) : UINT32_MAX;
}

}  // namespace vtx
