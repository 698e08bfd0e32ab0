// The frames gen sends, as cangen makes them: the identifier, the length and the data each
// fixed, incrementing or random.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/ptcan/Frame.h"

namespace ptcan {

class FrameGenerator {
  public:
    enum class Mode : uint8_t { Fixed, Increment, Random };

    struct Settings {
        Mode idMode = Mode::Random;
        uint32_t id = 0;
        bool extended = false;
        Mode lengthMode = Mode::Random;
        uint8_t length = 8;
        Mode dataMode = Mode::Random;
        std::vector<uint8_t> data;  // the fixed data; its size is the length
    };

    // From gen's option texts: `r` random, `i` incrementing, else a hex identifier, a decimal
    // length 0..8 or hex data. None when one of them is not valid.
    static std::optional<Settings> fromText(const std::string& id, const std::string& length,
                                            const std::string& data, bool extended);

    explicit FrameGenerator(const Settings& settings);

    Frame next();

  private:
    uint32_t nextId();
    std::size_t nextLength();
    uint8_t dataByte(std::size_t index);

    Settings settings_;
    std::mt19937 random_;
    uint64_t counter_ = 0;
};

}  // namespace ptcan
