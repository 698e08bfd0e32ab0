// The built DLL's version resource, read from its file as Windows' file properties read it,
// and compared with the resource script it is compiled from.
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <winver.h>
// clang-format on

#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "EmbeddedTexts.h"

namespace {

// The built DLL, which the build places beside the test program.
std::wstring libraryPath() {
    wchar_t program[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring path(program, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    for (const char* c = VTX_LIBRARY_FILE_NAME; *c != '\0'; ++c) {
        path += static_cast<wchar_t>(*c);
    }
    return path;
}

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

struct ScriptEntry {
    std::string key;
    // The quoted text, or the name of the macro the script gives instead.
    std::optional<std::string> literal;
    std::string macro;
};

// What the script's macros stand for in this build; nothing for a macro the test does not know.
std::optional<std::string> macroValue(const std::string& macro) {
    const std::string fileName = VTX_LIBRARY_FILE_NAME;
    if (macro == "VTX_VERSION_STRING") {
        return "2.3.0.0";
    }
    if (macro == "VTX_DLL_FILE_NAME") {
        return fileName;
    }
    if (macro == "VTX_DLL_BASE_NAME") {
        return fileName.substr(0, fileName.rfind('.'));
    }
    return std::nullopt;
}

// The VALUE lines of the string table in the resource script.
std::vector<ScriptEntry> scriptEntries() {
    const std::string script = vtx::test::kVersionResourceScript;
    const std::string table = script.substr(0, script.find("VarFileInfo"));
    const std::regex value(R"re(VALUE\s+"([^"]+)"\s*,\s*(?:"([^"]*)"|([A-Za-z_][A-Za-z_0-9]*)))re");
    std::vector<ScriptEntry> entries;
    for (auto it = std::sregex_iterator(table.begin(), table.end(), value);
         it != std::sregex_iterator(); ++it) {
        ScriptEntry entry{(*it)[1].str(), std::nullopt, (*it)[3].str()};
        if ((*it)[2].matched) {
            entry.literal = (*it)[2].str();
        }
        entries.push_back(entry);
    }
    return entries;
}

class VersionResourceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::wstring path = libraryPath();
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version information in " << narrow(path) << ", error "
                            << GetLastError();
        block_.assign(size, 0);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block_.data()));
    }

    static void TearDownTestSuite() { block_.clear(); }

    void SetUp() override { ASSERT_FALSE(block_.empty()); }

    template <typename Record>
    static const Record* query(const std::wstring& path, UINT& length) {
        void* value = nullptr;
        length = 0;
        if (!VerQueryValueW(block_.data(), path.c_str(), &value, &length)) {
            return nullptr;
        }
        return static_cast<const Record*>(value);
    }

    // A string entry of the US English, Unicode table; nothing when it is missing.
    static std::optional<std::wstring> stringEntry(const std::string& key) {
        UINT length = 0;
        const auto* text = query<wchar_t>(L"\\StringFileInfo\\040904b0\\" + widen(key), length);
        if (text == nullptr) {
            return std::nullopt;
        }
        return std::wstring(text);
    }

    static inline std::vector<unsigned char> block_;
};

TEST_F(VersionResourceTest, FixedInfoCarriesVersionTwoThree) {
    UINT length = 0;
    const auto* info = query<VS_FIXEDFILEINFO>(L"\\", length);
    ASSERT_NE(info, nullptr);
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
    // 2.3.0.0: major and minor in the high word, build and revision in the low one.
    EXPECT_EQ(info->dwFileVersionMS, 0x00020003u);
    EXPECT_EQ(info->dwFileVersionLS, 0x00000000u);
    EXPECT_EQ(info->dwProductVersionMS, 0x00020003u);
    EXPECT_EQ(info->dwProductVersionLS, 0x00000000u);
    EXPECT_EQ(info->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(info->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
}

TEST_F(VersionResourceTest, OneTranslationUsEnglishUnicode) {
    struct Translation {
        WORD language;
        WORD codePage;
    };
    UINT length = 0;
    const auto* translations = query<Translation>(L"\\VarFileInfo\\Translation", length);
    ASSERT_NE(translations, nullptr);
    ASSERT_EQ(length, sizeof(Translation));
    EXPECT_EQ(translations[0].language, 0x0409);
    EXPECT_EQ(translations[0].codePage, 1200);
}

TEST_F(VersionResourceTest, FileVersionIsTwoThree) {
    const auto version = stringEntry("FileVersion");
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(*version, L"2.3.0.0");
}

TEST_F(VersionResourceTest, EntriesTheLibraryReportsAreFilled) {
    const char* const keys[] = {"FileVersion",  "FileDescription",  "CompanyName", "LegalCopyright",
                                "InternalName", "OriginalFilename", "Comments"};
    for (const char* key : keys) {
        const auto text = stringEntry(key);
        ASSERT_TRUE(text.has_value()) << key;
        EXPECT_FALSE(text->empty()) << key;
    }
    // vtxpts32.dll or vtxpts64.dll: the name of the file this build made.
    EXPECT_EQ(narrow(stringEntry("OriginalFilename").value_or(L"")), VTX_LIBRARY_FILE_NAME);
    EXPECT_EQ(narrow(stringEntry("InternalName").value_or(L"")) + ".dll", VTX_LIBRARY_FILE_NAME);
}

TEST_F(VersionResourceTest, EveryEntryOfTheScriptIsInTheFile) {
    const std::vector<ScriptEntry> entries = scriptEntries();
    ASSERT_GE(entries.size(), 7u) << "the resource script's string table was not understood";
    for (const ScriptEntry& entry : entries) {
        const auto text = stringEntry(entry.key);
        ASSERT_TRUE(text.has_value()) << entry.key;
        if (entry.literal) {
            EXPECT_EQ(narrow(*text), *entry.literal) << entry.key;
        } else {
            const auto expected = macroValue(entry.macro);
            ASSERT_TRUE(expected.has_value()) << entry.key << ": unknown macro " << entry.macro;
            EXPECT_EQ(narrow(*text), *expected) << entry.key;
        }
    }
}

TEST(VersionResourceAsData, ResourceIsFoundWithoutRunningTheLibrary) {
    // VS_VERSION_INFO and RT_VERSION, as numbers for the wide-character lookup.
    constexpr WORD kVersionInfoId = 1;
    constexpr WORD kVersionType = 16;
    // Loaded as a data file: the library's code is mapped but never run.
    HMODULE module = LoadLibraryExW(libraryPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    HRSRC resource =
        FindResourceW(module, MAKEINTRESOURCEW(kVersionInfoId), MAKEINTRESOURCEW(kVersionType));
    ASSERT_NE(resource, nullptr);
    const DWORD size = SizeofResource(module, resource);
    const auto* data =
        static_cast<const unsigned char*>(LockResource(LoadResource(module, resource)));
    ASSERT_NE(data, nullptr);
    // A version block: its length, the fixed-info length, the type, then the key "VS_VERSION_INFO".
    ASSERT_GT(size, 6u + 32u + sizeof(VS_FIXEDFILEINFO));
    const WORD blockLength = static_cast<WORD>(data[0] | data[1] << 8);
    EXPECT_EQ(blockLength, size);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data + 6)), L"VS_VERSION_INFO");
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
