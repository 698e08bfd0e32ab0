#include "platform/posix/libusb/LibusbContext.h"

#include <libusb.h>

#include <atomic>
#include <cstdio>
#include <utility>

namespace vtx::platform {

namespace {
// The context in use: whoever acquires while it lives shares it, so that the process never has
// two. Weak: the holders decide when it ends.
std::mutex processContextMutex;
std::weak_ptr<LibusbContext> processContext;  // guarded by processContextMutex

std::atomic<bool> deviceSeen{false};

std::string devicePath(libusb_device* device) {
    char path[32];
    std::snprintf(path, sizeof path, "usb:%03u:%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return path;
}

bool deviceMatches(libusb_device* device, const UsbDeviceId& id) {
    libusb_device_descriptor descriptor{};
    return libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
           id.matches(descriptor.idVendor, descriptor.idProduct);
}

// The matching devices, each with a reference the caller releases.
std::vector<libusb_device*> matchingDevices(libusb_context* context, const UsbDeviceId& id) {
    std::vector<libusb_device*> found;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        if (deviceMatches(list[i], id)) {
            found.push_back(libusb_ref_device(list[i]));
        }
    }
    if (list != nullptr) {
        libusb_free_device_list(list, 1);
    }
    if (!found.empty()) {
        deviceSeen = true;
    }
    return found;
}

void releaseDevices(const std::vector<libusb_device*>& devices) {
    for (libusb_device* device : devices) {
        libusb_unref_device(device);
    }
}
}  // namespace

// libusb's hotplug callback, handing the event to the context it was registered for.
struct HotplugCallback {
    static int call(libusb_context* /*context*/, libusb_device* /*device*/,
                    libusb_hotplug_event event, void* userData) {
        static_cast<LibusbContext*>(userData)->noteHotplug(event ==
                                                           LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
        return 0;  // stay registered
    }
};

std::shared_ptr<LibusbContext> LibusbContext::acquire() {
    const std::lock_guard lock(processContextMutex);
    if (std::shared_ptr<LibusbContext> existing = processContext.lock()) {
        return existing;
    }
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
        return nullptr;
    }
    std::shared_ptr<LibusbContext> created(
        new LibusbContext(context, UsbDeviceId::fromEnvironment()));
    processContext = created;
    return created;
}

bool LibusbContext::matchingDeviceSeen() {
    return deviceSeen;
}

LibusbContext::LibusbContext(libusb_context* context, const UsbDeviceId& id)
    : context_(context), id_(id) {
    registerHotplug();
}

// Deregistering first: no callback may run once the context is being torn down. libusb_exit
// joins libusb's own event monitor thread.
LibusbContext::~LibusbContext() {
    if (hotplug_) {
        libusb_hotplug_deregister_callback(context_, hotplugHandle_);
    }
    libusb_exit(context_);
}

// The callback is called once per matching device already attached, before this returns, and
// afterwards from whichever thread handles libusb's events.
void LibusbContext::registerHotplug() {
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
        return;
    }
    const auto events = static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
    hotplug_ = libusb_hotplug_register_callback(context_, events, LIBUSB_HOTPLUG_ENUMERATE,
                                                id_.vendor, id_.product, LIBUSB_HOTPLUG_MATCH_ANY,
                                                &HotplugCallback::call, this,
                                                &hotplugHandle_) == LIBUSB_SUCCESS;
}

void LibusbContext::noteHotplug(bool arrived) {
    const std::lock_guard lock(mutex_);
    if (arrived) {
        ++attachedDevices_;
        deviceSeen = true;
    } else if (attachedDevices_ > 0) {
        --attachedDevices_;
    }
}

std::vector<std::string> LibusbContext::matchingPaths() {
    const std::vector<libusb_device*> devices = matchingDevices(context_, id_);
    std::vector<std::string> paths;
    for (libusb_device* device : devices) {
        paths.push_back(devicePath(device));
    }
    releaseDevices(devices);
    return paths;
}

libusb_device* LibusbContext::findDevice(const std::string& path) {
    libusb_device* chosen = nullptr;
    std::vector<libusb_device*> devices = matchingDevices(context_, id_);
    for (libusb_device*& device : devices) {
        if (chosen == nullptr && devicePath(device) == path) {
            chosen = std::exchange(device, nullptr);
        }
    }
    releaseDevices(devices);
    return chosen;
}

// With hotplug: the notifications that arrived since the last look, taken without waiting.
bool LibusbContext::anyMatchingDevicePresent() {
    if (!hotplug_) {
        return presentByEnumeration();
    }
    timeval noWait{0, 0};
    libusb_handle_events_timeout_completed(context_, &noWait, nullptr);
    const std::lock_guard lock(mutex_);
    return attachedDevices_ > 0;
}

// Without hotplug: a fresh enumeration at most every kRescanInterval, the last answer between.
bool LibusbContext::presentByEnumeration() {
    const auto now = std::chrono::steady_clock::now();
    {
        const std::lock_guard lock(mutex_);
        if (scanned_ && now - lastScan_ < kRescanInterval) {
            return lastScanFound_;
        }
    }
    const std::vector<libusb_device*> devices = matchingDevices(context_, id_);
    releaseDevices(devices);
    const std::lock_guard lock(mutex_);
    scanned_ = true;
    lastScan_ = now;
    lastScanFound_ = !devices.empty();
    return lastScanFound_;
}

}  // namespace vtx::platform
