#pragma once

namespace vtx {

// A connected CAN channel with its filters, periodic messages and receive queue. The PassThru
// object owns the channels in its list.
class Channel {
  public:
    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
};

}  // namespace vtx
