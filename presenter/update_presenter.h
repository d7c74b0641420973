// UpdatePresenter: what a front end shows and does, for all three of them.
// The Windows main dialog, the desktop window and the terminal program are
// renderers of it: they turn its calls on IUpdateView into controls, texts,
// boxes and timers, and report the user's acts back (Start, the answer to a
// confirmation, Cancel, the close command, a timer that fired).
//
// What happens when the user presses Start is OnStartClicked in
// update_presenter.cpp, and everything it leads to follows it there: the
// decision whether the package is needed or must be confirmed first, what a
// declined confirmation does, the progress dialog and the keep-awake
// request, the end of the update, the verification after it and the end
// result with its exit code. The device conversation itself is the
// UpdateController's (device/), which the presenter owns; no view reaches it.
//
// Policies tell the programs apart where they differ: a busy device asked
// again every second without limit (the windows) or a bounded number of
// times (the terminal); the terminal's unattended run with its wait for the
// device, its recovery of a device left in update mode and its verification
// after the update; the look-out for a TALVO this user may not open.
//
// Threads: everything runs on the UI thread of the view, except the
// progress reports of the updater thread, which the presenter only posts
// (to the view's progress window, or to its own UI target, and then hands
// them to ShowProgress on the UI thread).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "base/message_target.h"
#include "device/unit_list.h"
#include "device/update_controller.h"
#include "firmware/firmware_package.h"
#include "hid/hid_access.h"
#include "shell/keep_awake.h"

namespace talvo {

class IHidPlatform;

// The states a front end is in; the Windows main dialog's own names and
// values.
enum class MainDialogState : std::int32_t {
    Constructed = 0,  // object exists, window not yet initialised
    Starting = 1,     // the start-up runs (agreement, package, watcher)
    Idle = 2,         // watcher running; waiting for the device and for Start
    Updating = 3,     // the update thread runs
    UpdateEnded = 4,  // an update has ended, successfully or not
    Quitting = 5,     // the program is ending
};

// The timers the presenter asks its view for. A started timer fires every
// `ms` until stopped.
enum class PresenterTimer : std::uint32_t {
    kBusyRetry = 1,    // ask a busy device for its versions again
    kAccessCheck = 2,  // look for a TALVO this user may not open
    kDeviceWait = 3,   // unattended: the wait for the device is over
    kVerifyWait = 4,   // unattended: the device did not come back in time
    kInUseRetry = 5,   // try again to open a unit another updater converses with
    kUnitCheck = 6,    // look which units are attached (the chooser)
};
inline constexpr std::uint32_t kPresenterTimerCount = 6;

// What a confirmation asks.
enum class Confirmation {
    kUpdateNotNeeded,     // "No update needed. Start update?" (string 4003)
    kUpdateModeRecovery,  // the device waits in update mode after an earlier run
};

// The stages of an unattended run, for a view that reports them.
enum class Stage { kWaiting, kReady, kUpdating, kVerifying };

enum class Button { kStart, kCancel };

// The device as a front end shows it.
struct DeviceFacts {
    DeviceMode mode = kDeviceModeNone;  // 0 none, 1 normal, 2 update
    bool opened = false;                // open and accepted
    VersionSlots versions;              // by slot: empty not read, "---" refused
    // The one version the main dialog shows: the Normal version when Normal
    // and DspMain agree and all three were read, else "---" (empty: none).
    std::u16string summary;
    bool updateNeeded = false;  // opened, and in update mode or older than the package
};

// How a run ended.
enum class Outcome {
    kUserEnded,          // Cancel, Close, Esc or the close command
    kAgreementDeclined,  // the agreement was not accepted
    kFatal,              // a failure box was shown (messageId); the program ends
    // Unattended runs only:
    kNoDevice,              // no TALVO came in time
    kCannotOpen,            // one was seen but could not be opened
    kNoAccess,              // one is there that this user may not open (deniedPath)
    kDeviceRead,            // report-only: the device was found and read
    kNotConfirmed,          // no update was needed and it was not confirmed
    kRecoveryNotConfirmed,  // the device waits in update mode; not confirmed
    kUpdated,               // updated (verification off)
    kUpdateFailed,          // the update failed (updateResult)
    kVerified,              // updated and read back as the package's
    kVerifyMismatch,        // updated, but other versions came back (mismatched)
    kVerifyNotBack,         // updated, but the device did not come back in normal mode
    kInUse,                 // another updater converses with the unit
};

struct EndResult {
    Outcome outcome = Outcome::kUserEnded;
    int messageId = 0;                 // kFatal: the box's string
    ResultCode updateResult = 0;       // the update's result, once one ran
    std::string deniedPath;            // kNoAccess
    std::array<bool, 3> mismatched{};  // kVerifyMismatch, by slot
    DeviceFacts facts;                 // the device as last seen

    // The exit code of the windowed programs: 3 after a failure box, 2
    // when the user (or the agreement) ended it.
    int ExitCode() const { return outcome == Outcome::kFatal ? 3 : 2; }
};

struct PresenterPolicy {
    // A device that answers the version reading busy is asked again every
    // busyRetryMs; after busyRetryLimit retries (-1: never) one last reading
    // takes a busy answer as a refusal ("---").
    std::uint32_t busyRetryMs = 1000;
    int busyRetryLimit = -1;
    // No Start button and one run: the decision is taken as soon as the
    // device is read, a declined confirmation ends the run, and the run
    // ends after its update.
    bool unattended = false;
    std::uint32_t deviceWaitMs = 30000;  // unattended: how long to wait for the device
    bool reportOnly = false;             // unattended: end once the device is read
    // A device found in update mode (an earlier update did not finish) is
    // named and updated once confirmed, whatever its versions.
    bool recoverUpdateMode = false;
    // After a successful update, wait up to verifyWaitMs for the device in
    // normal mode and compare its versions with the package's.
    bool verify = false;
    std::uint32_t verifyWaitMs = 60000;
    // Look every accessCheckMs for a TALVO this user may not open.
    bool watchAccess = false;
    std::uint32_t accessCheckMs = 250;
    // A unit another updater converses with is tried again every
    // inUseRetryMs (an unattended run ends instead).
    std::uint32_t inUseRetryMs = 1000;
    // Only the unit plugged in at this location (empty: any unit).
    std::string unitLocation;
    // Look every unitCheckMs which units are attached; with several, the
    // user chooses one (ChooseUnit) before Start.
    bool offerUnits = false;
    std::uint32_t unitCheckMs = 1000;

    // The Windows program's: nothing but the busy retry without limit.
    static PresenterPolicy Windows() { return {}; }
    // The desktop program's: the Windows program's, and the look-out for a
    // TALVO this user may not open.
    static PresenterPolicy Desktop() {
        PresenterPolicy policy;
        policy.watchAccess = true;
        policy.offerUnits = true;
        return policy;
    }
};

// What a front end renders. Every call comes on the UI thread.
class IUpdateView {
  public:
    virtual ~IUpdateView() = default;

    // Start-up, in this order.
    virtual void ShowStarting() {}
    // The agreement; true when accepted (a view may ask nobody).
    virtual bool AskAgreement() = 0;
    virtual void ShowPackage(const FirmwarePackage&) {}
    virtual void ShowStarted() {}
    virtual void ShowStage(Stage) {}

    // The device display.
    virtual void ShowOpening(bool) {}  // a present device is being opened
    virtual void ShowMessage(int baseId, bool alert) = 0;
    virtual void ShowDevice(const DeviceFacts& facts) = 0;
    // A TALVO this user may not open, at `path`; empty: none (or no longer).
    virtual void ShowDeviceProblem(const std::string&) {}
    // The attached units (versions empty where not read) and the chosen
    // one's location (empty: none chosen), when either changed.
    struct UnitChoice {
        UnitEntry unit;
        VersionSlots versions;
    };
    virtual void ShowUnits(const std::vector<UnitChoice>&, const std::string& /*chosen*/) {}

    virtual void EnableButton(Button button, bool enable) = 0;
    virtual void Focus(Button button) = 0;

    // A confirmation; the answer comes back through
    // UpdatePresenter::OnConfirmationClosed (also from inside this call).
    virtual void OpenConfirmation(Confirmation question) = 0;
    // Closes the open confirmation as if declined.
    virtual void CloseConfirmation() = 0;

    virtual void StartTimer(PresenterTimer timer, std::uint32_t ms) = 0;
    virtual void StopTimer(PresenterTimer timer) = 0;

    // The update's progress display; false when it cannot be shown. A view
    // whose progress window follows kMsgUpdateProgress (wParam the bar
    // position) by itself puts its target in *window; otherwise the
    // presenter hands the progress to ShowProgress.
    virtual bool OpenProgress(IMessageTarget** window) = 0;
    virtual void ShowProgress(std::uint32_t /*percent*/, std::uint32_t /*job*/) {}
    // Removes the progress display and enables the main window again.
    virtual void CloseProgress() = 0;
    virtual void BringToFront() {}
    // The update has ended: the updated versions greyed, Cancel reads Close
    // and has the focus.
    virtual void ShowUpdateEnded() = 0;

    // A failure box (error icon, OK), shown until the user closes it.
    virtual void ShowFatal(int baseId) = 0;
    // The run is over: the view ends the program (or its loop).
    virtual void EndProgram(const EndResult& result) = 0;
};

class UpdatePresenter : private IUpdateObserver {
  public:
    // Fills `package` from the firmware the program carries; 1 when at
    // least one slot holds an image.
    using PackageLoader = int (*)(FirmwarePackage& package);

    // The platform and the keep-awake implementation must outlive the
    // presenter.
    UpdatePresenter(IUpdateView& view, const PresenterPolicy& policy, IHidPlatform& platform,
                    IKeepAwake& keepAwake, PackageLoader loader = &LoadFirmwarePackage);
    // As Shutdown.
    ~UpdatePresenter() override;
    UpdatePresenter(const UpdatePresenter&) = delete;
    UpdatePresenter& operator=(const UpdatePresenter&) = delete;

    // The start-up: the agreement, the package, the watcher (whose news and
    // the updater's are posted to `uiTarget`). False when it ended the run.
    bool Start(IMessageTarget* uiTarget);

    // What reaches the UI thread: a posted kMsgDeviceMode, kMsgUpdateEnded
    // or kMsgUpdateProgress (false for others), a timer that fired.
    bool Handle(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    void OnTimer(PresenterTimer timer);

    // What the user does.
    void OnStartClicked();
    void OnConfirmationClosed(bool confirmed);
    void OnCancelClicked();
    // The user chose the unit at `location` (before an update only).
    void ChooseUnit(const std::string& location);
    void OnCloseCommand();
    // The main window is being destroyed.
    void OnWindowDestroyed();

    // Ends the watcher, waits for the updater and closes the connection;
    // nothing reaches the view afterwards. Idempotent.
    void Shutdown();

    MainDialogState State() const { return state_; }
    // Base ID of the message area's text; 0 before the first.
    int MessageId() const { return messageId_; }
    const FirmwarePackage& Package() const { return package_; }
    DeviceFacts Facts() const;
    bool Ended() const { return ended_; }
    const EndResult& Result() const { return result_; }
    // The device conversation, to look at (its public side is queries).
    const UpdateController& Controller() const { return controller_; }

  private:
    void StartUpdate();
    void Decide();
    void Verify();
    void ShowMessage(int baseId);
    void Fatal(int baseId);
    void End(EndResult result);
    void CheckAccess();
    void CheckUnits();

    // What the controller reports.
    void OnOpening() override;
    void OnOpened() override;
    void OnDeviceAbsent() override;
    void OnDevicePresent(const VersionSlots& versions) override;
    void OnDeviceBusy() override;
    void OnDeviceInUse() override;
    void OnUpdateProgress(std::uint32_t percent, std::uint32_t job) override;
    void OnUpdateEnded(bool success, ResultCode result) override;

    IUpdateView& view_;
    const PresenterPolicy policy_;
    IHidPlatform& platform_;
    PackageLoader loadPackage_;
    FirmwarePackage package_;
    KeepAwakeRequest keepAwake_;
    // Where the updater thread posts progress while an update runs.
    std::atomic<IMessageTarget*> progressTarget_{nullptr};
    bool progressToView_ = false;  // the target is the view's progress window
    IMessageTarget* uiTarget_ = nullptr;
    std::optional<HidAccessWatch> access_;
    UpdateController controller_;

    MainDialogState state_ = MainDialogState::Constructed;
    int messageId_ = 0;
    std::optional<Confirmation> question_;  // the confirmation that is open
    int busyAnswers_ = 0;                   // busy answers since the device was last read or went
    bool decided_ = false;    // unattended: the device was read and the decision taken
    bool verifying_ = false;  // unattended: waiting for the device after the update
    bool ended_ = false;
    EndResult result_;
    // Several units are attached and none is chosen: no Start yet.
    bool choiceNeeded_ = false;
    std::vector<IUpdateView::UnitChoice> units_;
};

// The message texts shown as alerts (bold red): "press Start", "connect
// the device" and the failure.
bool IsAlertMessage(int baseId);

// The main dialog's one version for `versions` (see DeviceFacts::summary).
std::u16string SummaryVersion(const VersionSlots& versions);

}  // namespace talvo
