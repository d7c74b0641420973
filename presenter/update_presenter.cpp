#include "presenter/update_presenter.h"

#include <algorithm>

#include "hid/talvo_ids.h"
#include "resources/resource_ids.h"

namespace talvo {

bool IsAlertMessage(int baseId) {
    return baseId == kIdsPressStart || baseId == kIdsConnectDevice || baseId == kIdsUpdateFailed;
}

std::u16string SummaryVersion(const VersionSlots& versions) {
    if (versions[1] != versions[2] ||
        std::find(versions.begin(), versions.end(), kVersionUnknown) != versions.end()) {
        return kVersionUnknown;
    }
    return versions[1];
}

UpdatePresenter::UpdatePresenter(IUpdateView& view, const PresenterPolicy& policy,
                                 IHidPlatform& platform, IKeepAwake& keepAwake,
                                 PackageLoader loader)
    : view_(view),
      policy_(policy),
      platform_(platform),
      loadPackage_(loader),
      keepAwake_(keepAwake),
      controller_(*this, platform) {}

UpdatePresenter::~UpdatePresenter() {
    Shutdown();
}

void UpdatePresenter::Shutdown() {
    // Before anything the updater thread reaches goes: the package, the
    // progress target, this object.
    controller_.End();
    progressTarget_.store(nullptr);
    keepAwake_.Release();
}

DeviceFacts UpdatePresenter::Facts() const {
    DeviceFacts facts;
    facts.mode = std::max(controller_.Mode(), kDeviceModeNone);
    facts.opened = controller_.DeviceReady();
    facts.versions = controller_.Versions();
    facts.summary = SummaryVersion(facts.versions);
    facts.updateNeeded =
        facts.opened && (facts.mode == kDeviceModeUpdate || controller_.UpdateNeeded(package_));
    return facts;
}

// ---- start-up ----------------------------------------------------------------

bool UpdatePresenter::Start(IMessageTarget* uiTarget) {
    state_ = MainDialogState::Starting;
    messageId_ = 0;
    view_.ShowStarting();
    if (!view_.AskAgreement()) {
        End({Outcome::kAgreementDeclined});
        return false;
    }
    if (loadPackage_(package_) != 1 || !package_.HasAnyImage()) {
        Fatal(kIdsPackageFailed);
        return false;
    }
    view_.ShowPackage(package_);
    uiTarget_ = uiTarget;
    controller_.Follow(policy_.unitLocation);
    if (!controller_.Begin(uiTarget)) {
        Fatal(kIdsCannotFindDevice);
        return false;
    }
    if (policy_.watchAccess) {
        access_.emplace(platform_, kTalvoVendorId,
                        std::vector<std::uint16_t>{kTalvoNormalProductId, kTalvoUpdateProductId});
        view_.StartTimer(PresenterTimer::kAccessCheck, policy_.accessCheckMs);
    }
    if (policy_.unattended) {
        view_.StartTimer(PresenterTimer::kDeviceWait, policy_.deviceWaitMs);
    }
    if (policy_.offerUnits) {
        view_.StartTimer(PresenterTimer::kUnitCheck, policy_.unitCheckMs);
    }
    state_ = MainDialogState::Idle;
    view_.ShowStarted();
    view_.ShowStage(Stage::kWaiting);
    return true;
}

// ---- what reaches the UI thread --------------------------------------------------

bool UpdatePresenter::Handle(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
        case kMsgDeviceMode:
            controller_.OnModeReport(static_cast<DeviceMode>(static_cast<std::uint32_t>(wParam)));
            view_.ShowOpening(false);
            return true;
        case kMsgUpdateEnded:
            if (controller_.GetState() != UpdateController::State::kUpdating) {
                return true;  // this update's end was handled already
            }
            state_ = MainDialogState::UpdateEnded;
            controller_.OnUpdateEnded(wParam == 1);
            return true;
        case kMsgUpdateProgress:
            if (state_ == MainDialogState::Updating) {
                view_.ShowProgress(
                    static_cast<std::uint32_t>(std::min<std::uintptr_t>(wParam, 100)),
                    static_cast<std::uint32_t>(lParam));
            }
            return true;
        default:
            return false;  // device notifications (kMsgDeviceEvent) mean nothing here
    }
}

void UpdatePresenter::OnTimer(PresenterTimer timer) {
    switch (timer) {
        case PresenterTimer::kBusyRetry:
            // The whole reading again; past the policy's limit a busy answer
            // is taken as a refusal.
            view_.StopTimer(PresenterTimer::kBusyRetry);
            controller_.ReadVersions(policy_.busyRetryLimit >= 0 &&
                                     busyAnswers_ > policy_.busyRetryLimit);
            break;
        case PresenterTimer::kAccessCheck:
            CheckAccess();
            break;
        case PresenterTimer::kUnitCheck:
            CheckUnits();
            break;
        case PresenterTimer::kInUseRetry:
            view_.StopTimer(PresenterTimer::kInUseRetry);
            controller_.RetryOpen();
            break;
        case PresenterTimer::kDeviceWait:
            view_.StopTimer(PresenterTimer::kDeviceWait);
            // A device that is open is being read: that ends by itself.
            if (!decided_ && !ended_ && !controller_.ConnectionOpen()) {
                End({controller_.Mode() > kDeviceModeNone ? Outcome::kCannotOpen
                                                          : Outcome::kNoDevice});
            }
            break;
        case PresenterTimer::kVerifyWait:
            view_.StopTimer(PresenterTimer::kVerifyWait);
            if (verifying_) {
                verifying_ = false;
                End({Outcome::kVerifyNotBack});
            }
            break;
    }
}

void UpdatePresenter::CheckAccess() {
    if (!access_ || state_ != MainDialogState::Idle || controller_.DeviceReady()) {
        view_.ShowDeviceProblem({});
        return;
    }
    const std::vector<std::string> refused = access_->Poll();
    if (!refused.empty() && policy_.unattended && !decided_) {
        EndResult result{Outcome::kNoAccess};
        result.deniedPath = refused.front();
        End(result);
        return;
    }
    view_.ShowDeviceProblem(refused.empty() ? std::string() : refused.front());
}

// The chooser: which units are there (each one's versions read once, when
// it appears, unless it is the open one), and whether the user must choose.
void UpdatePresenter::CheckUnits() {
    if (state_ != MainDialogState::Idle) {
        return;
    }
    const std::vector<UnitEntry> attached = ListUnits(platform_);
    const std::string open = controller_.UnitLocation();
    std::vector<IUpdateView::UnitChoice> units;
    bool changed = attached.size() != units_.size();
    for (std::size_t i = 0; i < attached.size(); ++i) {
        IUpdateView::UnitChoice choice{attached[i], {}};
        const bool known = i < units_.size() && units_[i].unit.location == attached[i].location &&
                           units_[i].unit.mode == attached[i].mode;
        if (!attached[i].location.empty() && attached[i].location == open) {
            choice.versions = controller_.Versions();
        } else if (known) {
            choice.versions = units_[i].versions;
        } else if (attached.size() > 1) {
            choice.versions = ReadUnitVersions(platform_, attached[i]).versions;
        }
        changed = changed || !known || (i < units_.size() && choice.versions != units_[i].versions);
        units.push_back(std::move(choice));
    }
    units_ = std::move(units);
    if (changed) {
        view_.ShowUnits(units_, controller_.Followed());
    }
    const bool needed = units_.size() > 1 && controller_.Followed().empty();
    if (needed && !choiceNeeded_) {
        choiceNeeded_ = true;
        ShowMessage(kIdsSeveralUnits);
        view_.EnableButton(Button::kStart, false);
    } else if (!needed && choiceNeeded_) {
        choiceNeeded_ = false;
        if (controller_.DeviceReady()) {
            OnDevicePresent(controller_.Versions());
        }
    }
}

void UpdatePresenter::ChooseUnit(const std::string& location) {
    if (state_ != MainDialogState::Idle) {
        return;
    }
    controller_.Follow(location);
    choiceNeeded_ = false;
    view_.ShowUnits(units_, location);
    // The open unit is the chosen one: it stays; another one is opened
    // once the watcher has seen the change of unit.
    if (controller_.DeviceReady() && controller_.UnitLocation() == location) {
        OnDevicePresent(controller_.Versions());
    }
}

// ---- the device display ------------------------------------------------------

void UpdatePresenter::OnOpening() {
    view_.ShowOpening(true);
}

void UpdatePresenter::OnOpened() {
    view_.ShowOpening(false);
}

void UpdatePresenter::OnDeviceAbsent() {
    view_.StopTimer(PresenterTimer::kBusyRetry);
    view_.StopTimer(PresenterTimer::kInUseRetry);
    busyAnswers_ = 0;
    if (state_ == MainDialogState::Starting || state_ == MainDialogState::Idle) {
        ShowMessage(kIdsConnectDevice);
        if (question_) {
            // Closed as if declined; the answer then disables Start.
            view_.CloseConfirmation();
        } else {
            view_.EnableButton(Button::kStart, false);
            view_.Focus(Button::kCancel);
        }
    }
    view_.ShowDevice(Facts());
}

void UpdatePresenter::OnDevicePresent(const VersionSlots&) {
    view_.StopTimer(PresenterTimer::kBusyRetry);
    busyAnswers_ = 0;
    const bool waiting = state_ == MainDialogState::Starting || state_ == MainDialogState::Idle;
    if (waiting && choiceNeeded_) {
        view_.ShowDevice(Facts());
        return;  // Start waits for the user's choice of unit
    }
    if (waiting) {
        ShowMessage(kIdsPressStart);
        view_.EnableButton(Button::kStart, true);
        view_.Focus(Button::kStart);
    }
    view_.ShowDevice(Facts());
    if (waiting && policy_.unattended && !decided_ && !ended_) {
        decided_ = true;
        view_.StopTimer(PresenterTimer::kDeviceWait);
        view_.StopTimer(PresenterTimer::kAccessCheck);
        view_.ShowStage(Stage::kReady);
        if (policy_.reportOnly) {
            End({Outcome::kDeviceRead});
        } else {
            OnStartClicked();
        }
    } else if (verifying_ && controller_.Mode() == kDeviceModeNormal) {
        Verify();
    }
}

void UpdatePresenter::OnDeviceBusy() {
    // The display stays as it is; the reading starts again in a while.
    ++busyAnswers_;
    view_.StartTimer(PresenterTimer::kBusyRetry, policy_.busyRetryMs);
}

// Another of our programs has the unit: nothing is sent to it. An
// unattended run says so and ends; a window says so and tries again.
void UpdatePresenter::OnDeviceInUse() {
    if (policy_.unattended && !decided_ && !verifying_) {
        End({Outcome::kInUse});
        return;
    }
    if (state_ == MainDialogState::Starting || state_ == MainDialogState::Idle) {
        ShowMessage(kIdsDeviceInUse);
        view_.EnableButton(Button::kStart, false);
    }
    view_.StartTimer(PresenterTimer::kInUseRetry, policy_.inUseRetryMs);
}

void UpdatePresenter::ShowMessage(int baseId) {
    messageId_ = baseId;
    view_.ShowMessage(baseId, IsAlertMessage(baseId));
}

// ---- Start -------------------------------------------------------------------

// The user pressed Start (an unattended run presses it once the device is
// read). The update goes ahead at once when the package is needed; when it
// is not, or the device waits in update mode under the recovery policy,
// the user confirms first.
void UpdatePresenter::OnStartClicked() {
    if (state_ != MainDialogState::Idle || question_ || choiceNeeded_) {
        return;
    }
    if (policy_.recoverUpdateMode && controller_.Mode() == kDeviceModeUpdate) {
        question_ = Confirmation::kUpdateModeRecovery;
    } else if (controller_.UpdateNeeded(package_)) {
        StartUpdate();
        return;
    } else {
        question_ = Confirmation::kUpdateNotNeeded;
    }
    view_.OpenConfirmation(*question_);
}

// OK starts the update. Anything else (Cancel, Esc, the box closed because
// the device went) leaves the window as it was, Start disabled when no
// device is there; an unattended run ends.
void UpdatePresenter::OnConfirmationClosed(bool confirmed) {
    const std::optional<Confirmation> question = question_;
    question_.reset();
    if (!question) {
        return;
    }
    if (confirmed && state_ == MainDialogState::Idle) {
        StartUpdate();
        return;
    }
    if (policy_.unattended) {
        End({*question == Confirmation::kUpdateModeRecovery ? Outcome::kRecoveryNotConfirmed
                                                            : Outcome::kNotConfirmed});
        return;
    }
    if (g_currentDeviceMode.load() == kDeviceModeNone) {
        view_.EnableButton(Button::kStart, false);
        view_.Focus(Button::kCancel);
    }
}

// The progress display, the keep-awake request and the updater thread with
// one job per package image. A start that fails is fatal.
void UpdatePresenter::StartUpdate() {
    if (state_ == MainDialogState::Quitting) {
        return;
    }
    view_.EnableButton(Button::kStart, false);
    view_.EnableButton(Button::kCancel, false);
    IMessageTarget* window = nullptr;
    if (!view_.OpenProgress(&window)) {
        Fatal(kIdsUpdateFailed);
        return;
    }
    progressToView_ = window != nullptr;
    progressTarget_.store(window != nullptr ? window : uiTarget_);
    keepAwake_.Acquire();
    if (controller_.StartUpdate(package_)) {
        state_ = MainDialogState::Updating;
        ShowMessage(kIdsUpdating);
        view_.ShowStage(Stage::kUpdating);
        return;
    }
    progressTarget_.store(nullptr);
    keepAwake_.Release();
    view_.CloseProgress();
    view_.EnableButton(Button::kCancel, true);
    Fatal(kIdsUpdateFailed);
}

// On the updater thread: only posts. A progress window of the view's own
// gets the bar position alone; the presenter's own target also the job.
void UpdatePresenter::OnUpdateProgress(std::uint32_t percent, std::uint32_t job) {
    if (IMessageTarget* target = progressTarget_.load()) {
        target->Post(kMsgUpdateProgress, percent,
                     progressToView_ ? 0 : static_cast<std::intptr_t>(job));
    }
}

// The updater has been taken down and the connection closed (the device
// comes back by itself and is read again, without a message). The window
// comes to the front with the outcome; after it only Close remains.
void UpdatePresenter::OnUpdateEnded(bool success, ResultCode result) {
    progressTarget_.store(nullptr);
    keepAwake_.Release();
    view_.ShowDevice(Facts());
    view_.CloseProgress();
    view_.EnableButton(Button::kCancel, true);
    view_.BringToFront();
    ShowMessage(success ? kIdsUpdated : kIdsUpdateFailed);
    view_.ShowUpdateEnded();
    result_.updateResult = result;
    if (!policy_.unattended) {
        return;
    }
    if (!success) {
        EndResult failed{Outcome::kUpdateFailed};
        failed.updateResult = result;
        End(failed);
    } else if (policy_.verify) {
        verifying_ = true;
        view_.ShowStage(Stage::kVerifying);
        view_.StartTimer(PresenterTimer::kVerifyWait, policy_.verifyWaitMs);
    } else {
        End({Outcome::kUpdated});
    }
}

// The device is back in normal mode and read: its versions against the
// package's.
void UpdatePresenter::Verify() {
    verifying_ = false;
    view_.StopTimer(PresenterTimer::kVerifyWait);
    EndResult result{Outcome::kVerified};
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package_.HasImage(slot) &&
            controller_.Versions()[slot] != package_.imageVersion[slot]) {
            result.mismatched[slot] = true;
            result.outcome = Outcome::kVerifyMismatch;
        }
    }
    End(result);
}

// ---- the end -------------------------------------------------------------------

void UpdatePresenter::OnCancelClicked() {
    End({Outcome::kUserEnded});
}

void UpdatePresenter::OnCloseCommand() {
    // Never while an update runs.
    if (state_ != MainDialogState::Updating) {
        End({Outcome::kUserEnded});
    }
}

void UpdatePresenter::OnWindowDestroyed() {
    state_ = MainDialogState::Quitting;
    view_.CloseProgress();
    view_.EnableButton(Button::kCancel, true);
    view_.StopTimer(PresenterTimer::kBusyRetry);
    controller_.StopWatching();
}

void UpdatePresenter::Fatal(int baseId) {
    state_ = MainDialogState::Quitting;
    view_.ShowFatal(baseId);
    EndResult result{Outcome::kFatal};
    result.messageId = baseId;
    End(result);
}

void UpdatePresenter::End(EndResult result) {
    state_ = MainDialogState::Quitting;
    if (ended_ && policy_.unattended) {
        return;  // an unattended run ends once
    }
    ended_ = true;
    if (result.updateResult == 0) {
        result.updateResult = result_.updateResult;
    }
    result.facts = Facts();
    result_ = result;
    view_.EndProgram(result_);
}

}  // namespace talvo
