// The update run from the main dialog: whether Start asks first, the
// progress dialog and its bar, the endings, and what the dialog refuses
// while an update runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/main_dialog/main_dialog_rig.h"

namespace talvo {
namespace {

using testing::AppRig;
using testing::Eventually;
using testing::S;
using testing::WithVersions;

constexpr Rgb kRed{255, 0, 0};

// ---- the overall bar position ----------------------------------------------

TEST(OverallProgress, TwoJobsShareTheBarAndOneJobFollowsTheValues) {
    // Settling (reported as job 0 of 2) fills the first tenth.
    EXPECT_EQ(OverallProgress(0, 2, 0), 0u);
    EXPECT_EQ(OverallProgress(0, 2, 1), 0u);
    EXPECT_EQ(OverallProgress(0, 2, 20), 10u);
    EXPECT_EQ(OverallProgress(0, 2, 21), 10u);
    EXPECT_EQ(OverallProgress(0, 2, 100), 50u);
    EXPECT_EQ(OverallProgress(1, 2, 21), 60u);
    EXPECT_EQ(OverallProgress(1, 2, 100), 100u);
    EXPECT_EQ(OverallProgress(0, 1, 37), 37u);
    EXPECT_EQ(OverallProgress(2, 3, 100), 100u);
    EXPECT_EQ(OverallProgress(0, 0, 50), 0u) << "no jobs: no division";
}

// ---- whether Start asks ------------------------------------------------------

struct StartCase {
    const char* name;
    Scenario scenario;
    bool asks;
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class StartDecision : public ::testing::TestWithParam<StartCase> {};

Scenario RefusingAll() {
    Scenario s = Scenario::Named("current");
    s.faults.push_back(Fault::Status(0, 6, 3, -1));
    return s;
}

TEST_P(StartDecision, AsksOnlyWhenNothingIsNewerAndTheDeviceAgreesWithItself) {
    AppRig rig;
    rig.Start(GetParam().scenario);
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    ASSERT_TRUE(rig.user.Click(m, kIdcStart));
    if (GetParam().asks) {
        const std::optional<BoxInfo> box = rig.user.WaitForBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text, S(kIdsNoUpdateNeeded));
        EXPECT_FALSE(rig.user.FindDialog(kIddProgress));
        ASSERT_TRUE(rig.user.AnswerBox(kIdCancel));
    } else {
        ASSERT_TRUE(rig.user.WaitForDialog(kIddProgress)) << "the update starts at once";
        EXPECT_FALSE(rig.user.OpenBox());
        ASSERT_TRUE(rig.WaitForUpdateEnd());
    }
    ASSERT_TRUE(rig.user.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartDecision,
    ::testing::Values(StartCase{"sameAsPackage", WithVersions("1.07", "1.07", "1.07"), true},
                      StartCase{"older", WithVersions("1.05", "1.05", "1.05"), false},
                      StartCase{"deviceDisagrees", WithVersions("1.07", "1.07", "1.06"), false},
                      StartCase{"nothingRead", RefusingAll(), false},
                      StartCase{"newerThanPackage", WithVersions("1.10", "1.10", "1.10"), true}),
    [](const auto& c) { return std::string(c.param.name); });

// ---- the confirmation box ----------------------------------------------------

class ConfirmationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.Start(WithVersions("1.07", "1.07", "1.07"));
        m = rig.Accept();
        ASSERT_TRUE(m);
        ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
        ASSERT_TRUE(rig.user.Click(m, kIdcStart));
        box = rig.user.WaitForBox();
        ASSERT_TRUE(box);
    }

    AppRig rig;
    WindowRef m;
    std::optional<BoxInfo> box;
};

TEST_F(ConfirmationTest, IsRetitledInformationWithCancelAsDefault) {
    EXPECT_EQ(box->caption, u"TALVO FW-Updater");
    EXPECT_EQ(box->owner, m);
    EXPECT_EQ(box->icon, mb::kIconInformation);
    ASSERT_EQ(box->buttons.size(), 2u);
    EXPECT_EQ(box->buttons[0], (std::pair<int, std::u16string>{kIdOk, u"OK"}));
    EXPECT_EQ(box->buttons[1], (std::pair<int, std::u16string>{kIdCancel, u"Cancel"}));
    EXPECT_EQ(box->defaultButton, kIdCancel);
    ASSERT_TRUE(rig.user.PressEnter());
    ASSERT_TRUE(Eventually([&] { return !rig.user.OpenBox(); }));
    EXPECT_EQ(rig.State(), MainDialogState::Idle) << "Enter is Cancel, the default";
}

TEST_F(ConfirmationTest, CancelLeavesEverythingAsItWas) {
    ASSERT_TRUE(rig.user.AnswerBox(kIdCancel));
    ASSERT_TRUE(Eventually([&] { return !rig.user.OpenBox(); }));
    EXPECT_EQ(rig.State(), MainDialogState::Idle);
    EXPECT_TRUE(rig.user.Enabled(m, kIdcStart));
    EXPECT_TRUE(rig.user.Enabled(m, kIdcCancelButton));
    EXPECT_EQ(rig.user.Text(m, kIdcMessage), S(kIdsPressStart));
    EXPECT_FALSE(rig.user.FindDialog(kIddProgress));
    EXPECT_EQ(rig.keepAwake.begins.load(), 0);
    // Asking again and saying OK starts the update.
    ASSERT_TRUE(rig.user.Click(m, kIdcStart));
    ASSERT_TRUE(rig.user.WaitForBox());
    ASSERT_TRUE(rig.user.AnswerBox(kIdOk));
    ASSERT_TRUE(rig.WaitForUpdateEnd());
    EXPECT_EQ(rig.user.Text(m, kIdcMessage), S(kIdsUpdated));
}

TEST_F(ConfirmationTest, UnpluggingClosesTheBoxAndDisablesStart) {
    rig.talvo->Unplug();
    ASSERT_TRUE(Eventually([&] { return !rig.user.OpenBox(); })) << "the box closes by itself";
    ASSERT_TRUE(rig.WaitForMessage(kIdsConnectDevice));
    EXPECT_TRUE(Eventually([&] { return !rig.user.Enabled(m, kIdcStart); }));
    EXPECT_EQ(rig.user.FocusId(m), kIdcCancelButton);
    EXPECT_EQ(rig.State(), MainDialogState::Idle);
    EXPECT_FALSE(rig.user.FindDialog(kIddProgress)) << "closed as if cancelled";
    ASSERT_TRUE(rig.user.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

// ---- a whole run -------------------------------------------------------------

TEST(UpdateRun, SucceedsShowsProgressAndEndsInFrontWithClose) {
    AppRig rig;
    // Slow writes give the bar time to be seen at every stage.
    rig.Start("slow-write");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    HeadlessUser& u = rig.user;
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    ASSERT_TRUE(u.Click(m, kIdcStart));

    const WindowRef p = u.WaitForDialog(kIddProgress);
    ASSERT_TRUE(p);
    EXPECT_EQ(u.Caption(p), S(kIdsProgressCaption));
    EXPECT_EQ(u.WindowRect(p).top, u.WindowRect(m).top) << "level with the main dialog's top";
    ASSERT_TRUE(rig.WaitForMessage(kIdsUpdating));
    EXPECT_LT(u.FontWeight(m, kIdcMessage), 700);
    EXPECT_NE(u.TextColor(m, kIdcMessage), kRed);
    EXPECT_EQ(rig.State(), MainDialogState::Updating);
    EXPECT_FALSE(u.Enabled(m));
    EXPECT_FALSE(u.Enabled(m, kIdcStart));
    EXPECT_FALSE(u.Enabled(m, kIdcCancelButton));
    EXPECT_EQ(rig.keepAwake.held.load(), 1) << "the system stays awake during the update";

    // The bar as the user sees it: never backwards, within 0..100.
    std::vector<int> seen;
    while (rig.State() == MainDialogState::Updating) {
        // Read in one go on the UI thread: the window may go at any moment.
        std::optional<int> pos;
        rig.backend.Invoke([&] {
            if (rig.backend.IsWindow(p)) {
                pos = rig.backend.GetProgressPos(rig.backend.GetItem(p, kIdcProgressBar));
            }
        });
        if (pos && (seen.empty() || seen.back() != *pos)) {
            seen.push_back(*pos);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(rig.WaitForUpdateEnd());
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0);
    EXPECT_LE(seen.back(), 100);
    EXPECT_GT(seen.back(), 50) << "the second image's half was shown";
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int v) { return v > 10 && v <= 50; }))
        << "the first image's half was shown";

    EXPECT_EQ(u.Text(m, kIdcMessage), S(kIdsUpdated));
    EXPECT_LT(u.FontWeight(m, kIdcMessage), 700);
    EXPECT_NE(u.TextColor(m, kIdcMessage), kRed);
    EXPECT_FALSE(u.FindDialog(kIddProgress));
    EXPECT_TRUE(u.Enabled(m));
    EXPECT_FALSE(u.Enabled(m, kIdcStart));
    EXPECT_TRUE(u.Enabled(m, kIdcCancelButton));
    EXPECT_EQ(u.Text(m, kIdcCancelButton), u"Close");
    EXPECT_EQ(u.FocusId(m), kIdcCancelButton);
    EXPECT_FALSE(u.Enabled(m, 1013)) << "the updated version is greyed";
    EXPECT_FALSE(u.Enabled(m, 1014));
    EXPECT_EQ(rig.backend.ForegroundRequest(), m);
    EXPECT_EQ(rig.keepAwake.held.load(), 0);
    EXPECT_EQ(rig.keepAwake.begins.load(), 1);
    EXPECT_TRUE(rig.WithDialog<bool>([](CMainDlg* d) { return !d->Controller().UpdateRunning(); }))
        << "the update thread was taken down with the end message";

    // The device comes back in normal mode with the new firmware: shown,
    // without a message and without Start.
    ASSERT_TRUE(Eventually([&] { return u.Text(m, 1011) == u"1.07"; }));
    EXPECT_EQ(u.Text(m, kIdcMessage), S(kIdsUpdated));
    EXPECT_FALSE(u.Enabled(m, kIdcStart));
    EXPECT_EQ(rig.State(), MainDialogState::UpdateEnded);

    ASSERT_TRUE(u.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(UpdateRun, FailureShowsTheFailureInBoldRedAndCloseStillQuitsWithTwo) {
    AppRig rig;
    rig.Start("setinfo-error");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    ASSERT_TRUE(rig.user.Click(m, kIdcStart));
    ASSERT_TRUE(rig.WaitForUpdateEnd());
    EXPECT_EQ(rig.user.Text(m, kIdcMessage), u"Failed to update firmware.");
    EXPECT_GE(rig.user.FontWeight(m, kIdcMessage), 700);
    EXPECT_EQ(rig.user.TextColor(m, kIdcMessage), kRed);
    EXPECT_EQ(rig.user.Text(m, kIdcCancelButton), u"Close");
    EXPECT_FALSE(rig.user.Enabled(m, kIdcStart));
    EXPECT_EQ(rig.keepAwake.held.load(), 0);
    EXPECT_FALSE(rig.user.OpenBox()) << "a failed run is no fatal error";
    ASSERT_TRUE(rig.user.PressEscape());
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(UpdateRun, TheCloseCommandAndEscAreIgnoredWhileUpdating) {
    AppRig rig;
    rig.Start("slow-write");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    ASSERT_TRUE(rig.user.Click(m, kIdcStart));
    ASSERT_TRUE(rig.WaitForMessage(kIdsUpdating));
    // What the user can reach: the progress dialog on top ignores both.
    rig.user.CloseCommand();
    rig.user.PressEscape();
    ASSERT_TRUE(rig.backend.WaitIdle());
    EXPECT_TRUE(rig.user.FindDialog(kIddProgress));
    // Even when the messages reach the dialog (the window is disabled, so
    // only the program itself could send them).
    rig.backend.Invoke([&] {
        rig.backend.Send(m, msg::kSysCommand, kScClose, 0);
        rig.backend.Send(m, msg::kCommand, kIdCancel, 0);
    });
    ASSERT_TRUE(rig.backend.WaitIdle());
    EXPECT_EQ(rig.State(), MainDialogState::Updating);
    ASSERT_TRUE(rig.WaitForUpdateEnd(std::chrono::seconds(120)));
    EXPECT_FALSE(rig.Ended()) << "no quit was posted during the update";
    ASSERT_TRUE(rig.user.CloseCommand());
    EXPECT_EQ(rig.ExitCode(), 2);
}

TEST(UpdateRun, DeviceReturningDuringTheUpdateShowsTheVersionsFromStart) {
    AppRig rig;
    rig.Start("mixed");
    const WindowRef m = rig.Accept();
    ASSERT_TRUE(m);
    ASSERT_TRUE(rig.WaitForMessage(kIdsPressStart));
    ASSERT_TRUE(rig.user.Click(m, kIdcStart));
    // The device restarts into update mode; the dialog re-opens it there
    // without asking for versions (the update-mode device has none to give).
    ASSERT_TRUE(Eventually([&] {
        return rig.talvo->Mode() == TalvoMode::kUpdate && rig.WithDialog<bool>([](CMainDlg* d) {
            return d->DeviceVersions() == VersionSlots{u"1.05", u"1.05", u"1.03"};
        });
    }));
    EXPECT_EQ(rig.user.Text(m, 1011), u"---");
    const auto commands = rig.talvo->CommandNames();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& c) { return c.rfind("get 0/6", 0) == 0; }),
              3)
        << "only the reading before Start";
    ASSERT_TRUE(rig.WaitForUpdateEnd());
    ASSERT_TRUE(rig.user.Click(m, kIdcCancelButton));
    EXPECT_EQ(rig.ExitCode(), 2);
}

}  // namespace
}  // namespace talvo
