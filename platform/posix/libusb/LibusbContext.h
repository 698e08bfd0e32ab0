// The process's one libusb context, shared by the pipe transport and driver detection, and what
// it knows of the device's presence: hotplug notifications where libusb has them, otherwise an
// enumeration no more often than kRescanInterval.
//
// The context lives as long as someone holds it: the pipe transport holds it from its creation
// to the library's unload, driver detection only while it looks. No thread of ours runs libusb's
// events: the threads that transfer or ask for presence handle them, and libusb's own monitor
// thread ends in libusb_exit, when the last holder lets go.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/libusb/UsbDeviceId.h"

struct libusb_context;
struct libusb_device;

namespace vtx::platform {

class LibusbContext {
  public:
    // As often as the communication thread checks presence: never per poll.
    static constexpr std::chrono::milliseconds kRescanInterval{250};

    // The context in use in the process, or a new one; nullptr when libusb cannot be
    // initialised.
    static std::shared_ptr<LibusbContext> acquire();
    // A matching device has been found by this process since it loaded the library.
    static bool matchingDeviceSeen();

    ~LibusbContext();
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    libusb_context* get() const { return context_; }
    const UsbDeviceId& id() const { return id_; }

    // The paths ("usb:BUS:ADDRESS") of the matching devices, in libusb's enumeration order.
    std::vector<std::string> matchingPaths();
    // The matching device at path, with a reference the caller releases (libusb_unref_device);
    // nullptr when it is not there.
    libusb_device* findDevice(const std::string& path);
    // A matching device is attached.
    bool anyMatchingDevicePresent();

  private:
    LibusbContext(libusb_context* context, const UsbDeviceId& id);
    void registerHotplug();
    // Called by the hotplug callback: a matching device arrived, or left.
    void noteHotplug(bool arrived);
    friend struct HotplugCallback;
    bool presentByEnumeration();

    libusb_context* const context_;
    const UsbDeviceId id_;
    bool hotplug_ = false;   // written once, in the constructor
    int hotplugHandle_ = 0;  // written once, in the constructor

    std::mutex mutex_;            // guards every field below
    int attachedDevices_ = 0;     // hotplug: arrivals minus departures
    bool lastScanFound_ = false;  // no hotplug: the last enumeration's answer
    std::chrono::steady_clock::time_point lastScan_{};
    bool scanned_ = false;
};

}  // namespace vtx::platform
