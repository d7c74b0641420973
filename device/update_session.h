// CUpdateSession: the update controller with a message pump in front of it,
// for the terminal front end and for whole-system tests.
//
// It owns the UI-thread queue the watcher and the updater post to, and the
// UpdateController that follows the device; it runs on one thread (its "UI
// thread"): Pump takes the posted messages and hands them to the
// controller. Version readings that meet a busy device are retried in place
// (10 times per slot, a second apart). Progress reaches the queue as
// kMsgUpdateProgress, so that onMessage and the view see it on the session
// thread.
//
// The view given to the constructor (the terminal's text view) gets every
// controller event on the session thread, progress included.
#pragma once

#include <cstdint>
#include <functional>

#include "base/ui_message_queue.h"
#include "device/update_controller.h"

namespace talvo {

struct FirmwarePackage;

class CUpdateSession : private IUpdateObserver {
  public:
    using State = UpdateController::State;

    static constexpr std::uint32_t kBusyRetryMs = 1000;
    static constexpr int kBusyRetries = 10;

    explicit CUpdateSession(IUpdateObserver* view = nullptr);
    // Ends the watcher, waits for the updater and closes the connection.
    ~CUpdateSession() override;
    CUpdateSession(const CUpdateSession&) = delete;
    CUpdateSession& operator=(const CUpdateSession&) = delete;

    // Starts the watcher; false when its thread could not be started.
    bool Begin() { return controller_.Begin(&queue); }

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
    State GetState() const { return controller_.GetState(); }
    bool Succeeded() const { return controller_.Succeeded(); }
    ResultCode Result() const { return controller_.Result(); }
    // Mode of the last report handled.
    DeviceMode Mode() const { return controller_.Mode(); }
    // The job (0-based) the last progress handled belongs to.
    std::uint32_t ProgressJob() const { return progressJob_; }

    // Called on the session thread for each message it handles, before the
    // controller's handling (progress, device events, mode reports, end).
    std::function<void(const ThreadMessage&)> onMessage;

    // Declared first: the controller posts here until it has ended.
    UiMessageQueue queue;

  private:
    IUpdateObserver* view_;
    std::uint32_t progressJob_ = 0;
    UpdateController controller_;

  public:
    CDeviceWatcher& watcher = controller_.watcher;
    CDeviceCommApp& connection = controller_.connection;
    CFirmUpdater& updater = controller_.updater;
    // Device versions by slot: empty when not read, "---" when refused.
    VersionSlots& deviceVersion = controller_.deviceVersion;

  private:
    void OnOpening() override;
    void OnOpened() override;
    void OnDeviceAbsent() override;
    void OnDevicePresent(const VersionSlots& versions) override;
    void OnDeviceBusy() override;
    // On the updater thread: only posts (with the job it belongs to).
    void OnUpdateProgress(std::uint32_t percent) override;
    void OnUpdateEnded(bool success, ResultCode result) override;
};

}  // namespace talvo
