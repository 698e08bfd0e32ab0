// A J2534 call that failed: the call, its status and the library's own description of it
// (PassThruGetLastError), read right after the call. The tool ends with exit status 1.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ptcan {

class PassThruError : public std::runtime_error {
  public:
    PassThruError(const std::string& call, uint32_t status, const std::string& lastError);

    uint32_t status() const { return status_; }

    // The status code's name (ERR_INVALID_BAUDRATE), or its number when unknown.
    static std::string statusName(uint32_t status);

  private:
    uint32_t status_;
};

// Something the tool could not do that is no J2534 failure (no answer in time, a file that
// cannot be read): also exit status 1.
class ToolError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace ptcan
