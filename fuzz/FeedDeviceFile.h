// A kernel driver's device file whose device is always there and answers every read from a
// reply feed; writes are taken whole and forgotten, every control code succeeds.
#pragma once

#include "fuzz/ReplyFeed.h"
#include "platform/DeviceFileTransport.h"

namespace vtx::fuzz {

class FeedDeviceFile : public DeviceFileTransport {
  public:
    explicit FeedDeviceFile(ReplyFeed& feed) : feed_(feed) {}

    bool open() override;
    bool isOpen() const override { return open_; }
    int read(uint8_t* bytes, int length) override;
    int write(const uint8_t*, int length) override;
    bool controlCode(uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength) override;
    void close() override { open_ = false; }

  private:
    ReplyFeed& feed_;
    bool open_ = false;
};

}  // namespace vtx::fuzz
