#include "programs/talvo-update/terminal_options.h"

#include <gtest/gtest.h>

namespace talvo::terminal {
namespace {

Options Parse(std::vector<std::string> args, bool ok = true) {
    Options options;
    std::string error;
    EXPECT_EQ(ParseOptions(args, options, error), ok) << error;
    EXPECT_EQ(error.empty(), ok);
    return options;
}

TEST(TerminalOptions, ReadsEveryOption) {
    const Options o =
        Parse({"--emulate=fwup-fails", "--yes", "--accept-agreement", "--show-agreement",
               "--wait=5", "--language=zh", "--timing=none", "--speed=40", "--progress=lines"});
    EXPECT_TRUE(o.emulate);
    EXPECT_EQ(o.scenario, "fwup-fails");
    EXPECT_TRUE(o.yes);
    EXPECT_TRUE(o.acceptAgreement);
    EXPECT_TRUE(o.showAgreement);
    EXPECT_EQ(o.waitSeconds, 5u);
    EXPECT_EQ(o.language, kLanguageChinese);
    EXPECT_EQ(o.timing, Timing::kNone);
    EXPECT_EQ(o.speed, 40.0);
    EXPECT_EQ(o.progressBar, false);

    const Options d = Parse({"--emulate"});
    EXPECT_EQ(d.scenario, "outdated");
    EXPECT_EQ(d.timing, Timing::kFullSpeed);
    EXPECT_FALSE(d.progressBar.has_value());
    EXPECT_FALSE(d.acceptAgreement);
}

TEST(TerminalOptions, RefusesWhatItCannotUse) {
    Parse({"--emulate="}, false);
    Parse({"--emulated"}, false);
    Parse({"--wait=-1"}, false);
    Parse({"--wait=99999999999"}, false);
    Parse({"--wait="}, false);
    Parse({"--language=de"}, false);
    Parse({"--timing=fast"}, false);
    Parse({"--speed=0", "--emulate"}, false);
    Parse({"--speed=10"}, false);  // only for an emulated run
    Parse({"update"}, false);
}

TEST(TerminalOptions, ExitCodesAreDistinctPerResult) {
    EXPECT_EQ(ExitCodeForResult(0), 0);
    EXPECT_EQ(ExitCodeForResult(-2), 12);
    EXPECT_EQ(ExitCodeForResult(-16), 26);
    EXPECT_EQ(ExitCodeForResult(-1000), 109);  // capped below the shell's range
}

TEST(TerminalText, LocaleNamesGiveTheLanguageOfTheMessages) {
    EXPECT_EQ(SelectLanguage(LcidFromLocaleName("ja_JP.UTF-8")), kLanguageJapanese);
    EXPECT_EQ(SelectLanguage(LcidFromLocaleName("zh_CN.UTF-8")), kLanguageChinese);
    EXPECT_EQ(SelectLanguage(LcidFromLocaleName("zh_CN")), kLanguageChinese);
    EXPECT_NE(SelectLanguage(LcidFromLocaleName("zh_TW.UTF-8")), kLanguageChinese);
    EXPECT_EQ(SelectLanguage(LcidFromLocaleName("en_GB.UTF-8")), kLanguageEnglish);
    EXPECT_EQ(SelectLanguage(LcidFromLocaleName("C")), kLanguageEnglish);
    EXPECT_EQ(SelectLanguage(LcidFromLocaleName("")), kLanguageEnglish);
    EXPECT_EQ(SelectLanguage(LcidFromLocaleName("de_DE@euro")), kLanguageOther);
    EXPECT_EQ(LocaleNameFromEnvironment(nullptr, "", "ja_JP.UTF-8"), "ja_JP.UTF-8");
    EXPECT_EQ(LocaleNameFromEnvironment("C", "ja_JP", "zh_CN"), "C");
    EXPECT_EQ(LocaleNameFromEnvironment(nullptr, nullptr, nullptr), "");
}

TEST(TerminalText, Utf16BecomesUtf8) {
    EXPECT_EQ(ToUtf8(u"abc"), "abc");
    EXPECT_EQ(ToUtf8(u"\u00E9\u65B0"), "\xC3\xA9\xE6\x96\xB0");
    EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
    EXPECT_EQ(ToTerminalText(u"No update needed. \r\n\r\nStart update?"),
              "No update needed. \n\nStart update?");
    const std::uint8_t agreement[] = {0xFF, 0xFE, 'O', 0, 'K', 0, '\r', 0, '\n', 0};
    EXPECT_EQ(AgreementToUtf8(agreement, sizeof agreement), "OK\n");
    // An odd trailing byte is not half a character.
    EXPECT_EQ(AgreementToUtf8(agreement, 5), "O");
}

TEST(TerminalText, ProgressBarFillsWithThePercentage) {
    EXPECT_EQ(ProgressBar(0, 10), "[..........]   0%");
    EXPECT_EQ(ProgressBar(45, 10), "[####......]  45%");
    EXPECT_EQ(ProgressBar(100, 10), "[##########] 100%");
    EXPECT_EQ(ProgressBar(250, 4), "[####] 100%");
}

}  // namespace
// Catches: a device's version bytes reaching the terminal raw (an ESC
// sequence cleared the screen): C0, DEL and C1 controls are replaced.
TEST(TerminalText, ControlCharactersNeverReachTheTerminal) {
    EXPECT_EQ(PrintableText("1.0\x1b[2J\x07"), "1.0?[2J?");
    EXPECT_EQ(PrintableText("a\xc2\x9b"
                            "2Jb\x7f"),
              "a?2Jb?");                                                 // U+009B, the one-byte CSI
    EXPECT_EQ(PrintableText("1.07 \xe3\x81\x82"), "1.07 \xe3\x81\x82");  // other UTF-8 kept
}

}  // namespace talvo::terminal
