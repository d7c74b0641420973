// The progress dialog, the agreement dialog and the about box on the
// headless backend, with the shipped templates, strings and agreement texts.
#include <gtest/gtest.h>

#include <thread>

#include "shell/language.h"
#include "resources/catalogue.h"
#include "tests/ui/ui_test_support.h"
#include "programs/windows-gui/about_dlg.h"
#include "programs/windows-gui/license_dlg.h"
#include "programs/windows-gui/progress_dlg.h"

namespace talvo {
namespace {

using testing::Ready;
using testing::UiObject;
using testing::UiThread;

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kSystemText{0, 0, 0};

std::u16string S(int id) {
    return std::u16string(FindString(id));
}

AppData Language(LanguageIndex index) {
    AppData a;
    a.languageIndex = index;
    return a;
}

class DialogsTest : public ::testing::Test {
  protected:
    HeadlessBackend backend;
    UiThread ui{backend};
    HeadlessUser user{backend};
};

// ---- agreement dialog ------------------------------------------------------

class AgreementTest : public DialogsTest {
  protected:
    AppData app = Language(kLanguageEnglish);
    UiObject<CLicenseDlg> dlg{ui, nullptr, app};
    std::future<std::intptr_t> result = ui.Async([this] { return dlg->DoModal(); });
    WindowRef w = user.WaitForDialog(kIddAgreement);

    void SetUp() override {
        ASSERT_TRUE(w);
        ASSERT_TRUE(backend.WaitIdle());
    }
    void TearDown() override {
        // A failed test must not leave the modal loop running over the object.
        if (result.valid() && !Ready(result, std::chrono::milliseconds(0))) {
            user.PressEscape();
            Ready(result);
        }
    }
    std::intptr_t Result() {
        EXPECT_TRUE(Ready(result));
        return result.get();
    }
};

TEST_F(AgreementTest, OpensDeclinedWithOkDisabledCancelDefaultAndTheLanguagesTexts) {
    EXPECT_EQ(user.Caption(w), u"TALVO Licensing Agreement");
    EXPECT_TRUE(user.Checked(w, kIdcDecline));
    EXPECT_FALSE(user.Checked(w, kIdcAccept));
    EXPECT_FALSE(user.Enabled(w, kIdOk));
    EXPECT_TRUE(user.Enabled(w, kIdCancel));
    EXPECT_EQ(user.DefId(w), kIdCancel);
    EXPECT_EQ(user.FocusId(w), kIdCancel) << "first enabled tab stop";
    EXPECT_EQ(user.Text(w, kIdcAccept), u"Accept all terms of the license agreement");
    EXPECT_EQ(user.Text(w, kIdcDecline), u"Don't accept the license agreement");
    EXPECT_EQ(user.Text(w, kIdOk), u"OK");
    EXPECT_EQ(user.Text(w, kIdCancel), u"Cancel");
    ASSERT_TRUE(user.PressEscape());
    EXPECT_EQ(Result(), kIdCancel);
}

TEST_F(AgreementTest, EnterRightAwayDeclines) {
    ASSERT_TRUE(user.PressEnter());
    EXPECT_EQ(Result(), kIdCancel);
}

TEST_F(AgreementTest, AcceptEnablesOkAsDefaultWithoutMovingTheFocusAndEnterAccepts) {
    EXPECT_FALSE(user.Click(w, kIdOk)) << "OK is disabled until accepted";
    ASSERT_TRUE(user.Click(w, kIdcAccept));
    EXPECT_TRUE(user.Checked(w, kIdcAccept));
    EXPECT_FALSE(user.Checked(w, kIdcDecline));
    EXPECT_TRUE(user.Enabled(w, kIdOk));
    EXPECT_EQ(user.DefId(w), kIdOk);
    EXPECT_EQ(user.FocusId(w), kIdcAccept);
    ASSERT_TRUE(user.PressEnter());
    EXPECT_EQ(Result(), kIdOk);
}

TEST_F(AgreementTest, DecliningAgainDisablesOkAndCancelIsDefaultAgain) {
    ASSERT_TRUE(user.Click(w, kIdcAccept));
    ASSERT_TRUE(user.Click(w, kIdcDecline));
    EXPECT_FALSE(user.Enabled(w, kIdOk));
    EXPECT_EQ(user.DefId(w), kIdCancel);
    EXPECT_EQ(user.FocusId(w), kIdcDecline);
    ASSERT_TRUE(user.PressEnter());
    EXPECT_EQ(Result(), kIdCancel);
}

TEST_F(AgreementTest, OnlyOkInTheAcceptedStateGivesOne) {
    ASSERT_TRUE(user.Click(w, kIdcAccept));
    ASSERT_TRUE(user.CloseCommand());
    EXPECT_EQ(Result(), kIdCancel) << "the close box declines even after accepting";
}

TEST_F(AgreementTest, ClickingOkAfterAcceptingGivesOne) {
    ASSERT_TRUE(user.Click(w, kIdcAccept));
    ASSERT_TRUE(user.Click(w, kIdOk));
    EXPECT_EQ(Result(), kIdOk);
}

TEST_F(AgreementTest, ShowsTheAgreementWithoutItsMarkFromTheTopInElevenPointShellFont) {
    const auto raw = FindAgreementText(kIdAgreementText);
    ASSERT_GE(raw.size(), 4u);
    ASSERT_EQ(raw[0], 0xFF);
    ASSERT_EQ(raw[1], 0xFE);
    const std::u16string shown = user.RichText(w, kIdcAgreementText);
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(shown.front(), u'\xFEFF') << "the byte-order mark is not shown";
    EXPECT_EQ(shown, DecodeAgreementText(raw));
    EXPECT_EQ(shown.size(), raw.size() / 2 - 1);
    EXPECT_EQ(shown.substr(shown.size() - 2), u"\r\n");
    EXPECT_EQ(user.Selection(w, kIdcAgreementText), (std::pair<int, int>{0, 0}));
    EXPECT_EQ(user.DefaultCharFormat(w, kIdcAgreementText), (CharFormat{220, u"MS Shell Dlg"}));
    ASSERT_TRUE(user.PressEscape());
    EXPECT_EQ(Result(), kIdCancel);
}

struct LanguageCase {
    LanguageIndex index;
    int offset;
};

class AgreementLanguageTest : public DialogsTest,
                              public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(AgreementLanguageTest, CaptionButtonsAndTextFollowTheLanguage) {
    const LanguageCase c = GetParam();
    AppData app = Language(c.index);
    UiObject<CLicenseDlg> dlg(ui, nullptr, app);
    auto result = ui.Async([&] { return dlg->DoModal(); });
    const WindowRef w = user.WaitForDialog(kIddAgreement);
    ASSERT_TRUE(w);
    EXPECT_EQ(user.Caption(w), S(c.offset + kIdsAgreementCaption));
    EXPECT_EQ(user.Text(w, kIdcAccept), S(c.offset + kIdsAccept));
    EXPECT_EQ(user.Text(w, kIdcDecline), S(c.offset + kIdsDecline));
    EXPECT_EQ(user.Text(w, kIdOk), S(c.offset + kIdsOk));
    EXPECT_EQ(user.Text(w, kIdCancel), S(c.offset + kIdsCancel));
    EXPECT_EQ(user.RichText(w, kIdcAgreementText),
              DecodeAgreementText(FindAgreementText(kIdAgreementText + c.offset)));
    ASSERT_TRUE(user.PressEnter());
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), kIdCancel);
}

INSTANTIATE_TEST_SUITE_P(Languages, AgreementLanguageTest,
                         ::testing::Values(LanguageCase{kLanguageEnglish, 0},
                                           LanguageCase{kLanguageJapanese, 10000},
                                           LanguageCase{kLanguageChinese, 20000},
                                           LanguageCase{kLanguageOther, 0}));

TEST_F(DialogsTest, JapaneseAgreementDiffersFromTheEnglishOne) {
    // Guards the test above against a table that holds one text three times.
    EXPECT_NE(DecodeAgreementText(FindAgreementText(10130)),
              DecodeAgreementText(FindAgreementText(130)));
    EXPECT_NE(S(10506), S(506));
}

TEST(AgreementText, DecodingSkipsTheMarkAndNeverReadsPastTheResource) {
    const std::uint8_t full[] = {0xFF, 0xFE, 'H', 0, 'i', 0, 0x42, 0x30, '\r', 0, '\n', 0};
    EXPECT_EQ(DecodeAgreementText(full), u"Hi\u3042\r\n");
    const std::uint8_t noMark[] = {'A', 0, 'B', 0};
    EXPECT_EQ(DecodeAgreementText(noMark), u"B") << "the first unit is taken as the mark";
    const std::uint8_t odd[] = {0xFF, 0xFE, 'A', 0, 'B'};
    EXPECT_EQ(DecodeAgreementText(odd), u"A");
    const std::uint8_t markOnly[] = {0xFF, 0xFE};
    EXPECT_EQ(DecodeAgreementText(markOnly), u"");
    const std::uint8_t one[] = {0xFF};
    EXPECT_EQ(DecodeAgreementText(one), u"");
    EXPECT_EQ(DecodeAgreementText({}), u"");
}

TEST(AgreementMissing, OpensWithAnEmptyTextAndAcceptingStillWorks) {
    HeadlessBackend backend;
    HeadlessPlatform noTexts([](int, int) { return std::vector<std::uint8_t>{}; });
    UiThread ui(backend);
    ScopedAppPlatform scopedNoTexts(noTexts);
    HeadlessUser user(backend);
    AppData app = Language(kLanguageEnglish);
    UiObject<CLicenseDlg> dlg(ui, nullptr, app);
    auto result = ui.Async([&] { return dlg->DoModal(); });
    const WindowRef w = user.WaitForDialog(kIddAgreement);
    ASSERT_TRUE(w);
    EXPECT_EQ(user.RichText(w, kIdcAgreementText), u"");
    ASSERT_TRUE(user.Click(w, kIdcAccept));
    ASSERT_TRUE(user.PressEnter());
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), kIdOk);
}

// ---- about box -------------------------------------------------------------

struct AboutCase {
    const char16_t* name;
    int major, minor, build;
    const char16_t* line;
};

class AboutTest : public DialogsTest, public ::testing::WithParamInterface<AboutCase> {};

TEST_P(AboutTest, ShowsNameAndVersionLine) {
    const AboutCase c = GetParam();
    AppData app = Language(kLanguageEnglish);
    app.SetProductName(c.name);
    app.productVersionMajor = c.major;
    app.productVersionMinor = c.minor;
    app.productVersionBuild = c.build;
    UiObject<CAboutDlg> dlg(ui, nullptr, app);
    auto result = ui.Async([&] { return dlg->DoModal(); });
    const WindowRef w = user.WaitForDialog(kIddAbout);
    ASSERT_TRUE(w);
    EXPECT_EQ(user.Text(w, kIdcAboutVersion), c.line);
    EXPECT_EQ(user.Caption(w), u"About TALVO FW-Updater");
    EXPECT_EQ(user.Text(w, kIdOk), u"OK");
    EXPECT_EQ(user.IconId(w, kIdcAboutIcon), kIdiApp);
    ASSERT_TRUE(user.PressEnter());
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), kIdOk);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, AboutTest,
    ::testing::Values(AboutCase{u"TALVO FW-Updater", 1, 0, 1, u"TALVO FW-Updater  Version 1.01"},
                      AboutCase{u"TALVO FW-Updater", 2, 3, 4, u"TALVO FW-Updater  Version 2.34"},
                      AboutCase{u"TALVO FW-Updater", 1, 2, 10, u"TALVO FW-Updater  Version 1.210"},
                      AboutCase{u"", 0, 0, 0, u"  Version 0.00"}));

TEST_F(DialogsTest, AboutBoxChangesOnlyCaptionAndOkWithTheLanguage) {
    for (const LanguageCase c :
         {LanguageCase{kLanguageJapanese, 10000}, LanguageCase{kLanguageChinese, 20000}}) {
        AppData app = Language(c.index);
        app.SetProductName(u"TALVO FW-Updater");
        app.productVersionMajor = 1;
        app.productVersionBuild = 1;
        UiObject<CAboutDlg> dlg(ui, nullptr, app);
        auto result = ui.Async([&] { return dlg->DoModal(); });
        const WindowRef w = user.WaitForDialog(kIddAbout);
        ASSERT_TRUE(w);
        EXPECT_EQ(user.Caption(w), S(c.offset + kIdsAboutCaption));
        EXPECT_EQ(user.Text(w, kIdOk), S(c.offset + kIdsOk));
        EXPECT_EQ(user.Text(w, kIdcAboutVersion), u"TALVO FW-Updater  Version 1.01");
        ASSERT_TRUE(user.PressEscape());
        ASSERT_TRUE(Ready(result));
        EXPECT_EQ(result.get(), kIdCancel);
    }
}

// ---- progress dialog -------------------------------------------------------

class ProgressTest : public DialogsTest {
  protected:
    AppData app = Language(kLanguageEnglish);
    std::size_t fontsBefore = backend.LiveFontCount();
    UiObject<CFirmUpProgressDlg> dlg{ui, nullptr, app};

    WindowRef Open() {
        EXPECT_TRUE(ui.Call([&] { return dlg->Create(); }));
        ui.Call([&] { dlg->ShowWindow(true); });
        return user.FindDialog(kIddProgress);
    }
};

TEST_F(ProgressTest, ShowsCaptionAndABoldRedWarningOverAnEmptyBar) {
    ASSERT_TRUE(ui.Call([&] { return dlg->Create(); }));
    const WindowRef w = user.FindDialog(kIddProgress);
    EXPECT_FALSE(user.Visible(w)) << "hidden until the main dialog shows it";
    ui.Call([&] { dlg->ShowWindow(true); });
    EXPECT_EQ(user.Caption(w), u"TALVO Firmware updating...");
    EXPECT_EQ(user.Text(w, kIdcWarning), u"!!! DON'T DISCONNECT THE TALVO FROM THE USB PORT !!!");
    EXPECT_EQ(user.FontWeight(w, kIdcWarning), 700)
        << "normal weight plus 300, also from a dialog font of weight 0";
    EXPECT_EQ(user.TextColor(w, kIdcWarning), kRed);
    EXPECT_EQ(user.ProgressRange(w, kIdcProgressBar), (std::pair<int, int>{0, 100}));
    EXPECT_EQ(user.ProgressPos(w, kIdcProgressBar), 0);
}

TEST_F(ProgressTest, CaptionAndWarningFollowTheLanguage) {
    app.languageIndex = kLanguageJapanese;
    const WindowRef w = Open();
    EXPECT_EQ(user.Caption(w), S(10000 + kIdsProgressCaption));
    EXPECT_EQ(user.Text(w, kIdcWarning), S(10000 + kIdsDontDisconnect));
}

TEST_F(ProgressTest, PostedPositionsFromTheUpdateThreadMoveTheBar) {
    const WindowRef w = Open();
    auto target = ui.Call([&] { return dlg->CreateMessageTarget(); });
    for (int pos : {0, 50, 100, 37}) {
        std::thread([&] { EXPECT_TRUE(target->Post(kMsgUpdateProgress, pos, 0)); }).join();
        ASSERT_TRUE(backend.WaitIdle());
        EXPECT_EQ(user.ProgressPos(w, kIdcProgressBar), pos);
    }
    ui.Call([&] { dlg->DestroyWindow(); });
    EXPECT_FALSE(target->Post(kMsgUpdateProgress, 10, 0)) << "lost once the window is gone";
}

TEST_F(ProgressTest, EnterEscAndTheCloseCommandLeaveItOpen) {
    const WindowRef w = Open();
    EXPECT_TRUE(user.PressEnter());
    EXPECT_TRUE(user.PressEscape());
    EXPECT_FALSE(user.CloseCommand()) << "no system menu, no close box";
    ASSERT_TRUE(backend.WaitIdle());
    EXPECT_TRUE(user.Visible(w));
    EXPECT_TRUE(ui.Call([&] { return dlg->HasWindow(); }));
}

TEST_F(ProgressTest, OnlyTheWarningLineIsRed) {
    const WindowRef w = Open();
    EXPECT_EQ(user.TextColor(w, kIdcProgressBar), kSystemText);
}

TEST_F(ProgressTest, EveryNewWindowReplacesTheWarningFontSoAtMostOneExists) {
    Open();
    const FontHandle first = ui.Call([&] { return dlg->WarningFont(); });
    ASSERT_TRUE(first);
    const std::size_t withOne = backend.LiveFontCount();
    EXPECT_EQ(withOne, fontsBefore + 2) << "the dialog font and the warning font";
    for (int round = 0; round < 3; ++round) {
        ui.Call([&] { dlg->DestroyWindow(); });
        const WindowRef w = Open();
        EXPECT_EQ(backend.LiveFontCount(), withOne);
        EXPECT_EQ(user.FontWeight(w, kIdcWarning), 700);
    }
    const FontHandle last = ui.Call([&] { return dlg->WarningFont(); });
    EXPECT_FALSE(ui.Call([&] { return Font::SpecOf(first).has_value(); }))
        << "the first window's font was deleted";
    EXPECT_TRUE(ui.Call([&] { return Font::SpecOf(last).has_value(); }));
}

TEST(ProgressLifetime, TheObjectReleasesItsFont) {
    HeadlessBackend backend;
    UiThread ui(backend);
    const std::size_t before = backend.LiveFontCount();
    {
        AppData app;
        UiObject<CFirmUpProgressDlg> dlg(ui, nullptr, app);
        ASSERT_TRUE(ui.Call([&] { return dlg->Create(); }));
        EXPECT_EQ(backend.LiveFontCount(), before + 2);
    }
    EXPECT_EQ(backend.LiveFontCount(), before);
}

}  // namespace
}  // namespace talvo
