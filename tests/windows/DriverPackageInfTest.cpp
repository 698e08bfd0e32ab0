// The driver packages' INF files carry exactly the identities that the library looks for:
// the device setup class, the WinUSB device interface class and the INF file names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <regex>
#include <set>
#include <string>

#include "EmbeddedTexts.h"
#include "platform/DriverPackages.h"

namespace {

using vtx::DeviceGuid;

// The registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case.
std::string guidText(const DeviceGuid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0],
                  guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                  guid.data4[6], guid.data4[7]);
    return text;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string narrow(std::wstring_view text) {
    return std::string(text.begin(), text.end());
}

// Every GUID written anywhere in the text, comments included, upper case.
std::set<std::string> guidsIn(const std::string& text) {
    const std::regex guid(
        "\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}");
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), guid);
         it != std::sregex_iterator(); ++it) {
        found.insert(upper(it->str()));
    }
    return found;
}

// The value of the first "key = value" line of the text, without comment and spaces; the key
// compared without regard to case, as INF files are read.
std::string directive(const std::string& text, const std::string& key) {
    const std::regex line("^[ \\t]*" + key + "[ \\t]*=[ \\t]*([^;\\r\\n]*)",
                          std::regex::icase | std::regex::multiline);
    std::smatch match;
    if (!std::regex_search(text, match, line)) {
        return {};
    }
    std::string value = match[1].str();
    value.erase(value.find_last_not_of(" \t") + 1);
    return value;
}

struct Package {
    const char* fileName;
    std::wstring_view libraryName;
    const char* text;
    std::set<std::string> guids;
};

std::vector<Package> packages() {
    const std::string deviceClass = guidText(vtx::kDeviceClassGuid);
    const std::string winUsbInterface = guidText(vtx::kWinUsbInterfaceGuid);
    return {
        {vtx::test::kWinUsbInfName,
         vtx::kWinUsbInf,
         vtx::test::kWinUsbInfText,
         {deviceClass, winUsbInterface}},
        {vtx::test::kKernelDriverInfName,
         vtx::kKernelDriverInf,
         vtx::test::kKernelDriverInfText,
         {deviceClass}},
    };
}

TEST(DriverPackageInf, GuidTextIsTheRegistryForm) {
    const DeviceGuid guid = {
        0x0102A3B4, 0x05C6, 0x07D8, {0x09, 0xE0, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x6E}};
    EXPECT_EQ(guidText(guid), "{0102A3B4-05C6-07D8-09E0-1F2A3B4C5D6E}");
    EXPECT_EQ(guidsIn("a {0102a3b4-05c6-07d8-09e0-1f2a3b4c5d6e} b {1-2-3-4-5}"),
              std::set<std::string>{"{0102A3B4-05C6-07D8-09E0-1F2A3B4C5D6E}"});
}

TEST(DriverPackageInf, FileNamesAreThoseTheLibraryLooksFor) {
    for (const Package& package : packages()) {
        EXPECT_EQ(package.fileName, narrow(package.libraryName));
    }
}

TEST(DriverPackageInf, CarriesExactlyTheGuidsOfTheLibrary) {
    for (const Package& package : packages()) {
        EXPECT_EQ(guidsIn(package.text), package.guids) << package.fileName;
    }
}

TEST(DriverPackageInf, InstallsUnderTheDeviceClass) {
    const std::string deviceClass = guidText(vtx::kDeviceClassGuid);
    std::set<std::string> classNames;
    for (const Package& package : packages()) {
        EXPECT_EQ(directive(package.text, "Signature"), "\"$Windows NT$\"") << package.fileName;
        EXPECT_EQ(upper(directive(package.text, "ClassGuid")), deviceClass) << package.fileName;
        classNames.insert(directive(package.text, "Class"));
    }
    // One setup class has one name: both packages must agree on it.
    EXPECT_EQ(classNames.size(), 1u);
    EXPECT_FALSE(classNames.begin()->empty());
}

TEST(DriverPackageInf, WinUsbPackageRegistersTheInterfaceClass) {
    const std::string text = vtx::test::kWinUsbInfText;
    EXPECT_EQ(directive(text, "Include"), "winusb.inf");
    EXPECT_EQ(directive(text, "Needs"), "WINUSB.NT");
    const std::string interfaceLine =
        "HKR,,DeviceInterfaceGUIDs,0x10000,\"" + guidText(vtx::kWinUsbInterfaceGuid) + "\"";
    EXPECT_NE(upper(text).find(upper(interfaceLine)), std::string::npos);
}

TEST(DriverPackageInf, KernelPackageNamesItsDriverBinary) {
    const std::string text = vtx::test::kKernelDriverInfText;
    EXPECT_EQ(directive(text, "AddService"), "vtxusbcan, 0x00000002, UsbCan_Service");
    EXPECT_EQ(directive(text, "ServiceBinary"), "%13%\\vtxusbcan.sys");
    EXPECT_EQ(directive(text, "ServiceType"), "1");
    EXPECT_NE(text.find("STUB"), std::string::npos);
}

}  // namespace
