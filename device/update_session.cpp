#include "device/update_session.h"

#include <cstring>

#include "device/clock.h"
#include "firmware/firmware_package.h"

namespace talvo {

CUpdateSession::CUpdateSession() = default;

CUpdateSession::~CUpdateSession() {
    watcher.End();
    updater.Stop(CFirmUpdater::kStopLimitMs);
    updater.connection = nullptr;
    updater.ClearJobs();
    CloseDeviceConnection();
    if (CDeviceCommApp::NotifyTarget() == &queue) {
        CDeviceCommApp::SetNotifyTarget(nullptr);
    }
    queue.Close();
}

bool CUpdateSession::Begin() {
    CDeviceCommApp::SetNotifyTarget(&queue);
    return watcher.Begin(&CUpdateSession::PostModeChange, this) == 1;
}

void CUpdateSession::PostModeChange(DeviceMode newMode, void* self) {
    if (self != nullptr) {
        static_cast<CUpdateSession*>(self)->queue.Post(
            kMsgDeviceMode, static_cast<std::uintptr_t>(static_cast<std::uint32_t>(newMode)), 0);
    }
}

void CUpdateSession::PostUpdateProgress(int percent, void* self) {
    if (self == nullptr) {
        return;
    }
    auto* session = static_cast<CUpdateSession*>(self);
    const std::uint32_t count = session->updater.runCount.load();
    const std::uint32_t index = session->updater.currentIndex.load();
    const std::uint32_t overall =
        count == 0 ? 0 : (index * 100 + static_cast<std::uint32_t>(percent)) / count;
    session->queue.Post(kMsgUpdateProgress, overall, 0);
}

bool CUpdateSession::Pump(std::uint32_t timeoutMs) {
    ThreadMessage message;
    if (!queue.Take(&message, timeoutMs)) {
        return false;
    }
    Handle(message);
    return true;
}

bool CUpdateSession::PumpUntil(const std::function<bool()>& done, std::uint32_t limitMs) {
    IClock& clock = Clock::Current();
    const std::uint32_t start = clock.TickCount();
    while (!done()) {
        const std::uint32_t elapsed = clock.TickCount() - start;
        if (elapsed >= limitMs) {
            return false;
        }
        const std::uint32_t left = limitMs - elapsed;
        Pump(left < 50 ? left : 50);
    }
    return true;
}

void CUpdateSession::Handle(const ThreadMessage& message) {
    if (onMessage) {
        onMessage(message);
    }
    switch (message.message) {
        case kMsgDeviceMode:
            OnModeChanged(static_cast<DeviceMode>(static_cast<std::uint32_t>(message.wParam)));
            break;
        case kMsgUpdateEnded:
            state_ = State::kEnded;
            succeeded_ = message.wParam == 1;
            updater.Stop(CFirmUpdater::kStopLimitMs);
            if (updater.connection != nullptr) {
                updater.connection->Close();
                updater.connection = nullptr;
            }
            updater.ClearJobs();
            CloseDeviceConnection();
            break;
        default:
            // Progress and device events are for onMessage only.
            break;
    }
}

void CUpdateSession::OnModeChanged(DeviceMode newMode) {
    mode = newMode;
    if (newMode == kDeviceModeNone) {
        CloseDeviceConnection();
        return;
    }
    if (!connection.Open(newMode)) {
        return;
    }
    connection.ready.store(1);
    if (state_ != State::kUpdating) {
        ReadDeviceVersions();
    }
}

void CUpdateSession::CloseDeviceConnection() {
    connection.ready.store(0);
    connection.Close();
    for (std::u16string& version : deviceVersion) {
        version.clear();
    }
}

void CUpdateSession::ReadDeviceVersions() {
    for (std::size_t slot = 0; slot < kVersionTypeCodes.size(); ++slot) {
        for (int attempt = 0;; ++attempt) {
            ResultCode result = 0;
            char text[5] = {};
            {
                CriticalSection guard(&connection.lock);
                std::memset(connection.params.b, 0, sizeof connection.params.b);
                StoreU32(connection.params, 0, static_cast<std::uint32_t>(kVersionTypeCodes[slot]));
                result = connection.RunCommand(6);
                if (result == kResultOk) {
                    std::memcpy(text, connection.params.b + 4, 4);
                } else if (connection.lastStatus == kStatusBusy && attempt < kBusyRetries) {
                    result = kStatusBusy;
                }
            }
            if (result == kStatusBusy) {
                Clock::Current().Sleep(kBusyRetryMs);
                continue;
            }
            if (result == kResultOk) {
                deviceVersion[slot].clear();
                for (const char* c = text; *c != '\0'; ++c) {
                    deviceVersion[slot].push_back(
                        static_cast<char16_t>(static_cast<unsigned char>(*c)));
                }
            } else {
                deviceVersion[slot] = kVersionUnknown;
            }
            break;
        }
    }
}

bool CUpdateSession::DeviceReady() const {
    return mode > kDeviceModeNone && connection.IsOpen() && connection.ready.load() != 0;
}

bool CUpdateSession::UpdateNeeded(const FirmwarePackage& package) const {
    std::array<bool, 3> hasImage{};
    for (std::size_t slot = 0; slot < hasImage.size(); ++slot) {
        hasImage[slot] = package.HasImage(static_cast<int>(slot));
    }
    return IsUpdateNeeded(deviceVersion, package.imageVersion, hasImage);
}

bool CUpdateSession::StartUpdate(const FirmwarePackage& package) {
    if (state_ != State::kIdle || updater.HasThread()) {
        return false;
    }
    updater.ClearJobs();
    std::uint32_t count = 0;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot)) {
            updater.jobs[count] =
                UpdateJob{package.imageData[slot].get(), package.imageLength[slot],
                          &CUpdateSession::PostUpdateProgress, this};
            ++count;
        }
    }
    if (count == 0) {
        return false;
    }
    updater.connection = &connection;
    updater.jobCount = count;
    updater.notifyWindow = &queue;
    updater.notifyMessage = kMsgUpdateEnded;
    if (updater.Start(u"CFirmUpdater", 0) != 1) {
        updater.Stop(CFirmUpdater::kStopLimitMs);
        updater.connection = nullptr;
        updater.ClearJobs();
        return false;
    }
    state_ = State::kUpdating;
    return true;
}

}  // namespace talvo
