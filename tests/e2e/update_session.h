// CUpdateSession: the update controller with a message pump in front of it,
// the main dialog's part played by a test: whole-system runs, benchmarks
// and the update sequence's tests drive the device layer through it.
//
// It owns the UI-thread queue the watcher and the updater post to, and the
// UpdateController that follows the device; it runs on one thread (its "UI
// thread"): Pump takes the posted messages and hands them to the
// controller. A busy device is asked again a second later (without limit),
// from the pump. Progress reaches the queue as kMsgUpdateProgress (lParam
// the job), so that onMessage sees it on the session thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "base/ui_message_queue.h"
#include "device/update_controller.h"

namespace talvo {

struct FirmwarePackage;

class CUpdateSession : private IUpdateObserver {
  public:
    using State = UpdateController::State;

    static constexpr std::uint32_t kBusyRetryMs = 1000;

    // On the process's default HID platform, or the one given.
    CUpdateSession();
    explicit CUpdateSession(IHidPlatform& platform);
    // Ends the watcher, waits for the updater and closes the connection.
    ~CUpdateSession() override;
    CUpdateSession(const CUpdateSession&) = delete;
    CUpdateSession& operator=(const CUpdateSession&) = delete;

    // Starts the watcher; false when its thread could not be started.
    bool Begin() { return controller_.Begin(&queue); }
    // As UpdateController::End: whether every thread ended.
    bool End() { return controller_.End(); }

    // Takes one posted message (waiting up to `timeoutMs` of the current
    // clock) and handles it. False when none came.
    bool Pump(std::uint32_t timeoutMs);
    // Pumps until `done` holds or `limitMs` of the current clock have
    // passed; returns whether `done` held.
    bool PumpUntil(const std::function<bool()>& done, std::uint32_t limitMs);

    bool DeviceReady() const { return controller_.DeviceReady(); }
    bool UpdateNeeded(const FirmwarePackage& package) const {
        return controller_.UpdateNeeded(package);
    }
    // See UpdateController::StartUpdate; once per session.
    bool StartUpdate(const FirmwarePackage& package) { return controller_.StartUpdate(package); }
    bool UpdateRunning() const { return controller_.UpdateRunning(); }
    State GetState() const { return controller_.GetState(); }
    bool Succeeded() const { return controller_.Succeeded(); }
    ResultCode Result() const { return controller_.Result(); }
    // Mode of the last report handled.
    DeviceMode Mode() const { return controller_.Mode(); }
    const VersionSlots& Versions() const { return controller_.Versions(); }

    // Called on the session thread for each message it handles, before the
    // controller's handling (progress, device events, mode reports, end).
    std::function<void(const ThreadMessage&)> onMessage;

    // Declared first: the controller posts here until it has ended.
    UiMessageQueue queue;

  private:
    void OnDeviceAbsent() override { retryAt_.reset(); }
    void OnDevicePresent(const VersionSlots&) override { retryAt_.reset(); }
    void OnDeviceBusy() override;
    // On the updater thread: only posts.
    void OnUpdateProgress(std::uint32_t percent, std::uint32_t job) override;
    void OnUpdateEnded(bool, ResultCode) override {}

    // When the busy device is asked again (a tick of the current clock).
    std::optional<std::uint32_t> retryAt_;
    UpdateController controller_;
};

}  // namespace talvo
