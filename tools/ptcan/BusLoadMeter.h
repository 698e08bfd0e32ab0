// Frames per second and bus load over a measuring window. A frame's length is its nominal bit
// count without stuffing bits (47 + 8 per data byte for an 11-bit identifier, 67 + 8 per byte
// for a 29-bit one, interframe space included), as bus-load tools count it by default.
#pragma once

#include <cstdint>

#include "tools/ptcan/Frame.h"

namespace ptcan {

class BusLoadMeter {
  public:
    explicit BusLoadMeter(uint32_t bitrate) : bitrate_(bitrate) {}

    static uint32_t frameBits(const Frame& frame);

    void add(const Frame& frame);

    struct Reading {
        double framesPerSecond = 0;
        double loadPercent = 0;
    };
    // The rates over the window that lasted `seconds`; the window starts again empty.
    Reading take(double seconds);

  private:
    const uint32_t bitrate_;
    uint64_t frames_ = 0;
    uint64_t bits_ = 0;
};

}  // namespace ptcan
