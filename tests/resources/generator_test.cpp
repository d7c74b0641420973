// The generator carries awkward texts unchanged into the portable tables
// (and, on Windows, into the string table of this executable).
#include <gtest/gtest.h>

#include <string>

#include "resources/catalogue.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace talvo {
namespace {

const std::pair<int, std::u16string> kTricky[] = {
    {1, u"semi;colon; and [brackets] and ]["},
    {10001, u"quote \" inside and \"\" twice"},
    {20001, u"back\\slash and \\\" mixed"},
    {2, u"  leading and trailing blanks  "},
    {10002, u"line\r\nbreak and a # hash"},
    {20002, u"tab\tinside"},
    {3, u"\u65E5\u672C\u8A9E\u3068\u7B80\u4F53\u4E2D\u6587"},
    {10003, u"outside the basic plane: \xD83D\xDE00"},
    {9999, u"last base ID"},
};

TEST(Generator, CarriesAwkwardTextsUnchanged) {
    for (const auto& [id, text] : kTricky) {
        EXPECT_EQ(FindString(id), text) << "string " << id;
    }
    // An empty row exists but is empty.
    EXPECT_TRUE(HasString(20003));
    EXPECT_TRUE(FindString(20003).empty());
    EXPECT_EQ(AllStringIds().size(), std::size(kTricky) + 1);
}

#if defined(_WIN32)
TEST(Generator, ResourceCompilerGetsTheSameTexts) {
    for (const auto& [id, text] : kTricky) {
        const wchar_t* p = nullptr;
        const int n = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                  reinterpret_cast<LPWSTR>(&p), 0);
        ASSERT_GT(n, 0) << "string " << id;
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(p), static_cast<std::size_t>(n)),
                  text)
            << "string " << id;
    }
}
#endif

}  // namespace
}  // namespace talvo
