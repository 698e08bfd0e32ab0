// An open J2534 device: PassThruOpen on construction, PassThruClose when it goes, on every
// path out of a command (an exception, Ctrl-C or the normal end).
#pragma once

#include <cstdint>
#include <string>

#include "tools/ptcan/PassThruLibrary.h"

namespace ptcan {

class PassThruDevice {
  public:
    // Throws PassThruError when the device does not open.
    explicit PassThruDevice(PassThruLibrary& library);
    ~PassThruDevice();
    PassThruDevice(const PassThruDevice&) = delete;
    PassThruDevice& operator=(const PassThruDevice&) = delete;

    // PassThruClose now, once (the destructor does it otherwise); false, reported on stderr,
    // when it failed.
    bool close();

    uint32_t id() const { return id_; }
    PassThruLibrary& library() { return library_; }

    // Throws PassThruError (with PassThruGetLastError's text) unless status is STATUS_NOERROR.
    void check(const std::string& call, uint32_t status);
    // PassThruGetLastError's text for the last call.
    std::string lastError();

    struct Versions {
        std::string firmware;
        std::string library;
        std::string api;
    };
    Versions versions();

  private:
    PassThruLibrary& library_;
    uint32_t id_ = 0;
    bool open_ = false;
};

}  // namespace ptcan
