// The process's own footprint, read from /proc/self: resident memory, threads, open descriptors.
#pragma once

#include <cstdint>

namespace vtx::soak {

struct ResourceSample {
    int64_t rssKb = -1;
    int64_t threads = -1;
    int64_t descriptors = -1;
};

class ResourceSampler {
  public:
    static ResourceSample sample();

  private:
    // A "Name:   value" line of /proc/self/status; -1 when absent.
    static int64_t statusField(const char* name);
    static int64_t openDescriptors();
};

}  // namespace vtx::soak
