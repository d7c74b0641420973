// The application object: exit codes 0, 2 and 3, the single-instance rule
// with its box, the language from the user's locale, and the keep-awake
// request's bookkeeping.
#include <gtest/gtest.h>

#include "tests/main_dialog/main_dialog_rig.h"

namespace talvo {
namespace {

using testing::AppRig;
using testing::Eventually;
using testing::S;

int NoPackage(FirmwarePackage&) {
    return 0;
}

TEST(AppExit, DecliningTheAgreementEndsWithTwoWithoutTouchingTheDevice) {
    AppRig rig;
    rig.Start("current");
    const WindowRef agreement = rig.user.WaitForDialog(kIddAgreement);
    ASSERT_TRUE(agreement);
    const WindowRef m = rig.user.FindDialog(kIddMain);
    ASSERT_TRUE(m) << "the main dialog shows, disabled, behind the agreement";
    EXPECT_FALSE(rig.user.Enabled(m));
    EXPECT_TRUE(rig.user.Visible(m));
    ASSERT_TRUE(rig.user.PressEscape());
    EXPECT_EQ(rig.ExitCode(), 2);
    EXPECT_TRUE(rig.talvo->CommandNames().empty());
    EXPECT_FALSE(rig.app.MainWindow()) << "ExitInstance removed the dialog";
}

TEST(AppExit, APackageThatCannotBeLoadedIsFatalWithThree) {
    AppRig rig(&NoPackage);
    rig.Start("current");
    const WindowRef agreement = rig.user.WaitForDialog(kIddAgreement);
    ASSERT_TRUE(agreement);
    ASSERT_TRUE(rig.user.Click(agreement, kIdcAccept));
    ASSERT_TRUE(rig.user.Click(agreement, kIdOk));
    const std::optional<BoxInfo> box = rig.user.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, u"Failed to format the updating firmware.");
    EXPECT_EQ(box->caption, u"TALVO FW-Updater");
    EXPECT_EQ(box->icon, mb::kIconError);
    ASSERT_EQ(box->buttons.size(), 1u);
    EXPECT_EQ(box->buttons[0].second, u"OK");
    EXPECT_EQ(rig.WithDialog<MainDialogState>([](CMainDlg* d) { return d->State(); }),
              MainDialogState::Quitting);
    ASSERT_TRUE(rig.user.AnswerBox(kIdOk));
    EXPECT_EQ(rig.ExitCode(), 3);
    EXPECT_TRUE(rig.talvo->CommandNames().empty()) << "the watcher never started";
}

#ifndef _WIN32
// Catches a default backend outside Windows that simulates dialogs: the
// agreement would wait forever in a modal loop no one can see. Without a
// backend installed, creating the main dialog fails and start-up ends with 0.
TEST(AppExit, WithoutAWindowSystemStartUpEndsAtOnceWithZero) {
    // The single-instance mutex of this process only: another program (or
    // test) holding the session's would end start-up before the dialog.
    HeadlessPlatform platform;
    ScopedAppPlatform scopedPlatform(platform);
    AppData data;
    CUpdaterApp app(data, HidPlatform::Native());
    EXPECT_EQ(app.RunApplication(), 0);
    EXPECT_FALSE(app.MainWindow());
}
#endif

TEST(AppExit, ASecondInstanceShowsItsBoxAndEndsWithZero) {
    // The first instance's mutex, held for the session.
    NamedMutex first;
    AppRig rig;
    rig.platform.SetUserLocale(0x0411);  // Japanese
    ASSERT_EQ(first.Create(kSingleInstanceMutexName), NamedMutex::Result::Created);
    rig.Start("current");
    const std::optional<BoxInfo> box = rig.user.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, u"TALVO FW-Updater");
    EXPECT_EQ(box->text, S(15000));
    EXPECT_EQ(box->icon, mb::kIconInformation);
    ASSERT_EQ(box->buttons.size(), 1u);
    EXPECT_EQ(box->buttons[0], (std::pair<int, std::u16string>{kIdOk, S(10599)}));
    EXPECT_FALSE(rig.user.FindDialog(kIddAgreement));
    ASSERT_TRUE(rig.user.AnswerBox(kIdOk));
    EXPECT_EQ(rig.ExitCode(), 0);
    EXPECT_FALSE(rig.app.HoldsInstanceMutex());
    EXPECT_TRUE(first.IsHeld()) << "the first instance is unaffected";
    first.Close();
}

TEST(AppExit, TheMutexIsHeldWhileRunningAndFreeAfterwards) {
    {
        AppRig rig;
        rig.Start("absent");
        ASSERT_TRUE(rig.Accept());
        EXPECT_TRUE(rig.app.HoldsInstanceMutex());
        NamedMutex probe;
        EXPECT_EQ(probe.Create(kSingleInstanceMutexName), NamedMutex::Result::AlreadyExists);
        probe.Close();
        ASSERT_TRUE(rig.user.PressEscape());
        EXPECT_EQ(rig.ExitCode(), 2);
    }
    NamedMutex after;
    EXPECT_EQ(after.Create(kSingleInstanceMutexName), NamedMutex::Result::Created)
        << "the application object released it";
    after.Close();
}

struct LocaleCase {
    std::uint32_t lcid;
    LanguageIndex index;
};

void PrintTo(const LocaleCase& c, std::ostream* os) {
    *os << "locale " << std::hex << c.lcid;
}

class AppLanguage : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(AppLanguage, TheUsersLocaleChoosesEveryText) {
    AppRig rig;
    rig.platform.SetUserLocale(GetParam().lcid);
    rig.Start("absent");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    const int offset = LanguageOffset(GetParam().index);
    EXPECT_EQ(rig.data.languageIndex, GetParam().index);
    EXPECT_EQ(rig.user.Caption(m), u"TALVO FW-Updater");
    EXPECT_EQ(rig.user.Text(m, kIdcStart), S(kIdsStart + offset));
    EXPECT_EQ(rig.user.Text(m, kIdcCancelButton), S(kIdsCancel + offset));
    EXPECT_EQ(rig.user.Text(m, kIdcHeading), S(kIdsHeading + offset));
    EXPECT_EQ(rig.user.SystemMenu(m).back().second, S(kIdsAboutMenuItem + offset));
    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice + offset));
    ASSERT_TRUE(rig.user.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

INSTANTIATE_TEST_SUITE_P(Locales, AppLanguage,
                         ::testing::Values(LocaleCase{0x0409, kLanguageEnglish},
                                           LocaleCase{0x0411, kLanguageJapanese},
                                           LocaleCase{0x0804, kLanguageChinese},
                                           LocaleCase{0x0404, kLanguageOther}));

TEST(AppLanguageBoxes, TheFatalBoxFollowsTheLanguageToo) {
    AppRig rig(&NoPackage);
    rig.platform.SetUserLocale(0x0804);
    rig.Start("current");
    const WindowRef agreement = rig.user.WaitForDialog(kIddAgreement);
    ASSERT_TRUE(agreement);
    ASSERT_TRUE(rig.user.Click(agreement, kIdcAccept));
    ASSERT_TRUE(rig.user.Click(agreement, kIdOk));
    const std::optional<BoxInfo> box = rig.user.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, S(25002));
    EXPECT_EQ(box->caption, u"TALVO FW-Updater");
    EXPECT_EQ(box->buttons[0].second, S(20599));
    ASSERT_TRUE(rig.user.AnswerBox(kIdOk));
    EXPECT_EQ(rig.ExitCode(), 3);
}

// ---- keep-awake bookkeeping --------------------------------------------------

class RefusingKeepAwake final : public IKeepAwake {
  public:
    bool Begin() override { return false; }
    void End() override { ++ends; }
    int ends = 0;
};

// Catches a request that asks twice, gives back twice, or gives back what
// was refused.
TEST(KeepAwakeRequest, HoldsOneRequestAndGivesBackOnlyWhatWasGranted) {
    testing::CountingKeepAwake counting;
    {
        KeepAwakeRequest r(counting);
        r.Acquire();
        r.Acquire();
        EXPECT_TRUE(r.Held());
        EXPECT_EQ(counting.begins.load(), 1);
        r.Release();
        r.Release();
        EXPECT_EQ(counting.ends.load(), 1);
        r.Acquire();
    }
    EXPECT_EQ(counting.begins.load(), 2);
    EXPECT_EQ(counting.ends.load(), 2) << "released on destruction";

    RefusingKeepAwake refusing;
    {
        KeepAwakeRequest r(refusing);
        r.Acquire();
        EXPECT_FALSE(r.Held());
    }
    EXPECT_EQ(refusing.ends, 0) << "nothing to give back";
}

}  // namespace
}  // namespace talvo
