// The string table as the program sees it through the portable API.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>

#include "resources/catalogue.h"

namespace talvo {
namespace {

std::size_t Count(std::u16string_view text, std::u16string_view what) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(what); pos != std::u16string_view::npos;
         pos = text.find(what, pos + what.size())) {
        ++n;
    }
    return n;
}

bool HasNonAscii(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0x7F; });
}

// The English rows, transcribed from the catalogue's definition.
const std::map<int, std::u16string> kEnglish = {
    {501, u"&About TALVO FW-Updater"},
    {502, u"TALVO"},
    {503, u" FW-"},
    {504, u"Updater"},
    {505, u"TALVO Firmware updating..."},
    {506, u"TALVO Licensing Agreement"},
    {507, u"About TALVO FW-Updater"},
    {599, u"OK"},
    {600, u"Close"},
    {601, u"Cancel"},
    {602, u"Accept all terms of the license agreement"},
    {603, u"Don't accept the license agreement"},
    {604, u"TALVO Firmware will be updated."},
    {605, u"Current version"},
    {606, u"Updated version"},
    {607, u"&Start"},
    {4000, u"After closing all applications using TALVO, press the \"Start\" button."},
    {4001, u"Connect TALVO to USB port."},
    {4002, u"!!! DON'T DISCONNECT THE TALVO FROM THE USB PORT !!!"},
    {4003, u"No update needed. \r\n\r\nStart update?"},
    {4004, u"Updating..."},
    {4005, u"Firmware has been updated."},
    {4006, u"Failed to update firmware."},
    {5000, u"TALVO FW-Updater is already running."},
    {5001, u"Cannot find TALVO.\r\nCheck your connection and try again."},
    {5002, u"Failed to format the updating firmware."},
    {5003,
     u"TALVO is connected, but this user may not open it (no permission).\r\nAs root, install "
     u"the udev rule 70-talvo.rules (packaging/udev in the sources), then unplug TALVO and plug "
     u"it in again:\r\n  cp 70-talvo.rules /etc/udev/rules.d/\r\n  udevadm control --reload"},
    {5004,
     u"TALVO is in use by another updater.\r\nClose the other updater; this one tries again."},
    {5005,
     u"TALVO is connected, but this user may not open it (no permission).\r\nThe udev rule "
     u"70-talvo.rules is installed: unplug TALVO and plug it in again, or as root run:\r\n  "
     u"udevadm trigger"},
    {5006, u"Several TALVO units are connected. Choose the one to update."},
    {5007,
     u"The computer could not be kept from sleeping during the update: do not let it sleep until "
     u"the update has ended."},
};

TEST(StringTable, EnglishRowsAreExact) {
    for (const auto& [id, text] : kEnglish) {
        EXPECT_EQ(FindString(id), text) << "string " << id;
    }
    // The base-ID list of resource_ids.h names exactly these rows.
    std::set<int> listed(std::begin(kStringBaseIds), std::end(kStringBaseIds));
    std::set<int> transcribed;
    for (const auto& row : kEnglish) {
        transcribed.insert(row.first);
    }
    EXPECT_EQ(listed, transcribed);
}

TEST(StringTable, HoldsExactlyThreeRangesOfTheBaseIds) {
    std::set<int> expected;
    for (int base : kStringBaseIds) {
        expected.insert(base);
        expected.insert(base + kLanguageOffsetJapanese);
        expected.insert(base + kLanguageOffsetChinese);
    }
    const std::span<const int> ids = AllStringIds();
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()), expected);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "an ID appears twice";
    for (int id : ids) {
        EXPECT_TRUE(HasString(id));
        EXPECT_FALSE(FindString(id).empty()) << "string " << id << " is empty";
    }
}

TEST(StringTable, TranslationsKeepLineBreaksMnemonicsAndQuotes) {
    for (int base : kStringBaseIds) {
        const std::u16string_view en = FindString(base);
        for (int offset : {kLanguageOffsetJapanese, kLanguageOffsetChinese}) {
            const std::u16string_view tr = FindString(base + offset);
            SCOPED_TRACE(base + offset);
            EXPECT_EQ(Count(tr, u"\r\n"), Count(en, u"\r\n"));
            EXPECT_EQ(Count(tr, u"\r"), Count(en, u"\r")) << "stray carriage return";
            EXPECT_EQ(Count(tr, u"\n"), Count(en, u"\n")) << "stray line feed";
            EXPECT_EQ(Count(tr, u"&"), Count(en, u"&"));
            EXPECT_EQ(Count(tr, u"\""), Count(en, u"\""));
            // A mnemonic marks a letter, not the end of the text.
            const std::size_t amp = tr.find(u'&');
            if (amp != std::u16string_view::npos) {
                ASSERT_LT(amp + 1, tr.size());
                EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(tr[amp + 1])) &&
                            tr[amp + 1] < 0x80)
                    << "mnemonic is not a letter";
            }
        }
    }
}

TEST(StringTable, TitlePiecesAreTheSameInEveryLanguage) {
    for (int base : {502, 503, 504}) {
        EXPECT_EQ(FindString(base + kLanguageOffsetJapanese), FindString(base));
        EXPECT_EQ(FindString(base + kLanguageOffsetChinese), FindString(base));
    }
    for (int offset : {0, kLanguageOffsetJapanese, kLanguageOffsetChinese}) {
        std::u16string title(FindString(502 + offset));
        title += FindString(503 + offset);
        title += FindString(504 + offset);
        EXPECT_EQ(title, u"TALVO FW-Updater");
    }
}

TEST(StringTable, OtherRowsAreTranslated) {
    // Every row but the title pieces (and the short OK of Japanese) is text of
    // its own language, not a copy of the English.
    for (int base : kStringBaseIds) {
        if (base >= 502 && base <= 504) {
            continue;
        }
        if (base != 599) {
            EXPECT_TRUE(HasNonAscii(FindString(base + kLanguageOffsetJapanese))) << base;
        }
        EXPECT_TRUE(HasNonAscii(FindString(base + kLanguageOffsetChinese))) << base;
    }
    EXPECT_NE(FindString(10607), FindString(20607));
}

TEST(StringTable, MissingIdsGiveEmptyText) {
    for (int id : {0, 1, 500, 508, 598, 4007, 10000, 10508, 20508, 30501, -501}) {
        EXPECT_FALSE(HasString(id)) << id;
        EXPECT_TRUE(FindString(id).empty()) << id;
    }
}

}  // namespace
}  // namespace talvo
