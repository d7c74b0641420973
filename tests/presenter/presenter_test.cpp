// The presenter with a recording view, an emulated TALVO and the pump of a
// front end without a window system.
#include "presenter/update_presenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulated_setup.h"
#include "presenter/presenter_pump.h"

namespace talvo {
namespace {

// What the presenter asked of its view, and the answers it gets.
class RecordingView final : public IUpdateView {
  public:
    explicit RecordingView(PresenterPump& pump) : pump_(pump) {}

    bool AskAgreement() override { return true; }
    void ShowMessage(int, bool) override {}
    void ShowDevice(const DeviceFacts& facts) override { shown = facts.versions; }
    void EnableButton(Button, bool) override {}
    void Focus(Button) override {}
    void OpenConfirmation(Confirmation question) override { asked.push_back(question); }
    void CloseConfirmation() override {}
    void StartTimer(PresenterTimer timer, std::uint32_t ms) override {
        if (timer == PresenterTimer::kBusyRetry) {
            retryTimers.push_back(ms);
        }
        pump_.StartTimer(timer, ms);
    }
    void StopTimer(PresenterTimer timer) override { pump_.StopTimer(timer); }
    bool OpenProgress(IMessageTarget**) override { return true; }
    void ShowProgress(std::uint32_t percent, std::uint32_t job) override {
        progress.push_back({percent, job});
        offThread = offThread || std::this_thread::get_id() != uiThread;
    }
    void CloseProgress() override {}
    void ShowUpdateEnded() override {}
    void ShowFatal(int) override {}
    void EndProgram(const EndResult&) override {}

    VersionSlots shown;
    std::vector<Confirmation> asked;
    std::vector<std::uint32_t> retryTimers;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;  // percent, job
    std::thread::id uiThread = std::this_thread::get_id();
    bool offThread = false;

  private:
    PresenterPump& pump_;
};

struct Rig {
    Rig(const Scenario& scenario, const PresenterPolicy& policy)
        : device(scenario, 50.0),
          view(pump),
          presenter(view, policy, device.Platform(), NoKeepAwake()) {}

    bool Run(const std::function<bool()>& done) { return pump.RunUntil(presenter, done, 600000); }

    EmulatedSetup device;
    PresenterPump pump;
    RecordingView view;
    UpdatePresenter presenter;
};

// Catches: the terminal's bounded retry asking a busy device without end,
// one time too few or too many, or giving up with anything but "---".
TEST(PresenterBusy, TheBoundedRetryAsksItsNumberOfTimesThenReadsBusyAsRefused) {
    Scenario scenario = Scenario::Named("current");
    scenario.faults.push_back(Fault::Busy(1000000));
    PresenterPolicy policy;
    policy.busyRetryLimit = 2;
    Rig rig(scenario, policy);
    ASSERT_TRUE(rig.presenter.Start(rig.pump.Target()));
    ASSERT_TRUE(rig.Run([&] { return rig.view.shown[2] == kVersionUnknown; }));
    EXPECT_EQ(rig.view.shown, (VersionSlots{u"---", u"---", u"---"}));
    EXPECT_EQ(rig.view.retryTimers, (std::vector<std::uint32_t>{1000, 1000, 1000}));
    // The first reading and two retries stop at slot 0; the last reads all three.
    EXPECT_EQ(rig.device.Talvo().CommandNames(),
              (std::vector<std::string>{"get 0/6 value=0", "get 0/6 value=0", "get 0/6 value=0",
                                        "get 0/6 value=0", "get 0/6 value=1", "get 0/6 value=3"}));
}

// Catches: the recovery of a device left in update mode leaking into the
// Windows program (which updates such a device at once, its versions being
// unknown), or the recovery policy updating it without asking.
TEST(PresenterStart, ADeviceInUpdateModeIsConfirmedOnlyUnderTheRecoveryPolicy) {
    for (const bool recovery : {false, true}) {
        SCOPED_TRACE(recovery ? "recovery" : "windows");
        PresenterPolicy policy;
        policy.recoverUpdateMode = recovery;
        Rig rig(Scenario::Named("update-mode"), policy);
        ASSERT_TRUE(rig.presenter.Start(rig.pump.Target()));
        ASSERT_TRUE(rig.Run([&] { return rig.presenter.Facts().opened; }));
        rig.presenter.OnStartClicked();
        if (recovery) {
            EXPECT_EQ(rig.view.asked, std::vector<Confirmation>{Confirmation::kUpdateModeRecovery});
            EXPECT_EQ(rig.presenter.State(), MainDialogState::Idle);
        } else {
            EXPECT_TRUE(rig.view.asked.empty());
            EXPECT_EQ(rig.presenter.State(), MainDialogState::Updating);
        }
    }
}

// Catches: progress handed to the view on the updater thread, or naming the
// wrong image of the two.
TEST(PresenterProgress, ReachesTheViewOnItsThreadWithTheImageItBelongsTo) {
    PresenterPolicy policy;
    policy.unattended = true;
    Rig rig(Scenario::Named("outdated"), policy);
    ASSERT_TRUE(rig.presenter.Start(rig.pump.Target()));
    ASSERT_TRUE(rig.Run([&] { return rig.presenter.Ended(); }));
    EXPECT_EQ(rig.presenter.Result().outcome, Outcome::kUpdated);
    EXPECT_FALSE(rig.view.offThread);
    const auto& seen = rig.view.progress;
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (std::pair<std::uint32_t, std::uint32_t>{100, 1}));
    for (const auto& [percent, job] : seen) {
        EXPECT_EQ(job, percent > 50 ? 1u : 0u) << percent;
    }
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

}  // namespace
}  // namespace talvo
