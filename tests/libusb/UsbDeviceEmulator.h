// The device on an emulated USB bus: a umockdev testbed with the device's sysfs entry (its
// descriptors: one interface, bulk OUT 0x02 and IN 0x82) and its usbdevfs node, whose ioctls are
// answered here; a second device with other IDs beside it, which the library must pass over.
// libusb in a process that runs under umockdev's preload library (umockdev-wrapper) and has
// UMOCKDEV_DIR pointing at the testbed finds the device there, in this process or a child.
#pragma once

#include <umockdev.h>

#include <cstdint>
#include <string>

#include "tests/libusb/UsbfsUrbEngine.h"

namespace vtx::usbtest {

class UsbDeviceEmulator {
  public:
    static constexpr char kSysPath[] = "/sys/devices/usb1";
    static constexpr char kDeviceNode[] = "/dev/bus/usb/001/001";

    // Why the emulation cannot run in this process; empty when it can.
    static std::string unavailableReason();

    UsbDeviceEmulator(UsbfsUrbEngine::WorldSource world, uint16_t vendor, uint16_t product);
    ~UsbDeviceEmulator();
    UsbDeviceEmulator(const UsbDeviceEmulator&) = delete;
    UsbDeviceEmulator& operator=(const UsbDeviceEmulator&) = delete;

    // The node goes, with a "remove" uevent, as when the cable is pulled; and comes back.
    void removeNode();
    void addNode();

  private:
    static gboolean onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    static void onClientConnected(UMockdevIoctlBase* handler, UMockdevIoctlClient* client,
                                  gpointer self);
    bool handleIoctl(UMockdevIoctlClient* client);
    void submitUrb(UMockdevIoctlClient* client);
    void reapUrb(UMockdevIoctlClient* client);
    void discardUrb(UMockdevIoctlClient* client);
    void reportCapabilities(UMockdevIoctlClient* client);
    std::string deviceDescription() const;

    UsbfsUrbEngine engine_;  // declared first: it outlives the handler that feeds it
    const uint16_t vendor_;
    const uint16_t product_;
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
};

}  // namespace vtx::usbtest
