// Reading version blocks of modules built with chosen blocks (see
// versions/*.txt): missing parts leave their fields untouched.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "shell/app_data.h"
#include "shell/version_block.h"

namespace talvo {
namespace {

std::u16string ModulePath(const wchar_t* fileName) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + fileName;
    return std::u16string(path.begin(), path.end());
}

AppData Read(const wchar_t* fileName) {
    const std::u16string path = ModulePath(fileName);
    AppData data;
    ReadVersionBlockFromFile(path.c_str(), data);
    return data;
}

TEST(ReadVersionBlockWin32, VersionNumbersComeFromTheProductVersion) {
    // These blocks carry a different file version, which must not be used.
    const AppData v234 = Read(L"version_2340.dll");
    EXPECT_EQ(v234.ProductName(), u"TALVO FW-Updater");
    EXPECT_EQ(FormatAboutLine(v234), u"TALVO FW-Updater  Version 2.34");
    const AppData v1210 = Read(L"version_12100.dll");
    EXPECT_EQ(FormatAboutLine(v1210), u"TALVO FW-Updater  Version 1.210");
}

TEST(ReadVersionBlockWin32, MissingTranslationLeavesTheNameEmpty) {
    const AppData data = Read(L"version_no_translation.dll");
    EXPECT_TRUE(data.ProductName().empty());
    EXPECT_EQ(data.productVersionMajor, 1);
    EXPECT_EQ(data.productVersionMinor, 0);
    EXPECT_EQ(data.productVersionBuild, 1);
    EXPECT_EQ(FormatAboutLine(data), u"  Version 1.01");
}

TEST(ReadVersionBlockWin32, NameUnderAnotherTranslationIsNotFound) {
    const AppData data = Read(L"version_other_translation.dll");
    EXPECT_TRUE(data.ProductName().empty());
    EXPECT_EQ(FormatAboutLine(data), u"  Version 1.01");
}

TEST(ReadVersionBlockWin32, LongNameIsCutTo64Characters) {
    const AppData data = Read(L"version_long_name.dll");
    const std::u16string_view name = data.ProductName();
    ASSERT_EQ(name.size(), 64u);
    EXPECT_EQ(name, u"TALVO FW-Updater with a product name much longer than sixty-four");
    EXPECT_EQ(data.productVersionMajor, 1);
}

TEST(ReadVersionBlockWin32, MissingBlockOrFileChangesNothing) {
    for (const wchar_t* file : {L"version_none.dll", L"no_such_module.dll"}) {
        const AppData data = Read(file);
        EXPECT_TRUE(data.ProductName().empty());
        EXPECT_EQ(FormatAboutLine(data), u"  Version 0.00");
    }
    // Fields already set are kept, not cleared.
    AppData data;
    data.SetProductName(u"kept");
    data.productVersionMajor = 9;
    const std::u16string path = ModulePath(L"version_none.dll");
    ReadVersionBlockFromFile(path.c_str(), data);
    EXPECT_EQ(data.ProductName(), u"kept");
    EXPECT_EQ(data.productVersionMajor, 9);
}

}  // namespace
}  // namespace talvo
