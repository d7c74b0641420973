#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "shell/app_data.h"
#include "shell/version_block.h"

namespace talvo {
namespace {

TEST(AboutLine, JoinsNameAndVersionWithoutASeparatorBeforeTheBuild) {
    EXPECT_EQ(FormatAboutLine(u"TALVO FW-Updater", 1, 0, 1), u"TALVO FW-Updater  Version 1.01");
    EXPECT_EQ(FormatAboutLine(u"TALVO FW-Updater", 2, 3, 4), u"TALVO FW-Updater  Version 2.34");
    EXPECT_EQ(FormatAboutLine(u"TALVO FW-Updater", 1, 2, 10), u"TALVO FW-Updater  Version 1.210");
    EXPECT_EQ(FormatAboutLine(u"", 0, 0, 0), u"  Version 0.00");
    EXPECT_EQ(FormatAboutLine(u"X", 65535, 65535, 65535), u"X  Version 65535.6553565535");
    EXPECT_EQ(FormatAboutLine(u"X", -1, INT_MIN, 0), u"X  Version -1.-21474836480");
}

TEST(AboutLine, OfANewAppDataIsEmpty) {
    const AppData fresh;
    EXPECT_EQ(fresh.languageIndex, kLanguageEnglish);
    EXPECT_TRUE(fresh.ProductName().empty());
    EXPECT_EQ(FormatAboutLine(fresh), u"  Version 0.00");
}

TEST(ProductName, KeepsAtMost64Characters) {
    AppData data;
    const std::u16string name64(64, u'n');
    data.SetProductName(name64);
    EXPECT_EQ(data.ProductName(), name64);

    std::u16string longName = name64 + u"-and-more";
    data.SetProductName(longName);
    EXPECT_EQ(data.ProductName(), name64);
    EXPECT_EQ(data.productName[64], u'\0');

    // A shorter name afterwards leaves nothing of the longer one behind.
    data.SetProductName(u"abc");
    EXPECT_EQ(data.ProductName(), u"abc");
    for (int i = 3; i < AppData::kProductNameUnits; ++i) {
        EXPECT_EQ(data.productName[i], u'\0') << i;
    }

    // A NUL inside the given text ends the name there.
    data.SetProductName(std::u16string_view(u"ab\0cd", 5));
    EXPECT_EQ(data.ProductName(), u"ab");
}

TEST(ReadVersionBlock, ReadsTheShippedBlock) {
    // Natively from the version data the Windows block is generated from; on
    // Windows from this executable's own block (it carries the product's).
    AppData data;
    data.languageIndex = kLanguageJapanese;
    ReadVersionBlock(data);
    EXPECT_EQ(data.ProductName(), u"TALVO FW-Updater");
    EXPECT_EQ(data.productVersionMajor, 1);
    EXPECT_EQ(data.productVersionMinor, 0);
    EXPECT_EQ(data.productVersionBuild, 1);
    EXPECT_EQ(data.languageIndex, kLanguageJapanese) << "the language is not the block's";
    EXPECT_EQ(FormatAboutLine(data), u"TALVO FW-Updater  Version 1.01");

    const AppData saved = g_appData;
    g_appData = AppData{};
    ReadVersionBlock();
    EXPECT_EQ(FormatAboutLine(g_appData), u"TALVO FW-Updater  Version 1.01");
    g_appData = saved;
}

}  // namespace
}  // namespace talvo
