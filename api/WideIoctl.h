// PassThruIoctl as the unsigned-long exports take it: the served IOCTLs' inputs and outputs
// (configuration lists, the termination resistor's state) narrowed for the core and its answers
// widened back. Every other IOCTL's pointers go to the core as they are: it reads none of them.
#pragma once

#include <cstdint>

#include "api/NarrowCall.h"
#include "api/WideRecords.h"

namespace vtx {

class PassThru;

class WideIoctl {
  public:
    WideIoctl(uint32_t channelId, uint32_t ioctlId, void* input, void* output)
        : channelId_(channelId), ioctlId_(ioctlId), input_(input), output_(output) {}

    // Runs the IOCTL on the core, or refuses it when a value does not fit (call holds the
    // refusals of the ID arguments already).
    uint32_t run(PassThru& passThru, NarrowCall& call);

  private:
    uint32_t configure(PassThru& passThru, NarrowCall& call, bool setting);
    uint32_t setTermResistor(PassThru& passThru, NarrowCall& call);
    uint32_t getTermResistor(PassThru& passThru);
    uint32_t onCore(PassThru& passThru, void* input, void* output);

    uint32_t channelId_;
    uint32_t ioctlId_;
    void* input_;
    void* output_;
};

}  // namespace vtx
