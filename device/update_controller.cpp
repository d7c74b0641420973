#include "device/update_controller.h"

#include <cstring>

#include "firmware/firmware_package.h"

namespace talvo {

std::uint32_t OverallProgress(std::uint32_t index, std::uint32_t count, std::uint32_t percent) {
    return count == 0 ? 0 : (index * 100 + percent) / count;
}

UpdateController::UpdateController(IUpdateObserver& observer, IHidPlatform& platform)
    : observer_(observer), watcher_(platform), connection_(platform) {}

UpdateController::~UpdateController() {
    End();
}

bool UpdateController::Begin(IMessageTarget* uiTarget) {
    uiTarget_ = uiTarget;
    CDeviceCommApp::SetNotifyTarget(uiTarget);
    return watcher_.Begin(&UpdateController::PostModeChange, this) == 1;
}

bool UpdateController::End() {
    reporting_.store(false);
    watcher_.End();
    TakeDownUpdater();
    CloseConnection();
    if (uiTarget_ != nullptr && CDeviceCommApp::NotifyTarget() == uiTarget_) {
        CDeviceCommApp::SetNotifyTarget(nullptr);
    }
    return watcher_.ExitCode() != Thread::kStillActive &&
           updater_.ExitCode() != Thread::kStillActive;
}

void UpdateController::StopWatching() {
    watcher_.End();
    CloseConnection();
}

void UpdateController::PostModeChange(DeviceMode newMode, void* self) {
    auto* controller = static_cast<UpdateController*>(self);
    if (controller != nullptr && controller->uiTarget_ != nullptr) {
        controller->uiTarget_->Post(
            kMsgDeviceMode, static_cast<std::uintptr_t>(static_cast<std::uint32_t>(newMode)), 0);
    }
}

void UpdateController::OnJobProgress(int percent, void* self) {
    auto* controller = static_cast<UpdateController*>(self);
    if (controller == nullptr || !controller->reporting_.load()) {
        return;
    }
    const CFirmUpdater& updater = controller->updater_;
    const std::uint32_t job = updater.currentIndex.load();
    controller->observer_.OnUpdateProgress(
        OverallProgress(job, updater.runCount.load(), static_cast<std::uint32_t>(percent)), job);
}

bool UpdateController::Handle(std::uint32_t message, std::uintptr_t wParam) {
    switch (message) {
        case kMsgDeviceMode:
            OnModeReport(static_cast<DeviceMode>(static_cast<std::uint32_t>(wParam)));
            return true;
        case kMsgUpdateEnded:
            OnUpdateEnded(wParam == 1);
            return true;
        default:
            return false;
    }
}

void UpdateController::OnModeReport(DeviceMode newMode) {
    mode_ = newMode;
    if (newMode == kDeviceModeNone) {
        CloseConnection();
        observer_.OnDeviceAbsent();
        return;
    }
    observer_.OnOpening();
    const bool opened = connection_.Open(newMode, watcher_.UnitLocation());
    if (opened) {
        connection_.ready.store(1);
    }
    observer_.OnOpened();
    if (!opened) {
        if (connection_.LastOpenInUse()) {
            observer_.OnDeviceInUse();
        }
        return;
    }
    if (state_ == State::kUpdating) {
        // The device is not asked during an update: the versions it had at
        // the start stand.
        deviceVersion_ = savedVersion_;
        observer_.OnDevicePresent(deviceVersion_);
        return;
    }
    ReadVersions();
}

void UpdateController::Follow(const std::string& location) {
    watcher_.Follow(location);
}

void UpdateController::RetryOpen() {
    if (mode_ > kDeviceModeNone && !connection_.IsOpen()) {
        OnModeReport(mode_);
    }
}

bool ReadVersionSlot(CDeviceCommApp& connection, std::size_t slot, std::u16string& text,
                     bool& busy) {
    ResultCode result = 0;
    FirmVersion bytes{};
    busy = false;
    {
        CriticalSection guard(&connection.lock);
        std::memset(connection.params.b, 0, sizeof connection.params.b);
        StoreU32(connection.params, 0, static_cast<std::uint32_t>(kVersionTypeCodes[slot]));
        result = connection.RunCommand(UpdateController::kKeyReadVersion);
        if (result == kResultOk) {
            std::memcpy(bytes.data(), connection.params.b + 4, 4);
        } else {
            busy = connection.lastStatus == UpdateController::kStatusBusy;
        }
    }
    if (result == kResultOk) {
        text = VersionTextToUtf16(bytes);
    }
    return result == kResultOk;
}

bool UpdateController::ReadSlot(std::size_t slot, bool busyIsRefusal) {
    std::u16string text;
    bool busy = false;
    const bool read = ReadVersionSlot(connection_, slot, text, busy);
    if (busy && !busyIsRefusal) {
        return false;
    }
    deviceVersion_[slot] = read ? text : kVersionUnknown;
    return true;
}

void UpdateController::ReadVersions(bool busyIsRefusal) {
    if (state_ == State::kUpdating) {
        // The update thread has the device to itself.
        return;
    }
    for (std::size_t slot = 0; slot < kVersionTypeCodes.size(); ++slot) {
        if (!ReadSlot(slot, busyIsRefusal)) {
            observer_.OnDeviceBusy();
            return;
        }
    }
    observer_.OnDevicePresent(deviceVersion_);
}

void UpdateController::CloseConnection() {
    connection_.ready.store(0);
    connection_.Close();
    for (std::u16string& version : deviceVersion_) {
        version.clear();
    }
}

void UpdateController::TakeDownUpdater() {
    // Waits without limit: the thread reads the job block, the images and
    // the connection up to its last act.
    updater_.StopAndWait();
    if (updater_.connection != nullptr) {
        updater_.connection->Close();
        updater_.connection = nullptr;
    }
    updater_.ClearJobs();
}

void UpdateController::OnUpdateEnded(bool success) {
    if (state_ != State::kUpdating) {
        return;  // one end per update (a late copy of the message is ignored)
    }
    state_ = State::kEnded;
    succeeded_ = success;
    TakeDownUpdater();
    CloseConnection();
    if (uiTarget_ != nullptr) {
        // Goes on watching (a watcher that still runs keeps running).
        watcher_.Begin(&UpdateController::PostModeChange, this);
    }
    observer_.OnUpdateEnded(success, updater_.LastResult());
}

bool UpdateController::DeviceReady() const {
    return mode_ > kDeviceModeNone && connection_.IsOpen() && connection_.ready.load() != 0;
}

bool UpdateController::UpdateNeeded(const FirmwarePackage& package) const {
    std::array<bool, 3> hasImage{};
    for (std::size_t slot = 0; slot < hasImage.size(); ++slot) {
        hasImage[slot] = package.HasImage(static_cast<int>(slot));
    }
    return IsUpdateNeeded(deviceVersion_, package.imageVersion, hasImage);
}

bool UpdateController::StartUpdate(const FirmwarePackage& package) {
    if (state_ != State::kIdle || UpdateRunning()) {
        return false;
    }
    updater_.ClearJobs();
    std::uint32_t count = 0;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot)) {
            updater_.jobs[count] =
                UpdateJob{package.imageData[slot].get(), package.imageLength[slot],
                          &UpdateController::OnJobProgress, this};
            ++count;
        }
    }
    if (count == 0) {
        return false;
    }
    savedVersion_ = deviceVersion_;
    // The update belongs to the unit it starts on: through the mode switch
    // the watcher looks at that unit alone, so another unit's update mode
    // is never taken for it.
    if (watcher_.Followed().empty()) {
        watcher_.Follow(connection_.Location());
    }
    updater_.connection = &connection_;
    updater_.jobCount = count;
    updater_.notifyWindow = uiTarget_;
    updater_.notifyMessage = kMsgUpdateEnded;
    if (updater_.Start(u"CFirmUpdater", 0) != 1) {
        TakeDownUpdater();
        return false;
    }
    state_ = State::kUpdating;
    return true;
}

}  // namespace talvo
