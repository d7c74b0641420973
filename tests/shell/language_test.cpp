#include <gtest/gtest.h>

#include "shell/app_data.h"
#include "shell/language.h"

namespace talvo {
namespace {

TEST(SelectLanguage, FollowsThePrimaryLanguageAndTheChineseSubLanguage) {
    struct Case {
        std::uint32_t lcid;
        LanguageIndex want;
    };
    const Case cases[] = {
        {0x0409, kLanguageEnglish},   // English, United States
        {0x0809, kLanguageEnglish},   // English, United Kingdom
        {0x0C09, kLanguageEnglish},   // English, Australia
        {0x0411, kLanguageJapanese},  // Japanese
        {0x0804, kLanguageChinese},   // Chinese, PRC
        {0x0404, kLanguageOther},     // Chinese, Taiwan
        {0x0C04, kLanguageOther},     // Chinese, Hong Kong
        {0x1004, kLanguageOther},     // Chinese, Singapore
        {0x0407, kLanguageOther},     // German
        {0x0412, kLanguageOther},     // Korean
        {0x0000, kLanguageOther},
        // The sort-order bits above the language identifier play no part.
        {0x00010411, kLanguageJapanese},
        {0x00020804, kLanguageChinese},
        {0x00050409, kLanguageEnglish},
        // A language identifier whose low bits alone look like English is not.
        {0x0449, kLanguageOther},  // primary 0x049 (Tamil)
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SelectLanguage(c.lcid), c.want) << std::hex << c.lcid;
    }
}

TEST(LocalizedId, AddsTheOffsetOfTheLanguage) {
    EXPECT_EQ(LocalizedId(607, kLanguageEnglish), 607);
    EXPECT_EQ(LocalizedId(607, kLanguageJapanese), 10607);
    EXPECT_EQ(LocalizedId(607, kLanguageChinese), 20607);
    EXPECT_EQ(LocalizedId(4000, kLanguageOther), 4000);
    for (LanguageIndex odd : {-1, 4, 100}) {
        EXPECT_EQ(LocalizedId(5001, odd), 5001) << odd;
    }
}

TEST(LocalizedId, UsesTheLanguageOfTheRun) {
    const AppData saved = g_appData;
    g_appData.languageIndex = SelectLanguage(0x0411);
    EXPECT_EQ(LocalizedId(130), 10130);  // the agreement text
    g_appData.languageIndex = SelectLanguage(0x0804);
    EXPECT_EQ(LocalizedId(130), 20130);
    g_appData.languageIndex = SelectLanguage(0x0407);
    EXPECT_EQ(LocalizedId(130), 130);
    g_appData = saved;
}

}  // namespace
}  // namespace talvo
