// Judges the samples taken after warm-up against the first of them: threads and descriptors
// must not grow at all, resident memory by no more than a small allowance (allocator noise).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tests/soak/ResourceSampler.h"

namespace vtx::soak {

class GrowthCheck {
  public:
    static constexpr int64_t kRssAllowanceKb = 4096;
    static constexpr int64_t kRssAllowancePercent = 5;

    // Takes one sample; the first one offered is the baseline.
    void add(const ResourceSample& sample);
    bool hasBaseline() const { return baseline_.has_value(); }
    // Empty while nothing grew; otherwise what grew, first offence.
    const std::string& failure() const { return failure_; }

  private:
    void judge(const ResourceSample& sample);

    std::optional<ResourceSample> baseline_;
    std::string failure_;
};

}  // namespace vtx::soak
