#include "tests/soak/ResourceSampler.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace vtx::soak {

ResourceSample ResourceSampler::sample() {
    return ResourceSample{statusField("VmRSS:"), statusField("Threads:"), openDescriptors()};
}

int64_t ResourceSampler::statusField(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == name) {
            int64_t value = -1;
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

// The entries of /proc/self/fd, less the one the listing itself holds open.
int64_t ResourceSampler::openDescriptors() {
    std::error_code error;
    int64_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return error ? -1 : count - 1;
}

}  // namespace vtx::soak
