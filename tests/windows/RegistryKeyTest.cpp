// The registry key reader of the log switch, against the real registry (under Wine for the
// Windows build): the root-name table, failures, and values the test writes itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/win32/core/RegistryKey.h"

namespace {

using vtx::platform::RegistryKey;

struct RootCase {
    const char* name;
    HKEY root;
};

const RootCase kRoots[] = {
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
};

// The name as written, in lower case, and in two mixed cases.
std::vector<std::string> spellings(const std::string& name) {
    std::string lower;
    std::string alternating;
    std::string capitalised;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        lower += static_cast<char>(std::tolower(c));
        alternating += static_cast<char>(i % 2 ? std::tolower(c) : std::toupper(c));
        const bool wordStart = i == 0 || name[i - 1] == '_';
        capitalised += static_cast<char>(wordStart ? std::toupper(c) : std::tolower(c));
    }
    return {name, lower, alternating, capitalised};
}

TEST(RegistryKeyRoots, EveryNameInAnyCaseGivesItsRoot) {
    for (const RootCase& root : kRoots) {
        for (const std::string& spelling : spellings(root.name)) {
            EXPECT_EQ(RegistryKey::rootKeyByName(spelling), root.root) << spelling;
        }
    }
}

TEST(RegistryKeyRoots, UnknownNamesGiveNone) {
    const std::string unknown[] = {
        "",
        "HKLM",
        "HKCU",
        "HKEY_LOCAL",
        "HKEY_LOCAL_MACHINEX",
        " HKEY_LOCAL_MACHINE",
        "HKEY_LOCAL_MACHINE ",
        "HKEY_LOCAL_MACHINE\\SOFTWARE",
        "HKEY-LOCAL-MACHINE",
        "HKEY_DYN_DATA",
        std::string("HKEY_USERS\0", 11),
    };
    for (const std::string& name : unknown) {
        EXPECT_EQ(RegistryKey::rootKeyByName(name), nullptr) << "'" << name << "'";
    }
}

TEST(RegistryKeyOpen, StartsClosedWithFileNotFound) {
    RegistryKey key;
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.lastResult(), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryKeyOpen, UnknownRootFailsWithInvalidParameter) {
    RegistryKey key;
    EXPECT_FALSE(key.open("HKEY_NOWHERE", "Software"));
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.lastResult(), ERROR_INVALID_PARAMETER);
}

TEST(RegistryKeyOpen, MissingSubkeyFailsWithFileNotFound) {
    RegistryKey key;
    EXPECT_FALSE(key.open("HKEY_CURRENT_USER", "Software\\VtxNoSuchKey\\Below"));
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.lastResult(), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryKeyRead, ClosedKeyGivesZeroAndFalse) {
    RegistryKey key;
    uint32_t value = 0xDEADBEEF;
    EXPECT_FALSE(key.readNumber("EnableLog", value, sizeof value));
    EXPECT_EQ(value, 0u);
}

// A key of the test's own under HKEY_CURRENT_USER, with values of several types; removed again.
class RegistryKeyValueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        subKey_ = "Software\\VtxRegistryKeyTest-" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subKey_.c_str(), 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &handle_, nullptr),
                  ERROR_SUCCESS);
        setValue("EnableLog", REG_DWORD, 0x39u);
        setValue("Raw", REG_BINARY, 0x12345678u);
        setValue("Wide", REG_QWORD, 0x1122334455667788ull);
    }

    void TearDown() override {
        if (handle_ != nullptr) {
            RegCloseKey(handle_);
        }
        EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, subKey_.c_str()), ERROR_SUCCESS);
        HKEY gone = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, subKey_.c_str(), 0, KEY_READ, &gone),
                  ERROR_FILE_NOT_FOUND);
    }

    template <typename Value>
    void setValue(const char* name, DWORD type, Value value) {
        ASSERT_EQ(RegSetValueExA(handle_, name, 0, type, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value),
                  ERROR_SUCCESS)
            << name;
    }

    std::string subKey_;
    HKEY handle_ = nullptr;
};

TEST_F(RegistryKeyValueTest, ReadsTheNumberWritten) {
    RegistryKey key;
    ASSERT_TRUE(key.open("hkey_current_user", subKey_));
    EXPECT_TRUE(key.isOpen());
    EXPECT_EQ(key.lastResult(), ERROR_SUCCESS);
    uint32_t value = 0;
    EXPECT_TRUE(key.readNumber("EnableLog", value, 4));
    EXPECT_EQ(value, 0x39u);
}

TEST_F(RegistryKeyValueTest, FourBytesOfAnyTypeAreANumber) {
    RegistryKey key;
    ASSERT_TRUE(key.open("HKEY_CURRENT_USER", subKey_));
    uint32_t value = 0;
    EXPECT_TRUE(key.readNumber("Raw", value, 4));
    EXPECT_EQ(value, 0x12345678u);
}

TEST_F(RegistryKeyValueTest, UnreadableValuesGiveZeroAndFalse) {
    RegistryKey key;
    ASSERT_TRUE(key.open("HKEY_CURRENT_USER", subKey_));
    struct Case {
        const char* name;
        uint32_t size;
    };
    const Case cases[] = {
        {"Missing", 4},    // no such value
        {"Wide", 4},       // eight bytes do not fit
        {"EnableLog", 8},  // more than the four bytes the out value holds
    };
    for (const Case& c : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_FALSE(key.readNumber(c.name, value, c.size)) << c.name;
        EXPECT_EQ(value, 0u) << c.name;
    }
    uint32_t value = 0;
    EXPECT_FALSE(key.readNumber("Missing", value, 4));
    EXPECT_EQ(key.lastResult(), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyValueTest, CloseEndsReading) {
    RegistryKey key;
    ASSERT_TRUE(key.open("HKEY_CURRENT_USER", subKey_));
    key.close();
    EXPECT_FALSE(key.isOpen());
    uint32_t value = 0xDEADBEEF;
    EXPECT_FALSE(key.readNumber("EnableLog", value, 4));
    EXPECT_EQ(value, 0u);
}

TEST_F(RegistryKeyValueTest, FailedReopenLeavesTheKeyClosed) {
    RegistryKey key;
    ASSERT_TRUE(key.open("HKEY_CURRENT_USER", subKey_));
    EXPECT_FALSE(key.open("HKEY_CURRENT_USER", subKey_ + "\\Missing"));
    EXPECT_FALSE(key.isOpen());
    uint32_t value = 0xDEADBEEF;
    EXPECT_FALSE(key.readNumber("EnableLog", value, 4));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(key.open("HKEY_CURRENT_USER", subKey_));
    EXPECT_TRUE(key.readNumber("EnableLog", value, 4));
    EXPECT_EQ(value, 0x39u);
}

}  // namespace
