// Whether ISO-TP frames are padded to the full 8 bytes, and with which byte.
#pragma once

#include <cstdint>

namespace vtx::isotp {

enum class PaddingMode : uint8_t {
    Off,  // frames built are as long as their content; received frames may be short
    On,   // frames built are 8 bytes; a shorter received frame is flagged as a padding fault
};

// The byte unused frame bytes are filled with when padding is on.
inline constexpr uint8_t kDefaultPadByte = 0x00;

struct FramePadding {
    PaddingMode mode = PaddingMode::Off;
    uint8_t fill = kDefaultPadByte;
};

// Whether a received frame met the padding expectation: Short when padding was expected and the
// frame carried fewer than 8 bytes.
enum class PaddingCheck : uint8_t { Fine, Short };

}  // namespace vtx::isotp
