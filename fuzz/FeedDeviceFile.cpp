#include "fuzz/FeedDeviceFile.h"

namespace vtx::fuzz {

bool FeedDeviceFile::open() {
    open_ = true;
    return true;
}

int FeedDeviceFile::read(uint8_t* bytes, int length) {
    return open_ ? feed_.read(bytes, length) : 0;
}

int FeedDeviceFile::write(const uint8_t*, int length) {
    return open_ ? length : 0;
}

bool FeedDeviceFile::controlCode(uint32_t, const void*, uint32_t, void*, uint32_t) {
    return open_;
}

}  // namespace vtx::fuzz
