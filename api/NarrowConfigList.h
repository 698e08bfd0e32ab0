// A GET_CONFIG or SET_CONFIG list as the unsigned-long exports take it, in the core's 32-bit
// records. A parameter that does not fit is one the library does not know (ERR_NOT_SUPPORTED); a
// value to set that does not fit is refused as the parameter's invalid value
// (ERR_INVALID_BAUDRATE for the bit rate, ERR_INVALID_IOCTL_VALUE otherwise).
#pragma once

#include <vector>

#include "api/NarrowCall.h"
#include "api/WideRecords.h"
#include "base/J2534.h"

namespace vtx {

class NarrowConfigList {
  public:
    enum class Values : uint8_t { ToSet, ToGet };
    NarrowConfigList(const wide::ConfigList& caller, Values values, NarrowCall& call);

    SCONFIG_LIST* list() { return &list_; }
    // GET_CONFIG: the values the core wrote, to the caller's entries. An entry whose value the
    // core left alone keeps the caller's value, however wide.
    void giveValuesTo(const wide::ConfigList& caller) const;

  private:
    std::vector<SCONFIG> entries_;
    SCONFIG_LIST list_{};
};

}  // namespace vtx
