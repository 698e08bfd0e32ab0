// Finds a J2534 library the way J2534 applications find one, through the registry, loads it and
// talks to its device: the proof that an installed library can be used.
//
//   DiscoveryProgram [--device KEY] [--dll-version TEXT] [--firmware TEXT]
//
// Looks among the devices registered under HKEY_LOCAL_MACHINE\SOFTWARE\PassThruSupport.04.04,
// in the registry view of programs of its own width (32 or 64 bits), for one that supports CAN (the
// one whose key is KEY, when given), loads its FunctionLibrary, resolves the fourteen functions by
// name, and runs: open, read version (compared with TEXT where given), connect CAN at 500 kbit/s, a
// pass filter for 0x7E8, the OBD-II request 0x7DF 02 01 0C, the engine-speed answer from 0x7E8,
// disconnect, close, unload. The exit code is 0 only when every step worked; each failure is
// printed.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/J2534.h"
#include "tests/support/CanMessage.h"
#include "tools/ptcan/PassThruLibrary.h"

namespace {

using vtx::test::canMessage;

constexpr char kPassThruSupportKey[] = "SOFTWARE\\PassThruSupport.04.04";
// The registry view of programs of this one's width, which is where the libraries it can load are
// registered: for 32-bit programs on 64-bit Windows that is SOFTWARE\WOW6432Node, for 64-bit
// programs SOFTWARE itself.
constexpr REGSAM kReadOwnView = KEY_READ | (sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
constexpr uint32_t kBitRate = 500000;
constexpr uint32_t kRequestId = 0x7DF;
constexpr uint32_t kAnswerId = 0x7E8;
constexpr DWORD kAnswerWaitMs = 2000;
constexpr uint32_t kReadTimeoutMs = 100;

struct Options {
    std::string deviceKey;
    std::optional<std::string> dllVersion;
    std::optional<std::string> firmware;
};

struct RegisteredDevice {
    std::string key;
    std::string name;
    std::string vendor;
    std::string functionLibrary;
    std::optional<DWORD> can;
};

bool fail(const std::string& what) {
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    return false;
}

std::optional<std::string> readString(HKEY key, const char* valueName) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    // One more byte: a stored string need not carry its terminating zero.
    std::vector<char> text(size + 1, '\0');
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(text.data());
}

std::optional<DWORD> readDword(HKEY key, const char* valueName) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return std::nullopt;
    }
    return value;
}

RegisteredDevice readDevice(HKEY devices, const std::string& keyName) {
    RegisteredDevice device;
    device.key = keyName;
    HKEY key = nullptr;
    if (RegOpenKeyExA(devices, keyName.c_str(), 0, kReadOwnView, &key) != ERROR_SUCCESS) {
        return device;
    }
    device.name = readString(key, "Name").value_or("");
    device.vendor = readString(key, "Vendor").value_or("");
    device.functionLibrary = readString(key, "FunctionLibrary").value_or("");
    device.can = readDword(key, "CAN");
    RegCloseKey(key);
    return device;
}

std::vector<RegisteredDevice> registeredDevices() {
    std::vector<RegisteredDevice> found;
    HKEY devices = nullptr;
    const LONG result =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPassThruSupportKey, 0, kReadOwnView, &devices);
    if (result != ERROR_SUCCESS) {
        std::fprintf(stderr, "HKEY_LOCAL_MACHINE\\%s: cannot open (error %ld)\n",
                     kPassThruSupportKey, result);
        return found;
    }
    char keyName[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof keyName;
        if (RegEnumKeyExA(devices, index, keyName, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        found.push_back(readDevice(devices, keyName));
    }
    RegCloseKey(devices);
    return found;
}

const RegisteredDevice* chooseDevice(const std::vector<RegisteredDevice>& devices,
                                     const std::string& wantedKey) {
    for (const RegisteredDevice& device : devices) {
        std::printf("registered: \"%s\" Name=\"%s\" Vendor=\"%s\" CAN=%s FunctionLibrary=\"%s\"\n",
                    device.key.c_str(), device.name.c_str(), device.vendor.c_str(),
                    device.can ? std::to_string(*device.can).c_str() : "(none)",
                    device.functionLibrary.c_str());
    }
    for (const RegisteredDevice& device : devices) {
        if ((wantedKey.empty() || device.key == wantedKey) && device.can == 1u) {
            return &device;
        }
    }
    return nullptr;
}

// A step's status: true for STATUS_NOERROR, else the failure with the library's description.
bool succeeded(ptcan::PassThruLibrary& api, const char* step, uint32_t status) {
    if (status == STATUS_NOERROR) {
        std::printf("%s: STATUS_NOERROR\n", step);
        return true;
    }
    char description[80] = {};
    api.getLastError(description);
    description[sizeof description - 1] = '\0';
    return fail(std::string(step) + ": status " + std::to_string(status) + " (" + description +
                ")");
}

bool expectText(const char* what, const char* actual, const std::optional<std::string>& expected) {
    std::printf("%s: \"%s\"\n", what, actual);
    if (actual[0] == '\0') {
        return fail(std::string(what) + " is empty");
    }
    if (expected && *expected != actual) {
        return fail(std::string(what) + " is \"" + actual + "\", expected \"" + *expected + "\"");
    }
    return true;
}

bool readVersions(ptcan::PassThruLibrary& api, uint32_t deviceId, const Options& options) {
    char firmware[80] = {};
    char dll[80] = {};
    char apiVersion[80] = {};
    if (!succeeded(api, "PassThruReadVersion",
                   api.readVersion(deviceId, firmware, dll, apiVersion))) {
        return false;
    }
    bool ok = expectText("firmware version", firmware, options.firmware);
    ok &= expectText("DLL version", dll, options.dllVersion);
    ok &= expectText("API version", apiVersion, std::string("04.04"));
    return ok;
}

uint32_t messageId(const PASSTHRU_MSG& msg) {
    return static_cast<uint32_t>(msg.Data[0]) << 24 | static_cast<uint32_t>(msg.Data[1]) << 16 |
           static_cast<uint32_t>(msg.Data[2]) << 8 | msg.Data[3];
}

bool isEngineSpeedAnswer(const PASSTHRU_MSG& msg) {
    return msg.ProtocolID == CAN && (msg.RxStatus & TX_MSG_TYPE) == 0 && msg.DataSize >= 4 + 5 &&
           messageId(msg) == kAnswerId && msg.Data[4] == 0x04 && msg.Data[5] == 0x41 &&
           msg.Data[6] == 0x0C;
}

// Reads until the engine-speed answer arrives, for at most kAnswerWaitMs.
bool awaitEngineSpeed(ptcan::PassThruLibrary& api, uint32_t channelId) {
    const ULONGLONG deadline = GetTickCount64() + kAnswerWaitMs;
    while (GetTickCount64() < deadline) {
        PASSTHRU_MSG msg{};
        uint32_t count = 1;
        const uint32_t status = api.readMsgs(channelId, &msg, &count, kReadTimeoutMs);
        if (status != STATUS_NOERROR && status != ERR_BUFFER_EMPTY && status != ERR_TIMEOUT) {
            return succeeded(api, "PassThruReadMsgs", status);
        }
        if (count == 1 && isEngineSpeedAnswer(msg)) {
            const unsigned rpm = (msg.Data[7] * 256u + msg.Data[8]) / 4u;
            std::printf("PassThruReadMsgs: answer from 0x%03X, engine speed %u rpm\n", kAnswerId,
                        rpm);
            return true;
        }
        if (count == 1) {
            std::printf("PassThruReadMsgs: other message from 0x%X, %u bytes\n", messageId(msg),
                        msg.DataSize);
        }
    }
    return fail("PassThruReadMsgs: no engine-speed answer from 0x7E8 within " +
                std::to_string(kAnswerWaitMs) + " ms");
}

bool requestEngineSpeed(ptcan::PassThruLibrary& api, uint32_t channelId) {
    PASSTHRU_MSG mask = canMessage(0x7FF, {});
    PASSTHRU_MSG pattern = canMessage(kAnswerId, {});
    uint32_t filterId = 0;
    if (!succeeded(
            api, "PassThruStartMsgFilter",
            api.startMsgFilter(channelId, PASS_FILTER, &mask, &pattern, nullptr, &filterId))) {
        return false;
    }
    // Service 01 PID 0C, padded to the eight bytes that OBD-II on CAN sends.
    PASSTHRU_MSG request = canMessage(kRequestId, {0x02, 0x01, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00});
    uint32_t count = 1;
    if (!succeeded(api, "PassThruWriteMsgs", api.writeMsgs(channelId, &request, &count, 100))) {
        return false;
    }
    if (count != 1) {
        return fail("PassThruWriteMsgs sent " + std::to_string(count) + " of 1 messages");
    }
    return awaitEngineSpeed(api, channelId);
}

bool talkOnChannel(ptcan::PassThruLibrary& api, uint32_t deviceId) {
    uint32_t channelId = 0;
    if (!succeeded(api, "PassThruConnect", api.connect(deviceId, CAN, 0, kBitRate, &channelId))) {
        return false;
    }
    const bool talked = requestEngineSpeed(api, channelId);
    const bool disconnected = succeeded(api, "PassThruDisconnect", api.disconnect(channelId));
    return talked && disconnected;
}

bool useDevice(ptcan::PassThruLibrary& api, const Options& options) {
    uint32_t deviceId = 0;
    if (!succeeded(api, "PassThruOpen", api.open(nullptr, &deviceId))) {
        return false;
    }
    const bool versions = readVersions(api, deviceId, options);
    const bool talked = talkOnChannel(api, deviceId);
    const bool closed = succeeded(api, "PassThruClose", api.close(deviceId));
    return versions && talked && closed;
}

bool useLibrary(const std::string& path, const Options& options) {
    ptcan::PassThruLibrary api;
    if (!api.load(path)) {
        return fail("loading \"" + path + "\": " + api.error());
    }
    std::printf("LoadLibraryA: \"%s\" loaded, fourteen functions resolved\n", path.c_str());
    const bool used = useDevice(api, options);
    api.unload();
    std::printf("FreeLibrary: unloaded\n");
    return used;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return fail("option " + option + " without a value");
        }
        const std::string value = argv[++i];
        if (option == "--device") {
            options.deviceKey = value;
        } else if (option == "--dll-version") {
            options.dllVersion = value;
        } else if (option == "--firmware") {
            options.firmware = value;
        } else {
            return fail("unknown option " + option);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Each step shows as it happens, even when a later one never returns.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--device KEY] [--dll-version TEXT] [--firmware TEXT]\n",
                     argv[0]);
        return 2;
    }
    const std::vector<RegisteredDevice> devices = registeredDevices();
    const RegisteredDevice* device = chooseDevice(devices, options.deviceKey);
    if (device == nullptr) {
        fail(options.deviceKey.empty()
                 ? std::string("no registered J2534 device supports CAN")
                 : "no registered J2534 device \"" + options.deviceKey + "\" that supports CAN");
        return 1;
    }
    std::printf("chosen: \"%s\"\n", device->key.c_str());
    if (device->functionLibrary.empty()) {
        fail("\"" + device->key + "\" names no FunctionLibrary");
        return 1;
    }
    if (!useLibrary(device->functionLibrary, options)) {
        return 1;
    }
    std::printf("all steps succeeded\n");
    return 0;
}
