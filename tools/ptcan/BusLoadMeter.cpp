#include "tools/ptcan/BusLoadMeter.h"

namespace ptcan {

namespace {
constexpr uint32_t kStandardFrameBits = 47;
constexpr uint32_t kExtendedFrameBits = 67;
constexpr uint32_t kBitsPerByte = 8;
}  // namespace

uint32_t BusLoadMeter::frameBits(const Frame& frame) {
    const uint32_t overhead = frame.extended ? kExtendedFrameBits : kStandardFrameBits;
    return overhead + kBitsPerByte * static_cast<uint32_t>(frame.data.size());
}

void BusLoadMeter::add(const Frame& frame) {
    ++frames_;
    bits_ += frameBits(frame);
}

BusLoadMeter::Reading BusLoadMeter::take(double seconds) {
    Reading reading;
    if (seconds > 0) {
        reading.framesPerSecond = static_cast<double>(frames_) / seconds;
        reading.loadPercent = 100.0 * static_cast<double>(bits_) / (seconds * bitrate_);
    }
    frames_ = 0;
    bits_ = 0;
    return reading;
}

}  // namespace ptcan
