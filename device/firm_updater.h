// CFirmUpdater: the worker thread that performs one firmware update.
//
// It asks a device in normal mode to restart in update mode (command 1 with
// 0, up to 3 attempts), waits for the watcher to see update mode, lets the
// device settle for 20 progress ticks of 500 ms, installs every job's image
// with command 64, and after an updater (Fwup) image waits for the device to
// go and come back and confirms the image with command 73. Whatever the
// outcome it then sends the closing command 1 with 1 and, as its last act,
// posts the end message (wParam 1 success, 0 failure) to `notifyWindow`.
//
// The device's state comes only from g_currentDeviceMode and the
// connection's `ready` flag; every command goes through the connection.
// Every wait and sleep takes its time from Clock::Current(). A stop request
// ends the sequence at its next wait, as a failure.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/device_mode.h"
#include "base/message_target.h"
#include "base/thread.h"
#include "protocol/command_params.h"
#include "protocol/result_code.h"

namespace talvo {

class CDeviceCommApp;

// One image to install; the same four words form command 64's block.
struct UpdateJob {
    const std::uint8_t* image = nullptr;  // as stored in the package
    std::uint32_t length = 0;
    ProgressCallback progress = nullptr;
    void* userData = nullptr;
};

class CFirmUpdater : public Thread {
  public:
    static constexpr std::uint32_t kMaxJobs = 3;
    static constexpr std::uint32_t kStopLimitMs = 20000;

    // Timing of the sequence.
    static constexpr int kRestartAttempts = 3;
    static constexpr std::uint32_t kRetryPauseMs = 100;
    static constexpr int kRestartChecks = 1200;  // 100 ms apart: 120 s
    static constexpr std::uint32_t kModeCheckMs = 100;
    static constexpr int kSettleTicks = 20;
    static constexpr std::uint32_t kSettleTickMs = 500;
    static constexpr int kSettledChecks = 100;  // 100 ms apart: 10 s
    static constexpr int kFwupChecks = 600;     // 200 ms apart: 120 s each way
    static constexpr std::uint32_t kFwupCheckMs = 200;
    static constexpr std::uint32_t kFwupPauseMs = 5000;

    // Command keys and their one-byte arguments.
    static constexpr int kKeyRestart = 1;
    static constexpr int kKeyDownload = 64;
    static constexpr int kKeyConfirm = 73;
    static constexpr std::uint8_t kRestartToUpdate = 0;
    static constexpr std::uint8_t kClosingRequest = 1;
    static constexpr std::uint8_t kConfirmArgument = 1;

    CFirmUpdater();
    // Stops the thread, waiting for it without limit, closes `connection` when one is set and
    // clears it and the job block.
    ~CFirmUpdater() override;

    // The device mode as this thread sees it: g_currentDeviceMode when it is
    // nonzero and the connection is ready, otherwise 0.
    DeviceMode CurrentMode() const;

    // Empties the job block (jobs through notifyMessage).
    void ClearJobs();

    // The outcome of the last finished run (0 success); 1 before any run
    // has ended. The end message carries only success or failure; this is
    // for callers that want to say why.
    ResultCode LastResult() const { return lastResult.load(); }

    CDeviceCommApp* connection = nullptr;
    // Job block, filled as one unit before Start and cleared as one unit.
    UpdateJob jobs[kMaxJobs] = {};
    std::uint32_t jobCount = 0;
    IMessageTarget* notifyWindow = nullptr;
    std::uint32_t notifyMessage = 0;

    // Read by progress callbacks on this thread (and by anyone else).
    std::atomic<std::uint32_t> currentIndex{0};
    std::atomic<std::uint32_t> runCount{0};

  protected:
    std::uint32_t Run() override;

  private:
    ResultCode RunSequence();
    ResultCode SendSimple(int key, std::uint8_t argument);
    bool WaitForMode(DeviceMode wanted, int checks, std::uint32_t intervalMs) const;
    // The owner asked the thread to end: the sequence gives up (failure) at
    // its next wait instead of running its waits out.
    bool StopRequested() const { return running.load() == 0; }

    std::atomic<ResultCode> lastResult{1};
};

}  // namespace talvo
