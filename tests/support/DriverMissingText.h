// What an open without a driver answers: the plain text, or where the platform can tell what is
// missing (libusb on POSIX: no libusb, no device, no permission), a text that says so.
#pragma once

#include <string>

namespace vtx::test {

inline bool saysDriverMissing(const std::string& text) {
    return text == "The communication interface driver is not installed" ||
           text.rfind("The interface driver is not installed: ", 0) == 0;
}

}  // namespace vtx::test
