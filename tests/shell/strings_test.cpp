// The catalogue in the run's language, through the platform's lookup
// (Windows: the executable's own string table).
#include <gtest/gtest.h>

#include "shell/app_data.h"
#include "shell/strings.h"
#include "resources/catalogue.h"

namespace talvo {
namespace {

TEST(LoadLocalizedString, MatchesThePortableTableForEveryId) {
    // On Windows this compares LoadStringW on this executable's resources with
    // the table generated from the same catalogue.
    for (int id : AllStringIds()) {
        const int base = id % 10000;
        const LanguageIndex language = static_cast<LanguageIndex>(id / 10000);
        EXPECT_EQ(LoadLocalizedString(base, language), FindString(id)) << "string " << id;
    }
}

TEST(LoadLocalizedString, PicksTheRangeOfTheLanguage) {
    EXPECT_EQ(LoadLocalizedString(607, kLanguageEnglish), u"&Start");
    EXPECT_EQ(LoadLocalizedString(607, kLanguageJapanese), FindString(10607));
    EXPECT_EQ(LoadLocalizedString(607, kLanguageChinese), FindString(20607));
    EXPECT_NE(LoadLocalizedString(607, kLanguageJapanese), u"&Start");
    EXPECT_EQ(LoadLocalizedString(607, kLanguageOther), u"&Start");
    EXPECT_EQ(LoadLocalizedString(4003, kLanguageEnglish),
              u"No update needed. \r\n\r\nStart update?");

    const AppData saved = g_appData;
    g_appData.languageIndex = kLanguageChinese;
    EXPECT_EQ(LoadLocalizedString(601), FindString(20601));
    g_appData.languageIndex = kLanguageEnglish;
    EXPECT_EQ(LoadLocalizedString(601), u"Cancel");
    g_appData = saved;
}

TEST(LoadLocalizedString, MissingIdGivesEmptyText) {
    for (int base : {0, 508, 4007, 9999}) {
        for (LanguageIndex language : {0, 1, 2, 3}) {
            EXPECT_TRUE(LoadLocalizedString(base, language).empty()) << base;
        }
    }
    // IDs outside the table's range never reach a lookup that could wrap.
    EXPECT_TRUE(LoadLocalizedString(-1, kLanguageEnglish).empty());
    EXPECT_TRUE(LoadLocalizedString(65536 + 501, kLanguageEnglish).empty());
}

TEST(LoadProductTitle, IsTheSameInEveryLanguage) {
    for (LanguageIndex language : {0, 1, 2, 3, 7, -1}) {
        EXPECT_EQ(LoadProductTitle(language), u"TALVO FW-Updater") << language;
    }
    const AppData saved = g_appData;
    g_appData.languageIndex = kLanguageJapanese;
    EXPECT_EQ(LoadProductTitle(), u"TALVO FW-Updater");
    g_appData = saved;
}

}  // namespace
}  // namespace talvo
