// A pipe transport whose device is always there and answers every IN read from a reply feed;
// what the host writes on the OUT pipe is taken whole and forgotten.
#pragma once

#include <string>
#include <vector>

#include "fuzz/ReplyFeed.h"
#include "platform/PipeTransport.h"

namespace vtx::fuzz {

class FeedPipeTransport : public PipeTransport {
  public:
    explicit FeedPipeTransport(ReplyFeed& feed) : feed_(feed) {}

    std::vector<std::string> enumerateDevicePaths() override;
    bool isDevicePresent() override { return true; }
    bool open(const std::string& path) override;
    bool setInPipeTimeout(uint32_t) override { return true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    int writePipe(const uint8_t*, int length) override;
    int readPipe(uint8_t* bytes, int length) override;

  private:
    ReplyFeed& feed_;
    bool open_ = false;
};

}  // namespace vtx::fuzz
