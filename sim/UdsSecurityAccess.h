// Security access of the simulated ECU, level 01 (request seed) and 02 (send key).
//
// 27 01 answers 67 01 and a fresh 4-byte seed, never 0. 27 02 and a 4-byte key answers 67 02
// and unlocks when the key is (seed rotated left by 11 bits) XOR 0xA5C3E1F0, all big-endian
// 32-bit; a key of 0 is always wrong. Each key uses up its seed: a key with no seed asked
// before answers 7F 27 24. A wrong key answers 7F 27 35; the third wrong key in a row answers
// 7F 27 36 and shuts security access for kLockoutTime of bus time, during which every 27
// request answers 7F 27 37.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "sim/CanNode.h"

namespace vtx::sim {

class UdsSecurityAccess {
  public:
    // Where seeds come from; a source may return 0 or a seed whose key would be 0, which is
    // drawn again.
    using SeedSource = std::function<uint32_t()>;

    static constexpr uint32_t kKeyMask = 0xA5C3E1F0;
    static constexpr int kKeyRotation = 11;
    static constexpr int kWrongKeysBeforeLockout = 3;
    static constexpr std::chrono::seconds kLockoutTime{10};

    // The key that unlocks a seed.
    static uint32_t keyFor(uint32_t seed);
    // Seeds from a pseudo-random generator seeded by the system's random device.
    static SeedSource randomSeeds();

    explicit UdsSecurityAccess(SeedSource seeds);

    // The answer to a security access request (service byte onwards) at bus time now.
    std::vector<uint8_t> answer(std::span<const uint8_t> request, SimClock::time_point now);

    bool unlocked() const { return unlocked_; }
    // Locks again and forgets the seed (session change, reset). A lockout keeps running.
    void lock();

  private:
    std::vector<uint8_t> answerSeedRequest(std::span<const uint8_t> request);
    std::vector<uint8_t> answerKey(std::span<const uint8_t> request, SimClock::time_point now);
    std::vector<uint8_t> refuseKey(SimClock::time_point now);
    uint32_t drawSeed();
    bool lockedOut(SimClock::time_point now) const;

    SeedSource seeds_;
    std::optional<uint32_t> seed_;  // handed out, waiting for its key
    bool unlocked_ = false;
    int wrongKeysInARow_ = 0;
    std::optional<SimClock::time_point> lockoutEnds_;
};

}  // namespace vtx::sim
