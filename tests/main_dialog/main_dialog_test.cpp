// The main dialog's start-up and device display, with the whole program on
// the headless backend and an emulated TALVO.
#include <gtest/gtest.h>

#include "tests/main_dialog/main_dialog_rig.h"

namespace talvo {
namespace {

using testing::AppRig;
using testing::Eventually;
using testing::S;
using testing::WithVersions;

constexpr Rgb kRed{255, 0, 0};

TEST(MainDialogStartUp, WithoutDeviceShowsTheLayoutAndAsksForTheDeviceInBoldRed) {
    AppRig rig;
    rig.Start("absent");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    HeadlessUser& u = rig.user;

    EXPECT_EQ(u.Caption(m), u"TALVO FW-Updater");
    EXPECT_EQ(u.Text(m, kIdcHeading), S(kIdsHeading));
    EXPECT_EQ(u.Text(m, kIdcCurrentVersionLabel), u"Current version");
    EXPECT_EQ(u.Text(m, kIdcUpdatedVersionLabel), u"Updated version");
    EXPECT_EQ(u.Text(m, kIdcStart), u"&Start");
    EXPECT_EQ(u.Text(m, kIdcCancelButton), u"Cancel");
    EXPECT_EQ(u.WindowIcon(m), kIdiApp);

    // The shipped package has Normal and DspMain: two columns, the second hidden.
    EXPECT_EQ(u.Text(m, kIdcTypeLabelFirst), u"Normal");
    EXPECT_EQ(u.Text(m, kIdcTypeLabelFirst + 1), u"DspMain");
    EXPECT_FALSE(u.Exists(m, kIdcTypeLabelFirst + 2));
    EXPECT_FALSE(u.Visible(m, kIdcTypeLabelFirst));
    EXPECT_FALSE(u.Visible(m, kIdcTypeLabelFirst + 1));
    EXPECT_TRUE(u.Visible(m, 1011));
    EXPECT_FALSE(u.Visible(m, 1012));
    EXPECT_FALSE(u.Exists(m, 1015));
    EXPECT_TRUE(u.Visible(m, 1013));
    EXPECT_FALSE(u.Visible(m, 1014));
    EXPECT_FALSE(u.Exists(m, 1016));
    EXPECT_FALSE(u.Visible(m, kIdcCurrentVersionTemplate));
    EXPECT_FALSE(u.Visible(m, kIdcUpdatedVersionTemplate));
    EXPECT_EQ(u.Text(m, 1013), u"1.07");
    EXPECT_EQ(u.Text(m, 1014), u"1.07") << "every column shows the Normal image's version";

    // The visible boxes sit where the templates are; the next column one
    // template width and 10 pixels further right.
    const Rect current = u.WindowRect(m, kIdcCurrentVersionTemplate);
    EXPECT_EQ(u.WindowRect(m, 1011), current);
    const Rect second = u.WindowRect(m, 1012);
    EXPECT_EQ(second.left, current.left + current.Width() + 10);
    EXPECT_EQ(second.Width(), current.Width());
    EXPECT_EQ(second.top, current.top);
    EXPECT_EQ(u.WindowRect(m, 1013), u.WindowRect(m, kIdcUpdatedVersionTemplate));

    const auto menu = u.SystemMenu(m);
    ASSERT_GE(menu.size(), 2u);
    EXPECT_EQ(menu[menu.size() - 2].second, u"") << "a separator before the item";
    EXPECT_EQ(menu.back(), (std::pair<std::uint32_t, std::u16string>{16, S(kIdsAboutMenuItem)}));

    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice));
    EXPECT_GE(u.FontWeight(m, kIdcMessage), 700);
    EXPECT_EQ(u.TextColor(m, kIdcMessage), kRed);
    EXPECT_FALSE(u.Enabled(m, kIdcStart));
    EXPECT_EQ(u.FocusId(m), kIdcCancelButton);
    EXPECT_EQ(u.Text(m, 1011), u"");

    ASSERT_TRUE(u.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(MainDialogDevice, ArrivalReadsTheVersionsAndDepartureClearsThemAgain) {
    AppRig rig;
    rig.Start("absent");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    HeadlessUser& u = rig.user;
    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice));

    rig.talvo->PlugIn();
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    EXPECT_GE(u.FontWeight(m, kIdcMessage), 700);
    EXPECT_EQ(u.TextColor(m, kIdcMessage), kRed);
    EXPECT_TRUE(u.Enabled(m, kIdcStart));
    EXPECT_EQ(u.FocusId(m), kIdcStart);
    EXPECT_EQ(u.Text(m, 1011), u"1.05");
    EXPECT_EQ(rig.backend.WaitCursorDepth(), 0) << "the wait cursor is gone again";
    EXPECT_EQ(rig.talvo->CommandNames(),
              (std::vector<std::string>{"get 0/6 value=0", "get 0/6 value=1", "get 0/6 value=3"}));

    rig.talvo->Unplug();
    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice));
    EXPECT_FALSE(u.Enabled(m, kIdcStart));
    EXPECT_EQ(u.FocusId(m), kIdcCancelButton);
    EXPECT_EQ(u.Text(m, 1011), u"");
    EXPECT_TRUE(rig.WithDialog<bool>([](CMainDlg* d) {
        return d->DeviceVersions() == VersionSlots{} && !d->Controller().ConnectionOpen();
    }));

    ASSERT_TRUE(u.PressEscape());
    EXPECT_EQ(rig.ExitCode(), 2);
}

struct VersionCase {
    const char* name;
    Scenario scenario;
    VersionSlots expectedVersions;
    std::u16string shown;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class MainDialogVersions : public ::testing::TestWithParam<VersionCase> {};

TEST_P(MainDialogVersions, ShowsTheNormalVersionOnlyWhenAllAgree) {
    AppRig rig;
    rig.Start(GetParam().scenario);
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    EXPECT_TRUE(rig.user.Enabled(m, kIdcStart)) << "a version not read does not keep Start off";
    EXPECT_EQ(rig.user.Text(m, 1011), GetParam().shown);
    EXPECT_EQ(rig.WithDialog<VersionSlots>([](CMainDlg* d) { return d->DeviceVersions(); }),
              GetParam().expectedVersions);
}

Scenario Refusing(int typeCode) {
    Scenario s = Scenario::Named("current");
    Fault f = Fault::Status(0, 6, 3, -1);
    f.value = typeCode;
    s.faults.push_back(f);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MainDialogVersions,
    ::testing::Values(
        VersionCase{
            "agree", WithVersions("1.05", "1.05", "1.05"), {u"1.05", u"1.05", u"1.05"}, u"1.05"},
        VersionCase{"fwupDiffersOnly",
                    WithVersions("0.90", "1.05", "1.05"),
                    {u"0.90", u"1.05", u"1.05"},
                    u"1.05"},
        VersionCase{
            "mainAndDspDiffer", Scenario::Named("mixed"), {u"1.05", u"1.05", u"1.03"}, u"---"},
        VersionCase{"typeZeroRefused", Refusing(0), {u"---", u"1.05", u"1.05"}, u"---"},
        VersionCase{"dspRefused", Refusing(3), {u"1.05", u"1.05", u"---"}, u"---"},
        VersionCase{"allRefused", Refusing(-1), {u"---", u"---", u"---"}, u"---"},
        VersionCase{"textEndsAtZeroByte", WithVersions("1", "1", "1"), {u"1", u"1", u"1"}, u"1"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(MainDialogDevice, BusyDeviceIsAskedAgainEverySecondWithoutTouchingTheDisplay) {
    AppRig rig;
    Scenario s = Scenario::Named("current");
    // Busy for a long while, then the fault is lifted by the test.
    s.faults.push_back(Fault::Busy(1000000));
    rig.Start(s);
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    HeadlessUser& u = rig.user;

    // Several rounds, each abandoned at the first reading.
    ASSERT_TRUE(Eventually([&] { return rig.talvo->CommandNames().size() >= 4; }));
    for (const std::string& c : rig.talvo->CommandNames()) {
        EXPECT_EQ(c, "get 0/6 value=0");
    }
    EXPECT_EQ(u.Text(m, kIdcMessage), u"");
    EXPECT_EQ(rig.WithDialog<int>([](CMainDlg* d) { return d->MessageId(); }), 0);
    EXPECT_FALSE(u.Enabled(m, kIdcStart));

    // The device gets over it: the next round reads all three.
    rig.talvo->Core().ClearFaults();
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    EXPECT_TRUE(u.Enabled(m, kIdcStart));
    EXPECT_EQ(u.Text(m, 1011), u"1.05");

    ASSERT_TRUE(u.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(MainDialogDevice, TheRetryStopsWhenTheBusyDeviceGoes) {
    AppRig rig;
    Scenario s = Scenario::Named("current");
    s.faults.push_back(Fault::Busy(1000000));
    rig.Start(s);
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(Eventually([&] { return rig.talvo->CommandNames().size() >= 2; }));
    rig.talvo->Unplug();
    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice));
    const std::size_t asked = rig.talvo->CommandNames().size();
    // Ten retry periods: no further reading.
    std::this_thread::sleep_for(
        std::chrono::milliseconds(static_cast<int>(10 * 1000 / testing::kSpeedup)));
    EXPECT_EQ(rig.talvo->CommandNames().size(), asked);
    ASSERT_TRUE(rig.user.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(MainDialogKeys, OkNeverClosesTheCloseCommandQuitsWithTwo) {
    AppRig rig;
    rig.Start("absent");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice));
    rig.backend.Invoke([&] { rig.backend.Send(m, msg::kCommand, kIdOk, 0); });
    ASSERT_TRUE(rig.backend.WaitIdle());
    EXPECT_FALSE(rig.Ended());
    EXPECT_EQ(rig.State(), MainDialogState::Idle) << "IDOK (Enter) never closes";
    ASSERT_TRUE(rig.user.CloseCommand());
    EXPECT_EQ(rig.ExitCode(), 2);
}

// Catches a dialog manager without a window system's own that routes Enter
// on the main dialog to a push button (the template's default is Cancel,
// which would end the program).
TEST(MainDialogKeys, AnEnterKeyPressDoesNothing) {
    AppRig rig;
    rig.Start("absent");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice));
    ASSERT_TRUE(rig.user.PressEnter());
    ASSERT_TRUE(rig.backend.WaitIdle());
    EXPECT_FALSE(rig.Ended());
    EXPECT_FALSE(rig.user.OpenBox());
    EXPECT_EQ(rig.State(), MainDialogState::Idle);
    ASSERT_TRUE(rig.user.CloseCommand());
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(MainDialogKeys, EscIsIgnoredWhileTheCancelButtonIsDisabled) {
    AppRig rig;
    rig.Start("absent");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    rig.backend.Invoke([&] {
        rig.backend.Enable(rig.backend.GetItem(m, kIdcCancelButton), false);
        rig.backend.Send(m, msg::kCommand, kIdCancel, 0);
    });
    ASSERT_TRUE(rig.backend.WaitIdle());
    EXPECT_FALSE(rig.Ended());
    EXPECT_NE(rig.State(), MainDialogState::Quitting);
    rig.backend.Invoke([&] { rig.backend.Enable(rig.backend.GetItem(m, kIdcCancelButton), true); });
    ASSERT_TRUE(rig.user.PressEscape());
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(MainDialogAbout, TheSystemMenuItemOpensTheAboutBoxOverTheRunningDialog) {
    AppRig rig;
    rig.Start("absent");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.user.ChooseSystemMenu(m, kCmdAbout));
    const WindowRef about = rig.user.WaitForDialog(kIddAbout);
    ASSERT_TRUE(about);
    EXPECT_EQ(rig.user.Caption(about), u"About TALVO FW-Updater");
    EXPECT_EQ(rig.user.Text(about, kIdcAboutVersion), u"TALVO FW-Updater  Version 1.01");
    ASSERT_TRUE(rig.user.Click(about, kIdOk));
    ASSERT_TRUE(Eventually([&] { return !rig.user.FindDialog(kIddAbout); }));
    EXPECT_FALSE(rig.Ended());
    // The device watch went on meanwhile.
    rig.talvo->PlugIn();
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    ASSERT_TRUE(rig.user.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

}  // namespace
}  // namespace talvo
