// The end-to-end suite over libusb: the emulated device, set up once for the test program before
// any test loads the library, answering with the simulated world the tests steer.
#pragma once

#include "tests/libusb/UsbDeviceEmulator.h"

namespace vtx::usbtest {

// The program's emulated device; valid while its tests run.
UsbDeviceEmulator& usbEmulator();

}  // namespace vtx::usbtest
