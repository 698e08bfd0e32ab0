#include "platform/posix/core/PosixDeviceFileTransport.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vtx::platform {

PosixDeviceFileTransport::~PosixDeviceFileTransport() {
    close();
}

// Unshared, as on Windows: a second opener (another process) is refused while this one holds
// the device.
bool PosixDeviceFileTransport::open() {
    if (fd_ >= 0) {
        return false;
    }
    const int fd = ::open(kDeviceNode, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool PosixDeviceFileTransport::isOpen() const {
    return fd_ >= 0;
}

int PosixDeviceFileTransport::read(uint8_t* bytes, int length) {
    if (fd_ < 0 || length <= 0) {
        return 0;
    }
    ssize_t got;
    do {
        got = ::read(fd_, bytes, static_cast<std::size_t>(length));
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<int>(got) : 0;
}

int PosixDeviceFileTransport::write(const uint8_t* bytes, int length) {
    if (fd_ < 0 || length <= 0) {
        return 0;
    }
    ssize_t put;
    do {
        put = ::write(fd_, bytes, static_cast<std::size_t>(length));
    } while (put < 0 && errno == EINTR);
    return put > 0 ? static_cast<int>(put) : 0;
}

// The driver takes one buffer for input and output, as a buffered control code does: the input
// goes in, the output comes back in the same place.
bool PosixDeviceFileTransport::controlCode(uint32_t code, const void* input, uint32_t inputLength,
                                           void* output, uint32_t outputLength) {
    if (fd_ < 0) {
        return false;
    }
    std::vector<uint8_t> buffer(std::max(inputLength, outputLength), 0);
    if (input != nullptr && inputLength != 0) {
        std::memcpy(buffer.data(), input, inputLength);
    }
    if (::ioctl(fd_, static_cast<unsigned long>(code), buffer.empty() ? nullptr : buffer.data()) <
        0) {
        return false;
    }
    if (output != nullptr && outputLength != 0) {
        std::memcpy(output, buffer.data(), outputLength);
    }
    return true;
}

void PosixDeviceFileTransport::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace vtx::platform
