#include "device/update_controller.h"

#include <cstring>

#include "base/clock.h"
#include "firmware/firmware_package.h"

namespace talvo {

std::uint32_t OverallProgress(std::uint32_t index, std::uint32_t count, std::uint32_t percent) {
    return count == 0 ? 0 : (index * 100 + percent) / count;
}

UpdateController::UpdateController(IUpdateObserver& observer, BusyPolicy busy)
    : observer_(observer), busy_(busy) {}

UpdateController::~UpdateController() {
    End();
}

bool UpdateController::Begin(IMessageTarget* uiTarget) {
    uiTarget_ = uiTarget;
    CDeviceCommApp::SetNotifyTarget(uiTarget);
    return watcher.Begin(&UpdateController::PostModeChange, this) == 1;
}

void UpdateController::End() {
    reporting_.store(false);
    watcher.End();
    TakeDownUpdater();
    CloseConnection();
    if (uiTarget_ != nullptr && CDeviceCommApp::NotifyTarget() == uiTarget_) {
        CDeviceCommApp::SetNotifyTarget(nullptr);
    }
}

void UpdateController::StopWatching() {
    watcher.End();
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
    const CFirmUpdater& updater = controller->updater;
    controller->observer_.OnUpdateProgress(OverallProgress(
        updater.currentIndex.load(), updater.runCount.load(), static_cast<std::uint32_t>(percent)));
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
    const bool opened = connection.Open(newMode);
    if (opened) {
        connection.ready.store(1);
    }
    observer_.OnOpened();
    if (!opened) {
        return;
    }
    if (state_ == State::kUpdating) {
        // The device is not asked during an update: the versions it had at
        // the start stand.
        deviceVersion = savedVersion_;
        observer_.OnDevicePresent(deviceVersion);
        return;
    }
    ReadVersions();
}

bool UpdateController::ReadSlot(std::size_t slot) {
    for (int attempt = 0;; ++attempt) {
        ResultCode result = 0;
        FirmVersion text{};
        bool busy = false;
        {
            CriticalSection guard(&connection.lock);
            std::memset(connection.params.b, 0, sizeof connection.params.b);
            StoreU32(connection.params, 0, static_cast<std::uint32_t>(kVersionTypeCodes[slot]));
            result = connection.RunCommand(kKeyReadVersion);
            if (result == kResultOk) {
                std::memcpy(text.data(), connection.params.b + 4, 4);
            } else {
                busy = connection.lastStatus == kStatusBusy;
            }
        }
        if (busy) {
            if (busy_.kind == BusyPolicy::Kind::kAskAgainLater) {
                return false;
            }
            if (attempt < busy_.retries) {
                Clock::Current().Sleep(busy_.pauseMs);
                continue;
            }
        }
        deviceVersion[slot] = result == kResultOk ? VersionTextToUtf16(text) : kVersionUnknown;
        return true;
    }
}

void UpdateController::ReadVersions() {
    if (state_ == State::kUpdating) {
        // The update thread has the device to itself.
        return;
    }
    for (std::size_t slot = 0; slot < kVersionTypeCodes.size(); ++slot) {
        if (!ReadSlot(slot)) {
            observer_.OnDeviceBusy();
            return;
        }
    }
    observer_.OnDevicePresent(deviceVersion);
}

void UpdateController::CloseConnection() {
    connection.ready.store(0);
    connection.Close();
    for (std::u16string& version : deviceVersion) {
        version.clear();
    }
}

void UpdateController::TakeDownUpdater() {
    // Waits without limit: the thread reads the job block, the images and
    // the connection up to its last act.
    updater.StopAndWait();
    if (updater.connection != nullptr) {
        updater.connection->Close();
        updater.connection = nullptr;
    }
    updater.ClearJobs();
}

void UpdateController::OnUpdateEnded(bool success) {
    state_ = State::kEnded;
    succeeded_ = success;
    TakeDownUpdater();
    CloseConnection();
    if (uiTarget_ != nullptr) {
        // Goes on watching (a watcher that still runs keeps running).
        watcher.Begin(&UpdateController::PostModeChange, this);
    }
    observer_.OnUpdateEnded(success, updater.LastResult());
}

bool UpdateController::DeviceReady() const {
    return mode_ > kDeviceModeNone && connection.IsOpen() && connection.ready.load() != 0;
}

bool UpdateController::UpdateNeeded(const FirmwarePackage& package) const {
    std::array<bool, 3> hasImage{};
    for (std::size_t slot = 0; slot < hasImage.size(); ++slot) {
        hasImage[slot] = package.HasImage(static_cast<int>(slot));
    }
    return IsUpdateNeeded(deviceVersion, package.imageVersion, hasImage);
}

bool UpdateController::StartUpdate(const FirmwarePackage& package) {
    if (state_ != State::kIdle || updater.HasThread()) {
        return false;
    }
    updater.ClearJobs();
    std::uint32_t count = 0;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot)) {
            updater.jobs[count] =
                UpdateJob{package.imageData[slot].get(), package.imageLength[slot],
                          &UpdateController::OnJobProgress, this};
            ++count;
        }
    }
    if (count == 0) {
        return false;
    }
    savedVersion_ = deviceVersion;
    updater.connection = &connection;
    updater.jobCount = count;
    updater.notifyWindow = uiTarget_;
    updater.notifyMessage = kMsgUpdateEnded;
    if (updater.Start(u"CFirmUpdater", 0) != 1) {
        TakeDownUpdater();
        return false;
    }
    state_ = State::kUpdating;
    return true;
}

}  // namespace talvo
