#include "platform/Clock.h"
#include "platform/DeviceServices.h"
#include "platform/ModuleServices.h"
#include "platform/ThreadServices.h"
#include "platform/TraceServices.h"

#include <dlfcn.h>
#include <pthread.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/LibraryVersion.h"
#include "platform/posix/core/PosixDeviceFileTransport.h"
#if VTX_WITH_LIBUSB
#include "platform/posix/libusb/LibusbPipeTransport.h"
#include "platform/posix/libusb/UsbDriverStatus.h"
#endif
#include "trace/JsonLinesSession.h"
#include "trace/LogSwitch.h"

namespace vtx::platform {

namespace {
const char* environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}
}  // namespace

uint32_t currentThreadId() {
    return static_cast<uint32_t>(gettid());
}

uint64_t monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

// Raising a thread's priority needs privileges a library cannot assume on Linux; the thread
// keeps the default scheduling. What it can have is timed waits that end on time: Linux lets a
// timer run late by the thread's slack, 50 us by default, which would add to every separation
// time the thread keeps between frames.
void raiseCurrentThreadPriority() {
#ifdef __linux__
    constexpr unsigned long kTimerSlackNs = 1000;
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
#endif
}

// Linux refuses names longer than 15 characters, so a longer one is cut to fit.
void nameCurrentThread(const char* name) {
#ifdef __linux__
    constexpr std::size_t kLongestName = 15;
    char shortened[kLongestName + 1] = {};
    std::strncpy(shortened, name, kLongestName);
    pthread_setname_np(pthread_self(), shortened);
#else
    (void)name;
#endif
}

bool terminateThread(std::thread& /*thread*/, uint32_t /*waitMs*/) {
    return false;
}

// A shared object's destructor may join threads: their exit does not wait for the dynamic
// loader.
bool insideUnloadNotification() {
    return false;
}

void markUnloadNotification(bool /*inside*/) {}

std::optional<uint32_t> readLogSwitch() {
    return trace::parseLogSwitch(environmentValue("VTXPTS_ENABLELOG"));
}

std::unique_ptr<trace::TraceBackend> createTraceBackend() {
    const uint8_t level =
        trace::parseSessionLevel(environmentValue("VTXPTS_TRACE_LEVEL"), trace::kLevelVerbose);
    return std::make_unique<trace::JsonLinesSession>(environmentValue("VTXPTS_TRACE"), level);
}

namespace {
// Where the kernel driver publishes the device on Linux.
constexpr char kKernelDriverNode[] = "/dev/vtxusbcan";
}  // namespace

bool isDriverPackageInstalled(InterfaceType type) {
    if (type == InterfaceType::KernelDriver) {
        std::error_code error;
        return std::filesystem::exists(kKernelDriverNode, error);
    }
#if VTX_WITH_LIBUSB
    // The WinUSB path reaches the device through libusb.
    return type == InterfaceType::WinUsb && usbDriverStatus() == UsbDriverStatus::Installed;
#else
    // Built without libusb: the WinUSB path has no transport here.
    return false;
#endif
}

const char* missingDriverReason(InterfaceType type) {
#if VTX_WITH_LIBUSB
    if (type == InterfaceType::WinUsb) {
        return usbDriverStatusText(usbDriverStatus());
    }
#endif
    (void)type;
    return "";
}

void* hostProgramFunction(const char* name) {
    return dlsym(RTLD_DEFAULT, name);
}

std::unique_ptr<PipeTransport> createPipeTransport() {
#if VTX_WITH_LIBUSB
    return LibusbPipeTransport::create();
#else
    return nullptr;
#endif
}

bool readLibraryVersion(std::string& fileVersion) {
    fileVersion = VTX_VERSION_STRING;
    return true;
}

std::unique_ptr<DeviceFileTransport> createDeviceFileTransport() {
    return std::make_unique<PosixDeviceFileTransport>();
}

}  // namespace vtx::platform
