#include "tests/libusb/UsbDeviceEmulator.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vtx::usbtest {

namespace {
// How long a reap that finds nothing waits for a transfer to end before it answers EAGAIN: the
// node is a plain file, which always polls ready, so libusb asks again at once.
constexpr std::chrono::milliseconds kReapWait{2};

// A hub on bus 2 with other IDs and no node: enumerated, never to be chosen.
constexpr char kOtherDevice[] =
    "P: /devices/usb2\n"
    "E: SUBSYSTEM=usb\n"
    "E: DRIVER=usb\n"
    "E: BUSNUM=002\n"
    "E: DEVNUM=001\n"
    "E: DEVTYPE=usb_device\n"
    "A: bConfigurationValue=1\\n\n"
    "A: busnum=2\\n\n"
    "A: devnum=1\\n\n"
    "A: speed=480\\n\n"
    "H: descriptors="
    "12010002090001406b1d0200000100000001"  // device: hub 1d6b:0002
    "09021900010100e000"
    "090400000109000000"
    "0705810304000c\n";

std::string hexWord(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x", value & 0xFF, value >> 8);
    return text;
}
}  // namespace

std::string UsbDeviceEmulator::unavailableReason() {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        return "not running under umockdev's preload library (umockdev-wrapper)";
    }
    return {};
}

UsbDeviceEmulator::UsbDeviceEmulator(UsbfsUrbEngine::WorldSource world, uint16_t vendor,
                                     uint16_t product)
    : engine_(std::move(world)), vendor_(vendor), product_(product) {
    testbed_ = umockdev_testbed_new();
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbDeviceEmulator::onIoctl), this);
    g_signal_connect(handler_, "client-connected",
                     G_CALLBACK(&UsbDeviceEmulator::onClientConnected), this);
    umockdev_testbed_attach_ioctl(testbed_, kDeviceNode, handler_, nullptr);
    umockdev_testbed_add_from_string(testbed_, kOtherDevice, nullptr);
    addNode();
}

// The testbed goes first: its worker thread, which calls the handler, ends with it.
UsbDeviceEmulator::~UsbDeviceEmulator() {
    g_clear_object(&testbed_);
    g_clear_object(&handler_);
}

// The device descriptor (USB 2.0, vendor and product as given), then one configuration with
// one vendor-specific interface and its two bulk endpoints of 512 bytes.
std::string UsbDeviceEmulator::deviceDescription() const {
    return std::string(
               "P: /devices/usb1\n"
               "N: bus/usb/001/001\n"
               "E: SUBSYSTEM=usb\n"
               "E: DRIVER=usb\n"
               "E: BUSNUM=001\n"
               "E: DEVNUM=001\n"
               "E: DEVNAME=/dev/bus/usb/001/001\n"
               "E: DEVTYPE=usb_device\n"
               "A: bConfigurationValue=1\\n\n"
               "A: busnum=1\\n\n"
               "A: devnum=1\\n\n"
               "A: speed=480\\n\n"
               "H: descriptors=1201000200000040") +
           hexWord(vendor_) + hexWord(product_) +
           "000100000001"
           "090220000101008032"  // configuration 1, 32 bytes in all, one interface
           "0904000002ff000000"  // interface 0: two endpoints, vendor-specific
           "07050202000200"      // bulk OUT 0x02, 512 bytes
           "07058202000200"      // bulk IN 0x82, 512 bytes
           "\n";
}

void UsbDeviceEmulator::removeNode() {
    umockdev_testbed_uevent(testbed_, kSysPath, "remove");
    umockdev_testbed_remove_device(testbed_, kSysPath);
}

void UsbDeviceEmulator::addNode() {
    umockdev_testbed_add_from_string(testbed_, deviceDescription().c_str(), nullptr);
    umockdev_testbed_uevent(testbed_, kSysPath, "add");
}

gboolean UsbDeviceEmulator::onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                                    gpointer self) {
    return static_cast<UsbDeviceEmulator*>(self)->handleIoctl(client) ? TRUE : FALSE;
}

void UsbDeviceEmulator::onClientConnected(UMockdevIoctlBase* /*handler*/,
                                          UMockdevIoctlClient* /*client*/, gpointer self) {
    static_cast<UsbDeviceEmulator*>(self)->engine_.forgetClaim();
}

// What the kernel's usbdevfs answers for the calls libusb makes on a bulk device; any other
// request falls to umockdev's default (ENOTTY). A device that lost its power answers ENODEV.
bool UsbDeviceEmulator::handleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            reportCapabilities(client);
            return true;
        case USBDEVFS_CLAIMINTERFACE:
            umockdev_ioctl_client_complete(client, engine_.claim() ? 0 : -1, ENODEV);
            return true;
        case USBDEVFS_RELEASEINTERFACE:
            engine_.release();
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_GETDRIVER:
            umockdev_ioctl_client_complete(client, -1, engine_.alive() ? ENODATA : ENODEV);
            return true;
        case USBDEVFS_SUBMITURB:
            submitUrb(client);
            return true;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            reapUrb(client);
            return true;
        case USBDEVFS_DISCARDURB:
            discardUrb(client);
            return true;
        default:
            return false;
    }
}

void UsbDeviceEmulator::reportCapabilities(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
    const uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                           USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
    std::memcpy(caps->data, &value, sizeof value);
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(caps);
}

// The URB and its buffer are copied from the client; the URB's record (its resolved copy) is
// kept until it is reaped, when the results go back through it.
void UsbDeviceEmulator::submitUrb(UMockdevIoctlClient* client) {
    if (!engine_.alive()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* record = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(record->data);
    if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0) {
        umockdev_ioctl_data_unref(record);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        record, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
    auto emulated = std::make_shared<EmulatedUrb>();
    emulated->clientAddress = record->client_addr;
    emulated->in = (urb->endpoint & 0x80) != 0;
    emulated->length = urb->buffer_length;
    if (!emulated->in && buffer != nullptr) {
        emulated->data.assign(buffer->data, buffer->data + buffer->data_len);
    }
    if (buffer != nullptr) {
        umockdev_ioctl_data_unref(buffer);  // the record keeps it
    }
    emulated->token = record;
    engine_.submit(emulated);
    umockdev_ioctl_client_complete(client, 0, 0);
}

// The reaped URB's status, length and (IN) data are written into its record, whose address
// goes back to the client: the client's URB and buffer are updated as the call completes.
void UsbDeviceEmulator::reapUrb(UMockdevIoctlClient* client) {
    const std::shared_ptr<EmulatedUrb> done = engine_.reap(kReapWait);
    if (!done) {
        umockdev_ioctl_client_complete(client, -1, engine_.alive() ? EAGAIN : ENODEV);
        return;
    }
    auto* record = static_cast<UMockdevIoctlData*>(done->token);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(record->data);
    urb->status = done->status;
    urb->actual_length = done->actualLength;
    if (done->in && done->actualLength > 0) {
        std::memcpy(urb->buffer, done->data.data(), static_cast<std::size_t>(done->actualLength));
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, record);
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(pointer);
    umockdev_ioctl_data_unref(record);
}

void UsbDeviceEmulator::discardUrb(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    unsigned long address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    umockdev_ioctl_client_complete(client, engine_.discard(address) ? 0 : -1, EINVAL);
}

}  // namespace vtx::usbtest
