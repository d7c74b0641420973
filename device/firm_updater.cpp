#include "device/firm_updater.h"

#include <cstring>

#include "base/clock.h"
#include "device/device_comm_app.h"
#include "firmware/firm_file.h"

namespace talvo {

CFirmUpdater::CFirmUpdater() = default;

CFirmUpdater::~CFirmUpdater() {
    // The thread reads the jobs and the connection to its end: never leave
    // it running on a freed object.
    StopAndWait();
    if (connection != nullptr) {
        connection->Close();
        connection = nullptr;
    }
    ClearJobs();
}

void CFirmUpdater::ClearJobs() {
    for (UpdateJob& job : jobs) {
        job = UpdateJob{};
    }
    jobCount = 0;
    notifyWindow = nullptr;
    notifyMessage = 0;
}

DeviceMode CFirmUpdater::CurrentMode() const {
    const DeviceMode mode = g_currentDeviceMode.load();
    if (mode != kDeviceModeNone && connection != nullptr && connection->ready.load() != 0) {
        return mode;
    }
    return kDeviceModeNone;
}

bool CFirmUpdater::WaitForMode(DeviceMode wanted, int checks, std::uint32_t intervalMs) const {
    IClock& clock = Clock::Current();
    for (int i = 0; i < checks; ++i) {
        if (CurrentMode() == wanted) {
            return true;
        }
        if (StopRequested()) {
            return false;
        }
        clock.Sleep(intervalMs);
    }
    return false;
}

ResultCode CFirmUpdater::SendSimple(int key, std::uint8_t argument) {
    if (connection == nullptr) {
        return kResultNotConnected;
    }
    std::memset(connection->params.b, 0, sizeof connection->params.b);
    connection->params.b[0] = argument;
    return connection->RunCommand(key);
}

std::uint32_t CFirmUpdater::Run() {
    const ResultCode result = RunSequence();
    // The closing request goes out on every outcome; its result is ignored.
    if (connection != nullptr) {
        SendSimple(kKeyRestart, kClosingRequest);
    }
    lastResult.store(result);
    if (notifyWindow != nullptr) {
        notifyWindow->Post(notifyMessage, result == kResultOk ? 1 : 0, 0);
    }
    return 0;
}

ResultCode CFirmUpdater::RunSequence() {
    IClock& clock = Clock::Current();
    currentIndex.store(0);
    runCount.store(jobCount);
    if (jobCount > kMaxJobs) {
        // More jobs than the block holds: nothing past it is read.
        return kResultFailed;
    }

    // A device in normal mode is asked to restart in update mode.
    if (g_currentDeviceMode.load() == kDeviceModeNormal && connection != nullptr &&
        connection->ready.load() != 0) {
        ResultCode restart = kResultFailed;
        for (int attempt = 0; attempt < kRestartAttempts; ++attempt) {
            restart = SendSimple(kKeyRestart, kRestartToUpdate);
            if (restart == kResultOk || StopRequested()) {
                break;
            }
            clock.Sleep(kRetryPauseMs);
        }
        if (restart != kResultOk) {
            return restart;
        }
        if (!WaitForMode(kDeviceModeUpdate, kRestartChecks, kModeCheckMs)) {
            return kResultModeTimeout;
        }
    }

    // Settling: always the full 10 s, also when update mode was there at once.
    for (int tick = 1; tick <= kSettleTicks; ++tick) {
        if (StopRequested()) {
            return kResultFailed;
        }
        if (jobs[0].progress != nullptr) {
            jobs[0].progress(tick, jobs[0].userData);
        }
        clock.Sleep(kSettleTickMs);
    }
    if (!WaitForMode(kDeviceModeUpdate, kSettledChecks, kModeCheckMs)) {
        return kResultModeTimeout;
    }

    const std::uint32_t count = runCount.load();
    ulo_CFirmFile image;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (StopRequested()) {
            return kResultFailed;
        }
        currentIndex.store(index);
        const UpdateJob& job = jobs[index];

        const std::int32_t validation = image.Validate(job.image, job.length);
        if (validation != kFirmOk) {
            return ValidationToResult(validation);
        }
        const std::int32_t type = image.GetType();
        if (type > kImageTypeDspMain) {
            return kResultFailed;
        }

        if (connection == nullptr) {
            return kResultNotConnected;
        }
        CommandParams& params = connection->params;
        std::memset(params.b, 0, sizeof params.b);
        StorePointer(params, params_layout::kDownloadImage, job.image);
        StoreU32(params, params_layout::kDownloadLength, job.length);
        StoreFunction(params, params_layout::kDownloadCallback, job.progress);
        StorePointer(params, params_layout::kDownloadUserData, job.userData);
        const ResultCode download = connection->RunCommand(kKeyDownload);
        if (download != kResultOk) {
            return download;
        }

        if (type == kImageTypeFwup) {
            // The device restarts with the new updater: it goes, comes back
            // in update mode and then says whether the update took.
            if (!WaitForMode(kDeviceModeNone, kFwupChecks, kFwupCheckMs)) {
                return kResultModeTimeout;
            }
            if (!WaitForMode(kDeviceModeUpdate, kFwupChecks, kFwupCheckMs)) {
                return kResultModeTimeout;
            }
            if (StopRequested()) {
                return kResultFailed;
            }
            clock.Sleep(kFwupPauseMs);
            const ResultCode confirm = SendSimple(kKeyConfirm, kConfirmArgument);
            if (confirm != kResultOk) {
                return confirm;
            }
            if (connection->params.b[1] != 0) {
                return kResultWriteFailed;
            }
        }
    }
    return kResultOk;
}

}  // namespace talvo
