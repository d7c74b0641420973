// CUpdateSession: the main dialog's part of the conversation with the device,
// without windows, for the terminal front end and for whole-system tests.
//
// It owns the watcher, the connection, the updater and the UI-thread queue
// they post to, and runs on one thread (its "UI thread"): Pump takes the
// posted messages and handles them as the dialog does. On a mode report of
// 0 it clears `ready` and closes the connection; on a present mode it opens
// the connection for that mode and sets `ready` (and, outside an update,
// reads the device's versions with command 6). On the updater's end message
// it stops the updater and closes the connection.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "device/device_comm_app.h"
#include "device/device_watcher.h"
#include "device/firm_updater.h"
#include "device/ui_message_queue.h"
#include "device/version_rules.h"

namespace talvo {

struct FirmwarePackage;

// Version type codes of command 6, by image slot.
inline constexpr std::array<int, 3> kVersionTypeCodes = {0, 1, 3};
// The text shown for a version the device would not give.
inline constexpr char16_t kVersionUnknown[] = u"---";

class CUpdateSession {
  public:
    enum class State { kIdle, kUpdating, kEnded };

    // Command 6 answered with this status: the device is busy, ask again.
    static constexpr std::int32_t kStatusBusy = 19;
    static constexpr std::uint32_t kBusyRetryMs = 1000;
    static constexpr int kBusyRetries = 10;

    CUpdateSession();
    // Ends the watcher, stops the updater and closes the connection.
    ~CUpdateSession();
    CUpdateSession(const CUpdateSession&) = delete;
    CUpdateSession& operator=(const CUpdateSession&) = delete;

    // Starts the watcher; false when its thread could not be started.
    bool Begin();

    // Takes one posted message (waiting up to `timeoutMs` of the current
    // clock) and handles it. False when none came.
    bool Pump(std::uint32_t timeoutMs);
    // Pumps until `done` holds or `limitMs` of the current clock have
    // passed; returns whether `done` held.
    bool PumpUntil(const std::function<bool()>& done, std::uint32_t limitMs);

    // A device is present, the connection is open for its mode and ready.
    bool DeviceReady() const;
    // Whether the package needs installing on the device that is there.
    bool UpdateNeeded(const FirmwarePackage& package) const;

    // Fills the updater with one job per package image (slot order) and
    // starts it. False when an update already ran or runs, the package is
    // empty or the thread did not start.
    bool StartUpdate(const FirmwarePackage& package);
    State GetState() const { return state_; }
    // After the end message: whether it said success, and why it failed.
    bool Succeeded() const { return succeeded_; }
    ResultCode Result() const { return updater.LastResult(); }

    // Called on the session thread for each message it handles, before the
    // session's own handling (progress, device events, mode reports, end).
    std::function<void(const ThreadMessage&)> onMessage;

    CDeviceWatcher watcher;
    CDeviceCommApp connection;
    CFirmUpdater updater;
    UiMessageQueue queue;
    // Device versions by slot: empty when not read, "---" when refused.
    VersionSlots deviceVersion;
    // Mode of the last report handled.
    DeviceMode mode = kDeviceModeUnknown;

  private:
    static void PostModeChange(DeviceMode newMode, void* self);
    static void PostUpdateProgress(int percent, void* self);
    void Handle(const ThreadMessage& message);
    void OnModeChanged(DeviceMode newMode);
    void ReadDeviceVersions();
    void CloseDeviceConnection();

    State state_ = State::kIdle;
    bool succeeded_ = false;
};

}  // namespace talvo
