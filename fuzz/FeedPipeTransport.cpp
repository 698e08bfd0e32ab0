#include "fuzz/FeedPipeTransport.h"

namespace vtx::fuzz {

namespace {
constexpr char kDevicePath[] = "\\\\?\\usb#fuzzed";
}  // namespace

std::vector<std::string> FeedPipeTransport::enumerateDevicePaths() {
    return {kDevicePath};
}

bool FeedPipeTransport::open(const std::string& path) {
    open_ = path == kDevicePath;
    return open_;
}

int FeedPipeTransport::writePipe(const uint8_t*, int length) {
    return open_ ? length : 0;
}

int FeedPipeTransport::readPipe(uint8_t* bytes, int length) {
    return open_ ? feed_.read(bytes, length) : 0;
}

}  // namespace vtx::fuzz
