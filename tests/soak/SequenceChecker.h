// Follows one stream of numbered frames (the traffic generator's, or the echoes of our own
// writes): every frame must carry the next number and intact data. A missing number is a loss,
// except where a loss is allowed:
// - after a new session (the device was unplugged): a gap before the first frame of the
//   session is expected;
// - within a window of numbers in doubt: frames that were on their way while the controller was
//   reprogrammed for a filter change, which clears its receive buffer.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace vtx::soak {

class SequenceChecker {
  public:
    // A new session: the gap before its first frame is expected.
    void newSession() { ++session_; }
    // Frames numbered first to last (inclusive) may be missing.
    void doubt(uint32_t first, uint32_t last);
    // The number the next frame should carry (0 before the first).
    uint32_t next() const { return last_ ? *last_ + 1 : 0; }
    // One frame: its number and whether its payload checked out.
    void take(uint32_t sequence, bool intact);

    uint64_t frames() const { return frames_; }
    uint64_t lost() const { return lost_; }
    uint64_t expectedGaps() const { return expectedGaps_; }
    uint64_t missingInDoubt() const { return missingInDoubt_; }
    uint64_t corrupt() const { return corrupt_; }
    uint64_t outOfOrder() const { return outOfOrder_; }

  private:
    // A gap larger than this is counted as lost without looking at the windows.
    static constexpr uint32_t kLargestCheckedGap = 100'000;

    void countGap(uint32_t first, uint32_t last);
    void reportLoss(uint32_t first, uint32_t last, uint64_t count);
    bool inDoubt(uint32_t sequence) const;

    std::optional<uint32_t> last_;
    std::deque<std::pair<uint32_t, uint32_t>> doubts_;
    uint64_t session_ = 0;
    uint64_t lastSession_ = 0;
    uint64_t frames_ = 0;
    uint64_t lost_ = 0;
    uint64_t expectedGaps_ = 0;
    uint64_t missingInDoubt_ = 0;
    uint64_t corrupt_ = 0;
    uint64_t outOfOrder_ = 0;
    int lossesReported_ = 0;
};

}  // namespace vtx::soak
