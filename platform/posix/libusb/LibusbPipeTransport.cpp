#include "platform/posix/libusb/LibusbPipeTransport.h"

#include <libusb.h>

#include <algorithm>
#include <cstring>

namespace vtx::platform {

std::unique_ptr<LibusbPipeTransport> LibusbPipeTransport::create() {
    std::shared_ptr<LibusbContext> context = LibusbContext::acquire();
    if (!context) {
        return nullptr;
    }
    return std::make_unique<LibusbPipeTransport>(std::move(context));
}

LibusbPipeTransport::LibusbPipeTransport(std::shared_ptr<LibusbContext> context)
    : context_(std::move(context)) {}

LibusbPipeTransport::~LibusbPipeTransport() {
    close();
}

std::vector<std::string> LibusbPipeTransport::enumerateDevicePaths() {
    return context_->matchingPaths();
}

// With the device open, its node answers (one ioctl at the presence check's rate); closed, the
// context's hotplug notifications or enumeration answer.
bool LibusbPipeTransport::isDevicePresent() {
    if (handle_ == nullptr) {
        return context_->anyMatchingDevicePresent();
    }
    if (!lost_) {
        noteResult(libusb_kernel_driver_active(handle_, kInterface));
    }
    return !lost_;
}

bool LibusbPipeTransport::open(const std::string& path) {
    if (handle_ != nullptr) {
        return false;
    }
    libusb_device* device = context_->findDevice(path);
    if (device == nullptr) {
        return false;
    }
    const int opened = libusb_open(device, &handle_);
    libusb_unref_device(device);
    if (opened != LIBUSB_SUCCESS) {
        handle_ = nullptr;
        return false;
    }
    lost_ = false;
    inTimeoutMs_ = kInPipeTimeoutMs;
    surplus_.clear();
    if (!claimInterface()) {
        libusb_close(handle_);
        handle_ = nullptr;
        return false;
    }
    open_ = true;
    return true;
}

// A kernel driver bound to the interface (a generic USB serial or CAN driver, say) is detached
// first; libusb does not bind it again on release.
bool LibusbPipeTransport::claimInterface() {
    if (libusb_kernel_driver_active(handle_, kInterface) == 1) {
        if (libusb_detach_kernel_driver(handle_, kInterface) != LIBUSB_SUCCESS) {
            return false;
        }
    }
    return libusb_claim_interface(handle_, kInterface) == LIBUSB_SUCCESS;
}

bool LibusbPipeTransport::setInPipeTimeout(uint32_t ms) {
    if (handle_ == nullptr) {
        return false;
    }
    inTimeoutMs_ =
        ms == 0 ? kLongestInPipeTimeoutMs : std::min<unsigned>(ms, kLongestInPipeTimeoutMs);
    return true;
}

// A lost device's interface is not released: its node answers nothing any more.
void LibusbPipeTransport::close() {
    if (handle_ == nullptr) {
        return;
    }
    open_ = false;
    if (!lost_) {
        libusb_release_interface(handle_, kInterface);
    }
    libusb_close(handle_);
    handle_ = nullptr;
    surplus_.clear();
}

bool LibusbPipeTransport::isOpen() const {
    return open_;
}

namespace {
// Results after which the transfer's count holds: success, a timeout, the device gone mid-way.
bool movedAnything(int result) {
    return result == LIBUSB_SUCCESS || result == LIBUSB_ERROR_TIMEOUT ||
           result == LIBUSB_ERROR_NO_DEVICE;
}
}  // namespace

void LibusbPipeTransport::noteResult(int result) {
    if (result == LIBUSB_ERROR_NO_DEVICE) {
        lost_ = true;
    }
}

// What a transfer moved before it timed out or the device went counts: the device took or gave
// that much.
int LibusbPipeTransport::writePipe(const uint8_t* bytes, int length) {
    if (handle_ == nullptr || lost_ || bytes == nullptr || length <= 0) {
        return 0;
    }
    int transferred = 0;
    const int result = libusb_bulk_transfer(handle_, kOutPipe, const_cast<uint8_t*>(bytes), length,
                                            &transferred, kOutPipeTimeoutMs);
    noteResult(result);
    return movedAnything(result) ? transferred : 0;
}

int LibusbPipeTransport::readPipe(uint8_t* bytes, int length) {
    if (handle_ == nullptr || lost_ || bytes == nullptr || length <= 0) {
        return 0;
    }
    if (!surplus_.empty()) {
        return takeSurplus(bytes, length);
    }
    const int rounded = (length + kMaxPacketSize - 1) / kMaxPacketSize * kMaxPacketSize;
    readBuffer_.resize(static_cast<std::size_t>(rounded));
    int transferred = 0;
    const int result = libusb_bulk_transfer(handle_, kInPipe, readBuffer_.data(), rounded,
                                            &transferred, inTimeoutMs_);
    noteResult(result);
    if (!movedAnything(result)) {
        return 0;
    }
    surplus_.assign(readBuffer_.begin(), readBuffer_.begin() + transferred);
    return takeSurplus(bytes, length);
}

int LibusbPipeTransport::takeSurplus(uint8_t* bytes, int length) {
    const int taken = std::min<int>(length, static_cast<int>(surplus_.size()));
    std::memcpy(bytes, surplus_.data(), static_cast<std::size_t>(taken));
    surplus_.erase(surplus_.begin(), surplus_.begin() + taken);
    return taken;
}

}  // namespace vtx::platform
