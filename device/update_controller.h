// UpdateController: the one owner of the conversation with the device, for
// every front end. It follows the watcher's mode reports (open the
// connection for a present mode, close it when the device goes), reads the
// device's versions with command 6 under the busy policy it was given,
// decides whether the package is needed, runs CFirmUpdater and turns its
// progress into one percentage for the whole run. It never touches a
// window: what happened goes to its IUpdateObserver.
//
// Threads: everything except the progress report runs on the owner's UI
// thread, which takes the messages the watcher and the updater post to the
// target given to Begin and hands kMsgDeviceMode and kMsgUpdateEnded to
// Handle. The UI thread opens and closes the connection and reads the
// versions; the updater thread alone sends commands 1, 64 and 73 while an
// update runs.
//
// Lifetime: End (and the destructor) waits until the updater thread has
// ended, however long that takes, so the thread never outlives the
// connection, the job block or the package images it reads. The package
// given to StartUpdate and the UI target given to Begin must outlive the
// controller, or End must be called before they go.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "device/device_comm_app.h"
#include "device/device_mode.h"
#include "device/device_watcher.h"
#include "device/firm_updater.h"
#include "base/message_target.h"
#include "device/version_rules.h"
#include "protocol/result_code.h"

namespace talvo {

struct FirmwarePackage;

// What the controller tells its front end. All calls but OnUpdateProgress
// come on the UI thread, from inside the controller's own calls.
class IUpdateObserver {
  public:
    virtual ~IUpdateObserver() = default;
    // A present device is being opened (may take a moment), and the opening
    // is over (whether or not it worked).
    virtual void OnOpening() {}
    virtual void OnOpened() {}
    // The device went (or a report said it is not there).
    virtual void OnDeviceAbsent() = 0;
    // The device is open; `versions` are its versions by slot ("---" for a
    // refused one). During an update they are the ones read before it, not
    // read again.
    virtual void OnDevicePresent(const VersionSlots& versions) = 0;
    // Under BusyPolicy::kAskAgainLater: the device answered busy and the
    // reading was abandoned. The front end calls ReadVersions again later.
    virtual void OnDeviceBusy() {}
    // The run's overall percentage. Called on the updater thread: it must
    // only post, never block or touch a window.
    virtual void OnUpdateProgress(std::uint32_t percent) = 0;
    // The updater has ended and been taken down, the connection is closed.
    virtual void OnUpdateEnded(bool success, ResultCode result) = 0;
};

// How a version reading that meets the busy status 19 goes on.
struct BusyPolicy {
    enum class Kind {
        // Abandon the whole reading and tell the observer, which asks again
        // (the main dialog: every second, without limit).
        kAskAgainLater,
        // Wait `pauseMs` and ask for the same slot again, at most `retries`
        // times per slot; then the slot reads "---".
        kRetryInPlace,
    };
    Kind kind = Kind::kAskAgainLater;
    int retries = 0;
    std::uint32_t pauseMs = 0;

    static BusyPolicy AskAgainLater() { return {}; }
    static BusyPolicy RetryInPlace(int retries, std::uint32_t pauseMs) {
        return {Kind::kRetryInPlace, retries, pauseMs};
    }
};

// Version type codes of command 6, by image slot.
inline constexpr std::array<int, 3> kVersionTypeCodes = {0, 1, 3};
// The text shown for a version the device would not give.
inline constexpr char16_t kVersionUnknown[] = u"---";

class UpdateController {
  public:
    enum class State { kIdle, kUpdating, kEnded };

    // Command 6 answered with this status: the device is busy, ask again.
    static constexpr std::int32_t kStatusBusy = 19;
    static constexpr int kKeyReadVersion = 6;

    UpdateController(IUpdateObserver& observer, BusyPolicy busy);
    // As End.
    ~UpdateController();
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    // Makes `uiTarget` the target of device notifications and of the
    // updater's end message and starts the watcher, whose reports are
    // posted there as kMsgDeviceMode. False when the watcher did not start.
    bool Begin(IMessageTarget* uiTarget);
    // Ends the watcher, waits for the updater thread to end, closes the
    // connection and stops reporting. Idempotent.
    void End();
    // Ends only the watcher and closes the connection (the window is going;
    // an update cannot run then).
    void StopWatching();

    // Takes a posted kMsgDeviceMode or kMsgUpdateEnded; false for others.
    bool Handle(std::uint32_t message, std::uintptr_t wParam);
    void OnModeReport(DeviceMode newMode);
    void OnUpdateEnded(bool success);
    // Reads the three versions now (nothing while an update runs) and
    // reports them, or the busy device.
    void ReadVersions();

    // Whether the package needs installing on the device whose versions
    // were read last.
    bool UpdateNeeded(const FirmwarePackage& package) const;
    // Fills the updater with one job per package image (slot order) and
    // starts it. False when an update runs or ran, the package is empty or
    // the thread did not start (then nothing is left running).
    bool StartUpdate(const FirmwarePackage& package);

    State GetState() const { return state_; }
    // The open connection is for the mode last reported and accepted.
    bool DeviceReady() const;
    bool Succeeded() const { return succeeded_; }
    ResultCode Result() const { return updater.LastResult(); }
    DeviceMode Mode() const { return mode_; }

    CDeviceWatcher watcher;
    CDeviceCommApp connection;
    CFirmUpdater updater;
    // Device versions by slot: empty when not read, "---" when refused.
    VersionSlots deviceVersion;

  private:
    static void PostModeChange(DeviceMode newMode, void* self);
    static void OnJobProgress(int percent, void* self);
    void CloseConnection();
    void TakeDownUpdater();
    // One slot's reading; false when the busy policy abandons the reading.
    bool ReadSlot(std::size_t slot);

    IUpdateObserver& observer_;
    const BusyPolicy busy_;
    IMessageTarget* uiTarget_ = nullptr;
    // Cleared by End: no further progress reaches the observer.
    std::atomic<bool> reporting_{true};
    VersionSlots savedVersion_;
    DeviceMode mode_ = kDeviceModeUnknown;
    State state_ = State::kIdle;
    bool succeeded_ = false;
};

// The bar position for the whole run: progress `percent` of job `index` of
// `count`, each job taking an equal share (0 when there are no jobs).
std::uint32_t OverallProgress(std::uint32_t index, std::uint32_t count, std::uint32_t percent);

}  // namespace talvo
