// UpdateController: the one owner of the conversation with the device, for
// every front end. It follows the watcher's mode reports (open the
// connection for a present mode, close it when the device goes), reads the
// device's versions with command 6, decides whether the package is needed,
// runs CFirmUpdater and turns its progress into one percentage for the
// whole run. It never touches a window and never waits on the owner's
// thread: what happened goes to its IUpdateObserver, and what to do next
// (ask a busy device again, when, how often) is the observer's to decide.
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
// given to StartUpdate, the UI target given to Begin and the HID platform
// must outlive the controller, or End must be called before they go.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "base/message_target.h"
#include "device/device_comm_app.h"
#include "device/device_mode.h"
#include "device/device_watcher.h"
#include "device/firm_updater.h"
#include "device/version_rules.h"
#include "protocol/result_code.h"

namespace talvo {

struct FirmwarePackage;
class IHidPlatform;

// What the controller tells its owner. All calls but OnUpdateProgress come
// on the UI thread, from inside the controller's own calls.
class IUpdateObserver {
  public:
    virtual ~IUpdateObserver() = default;
    // A present device is being opened (may take a moment), and the opening
    // is over (whether or not it worked).
    virtual void OnOpening() {}
    virtual void OnOpened() {}
    // The device went (or a report said it is not there).
    virtual void OnDeviceAbsent() = 0;
    // A present device could not be opened because another updater
    // converses with it (it holds the unit's lock). The owner may ask again
    // with Retry when it sees fit.
    virtual void OnDeviceInUse() {}
    // The device is open; `versions` are its versions by slot ("---" for a
    // refused one). During an update they are the ones read before it, not
    // read again.
    virtual void OnDevicePresent(const VersionSlots& versions) = 0;
    // The device answered a version reading with the busy status 19 and the
    // reading was abandoned; the owner calls ReadVersions again when it sees
    // fit.
    virtual void OnDeviceBusy() = 0;
    // The run's overall percentage, and the job (0-based) it belongs to.
    // Called on the updater thread: it must only post, never block or touch
    // a window.
    virtual void OnUpdateProgress(std::uint32_t percent, std::uint32_t job) = 0;
    // The updater has ended and been taken down, the connection is closed.
    virtual void OnUpdateEnded(bool success, ResultCode result) = 0;
};

// Version type codes of command 6, by image slot.
inline constexpr std::array<int, 3> kVersionTypeCodes = {0, 1, 3};
// The text shown for a version the device would not give.
inline constexpr char16_t kVersionUnknown[] = u"---";

// One version reading (command 6) of image slot `slot` on an open
// connection: true with the version's text, or false (`busy` when the device
// answered with the busy status).
bool ReadVersionSlot(CDeviceCommApp& connection, std::size_t slot, std::u16string& text,
                     bool& busy);

class UpdateController {
  public:
    enum class State { kIdle, kUpdating, kEnded };

    // Command 6 answered with this status: the device is busy, ask again.
    static constexpr std::int32_t kStatusBusy = 19;
    static constexpr int kKeyReadVersion = 6;

    // The watcher and the connection open the device on `platform`.
    UpdateController(IUpdateObserver& observer, IHidPlatform& platform);
    // As End.
    ~UpdateController();
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    // Makes `uiTarget` the target of device notifications and of the
    // updater's end message and starts the watcher, whose reports are
    // posted there as kMsgDeviceMode. False when the watcher did not start.
    bool Begin(IMessageTarget* uiTarget);
    // Ends the watcher, waits for the updater thread to end, closes the
    // connection and stops reporting. Idempotent. True when every thread it
    // started has ended (false when the watcher had to be abandoned at its
    // stop limit).
    bool End();
    // Ends only the watcher and closes the connection (the window is going;
    // an update cannot run then).
    void StopWatching();

    // Follows the unit plugged in at `location` from now on (empty: any
    // unit). StartUpdate follows the unit it starts on by itself.
    void Follow(const std::string& location);
    std::string Followed() const { return watcher_.Followed(); }
    // Where the open unit is plugged in (empty when none is open or the
    // platform gives no location).
    std::string UnitLocation() { return connection_.Location(); }
    // Opens the present device again after OnDeviceInUse.
    void RetryOpen();

    // Takes a posted kMsgDeviceMode or kMsgUpdateEnded; false for others.
    bool Handle(std::uint32_t message, std::uintptr_t wParam);
    void OnModeReport(DeviceMode newMode);
    void OnUpdateEnded(bool success);
    // Reads the three versions now (nothing while an update runs) and
    // reports them, or the busy device. With `busyIsRefusal` a busy answer
    // counts as a refusal: that slot reads "---" and the reading goes on.
    void ReadVersions(bool busyIsRefusal = false);

    // Whether the package needs installing on the device whose versions
    // were read last.
    bool UpdateNeeded(const FirmwarePackage& package) const;
    // Fills the updater with one job per package image (slot order) and
    // starts it. False when an update runs or ran, an updater thread exists,
    // the package is empty or the thread did not start (then nothing is
    // left running).
    bool StartUpdate(const FirmwarePackage& package);

    State GetState() const { return state_; }
    // The open connection is for the mode last reported and accepted.
    bool DeviceReady() const;
    // The connection holds an open device (being read, or ready).
    bool ConnectionOpen() const { return connection_.IsOpen(); }
    // An updater thread exists (from a successful StartUpdate until the end
    // message has been handled).
    bool UpdateRunning() const { return updater_.HasThread(); }
    // The updater thread has ended but its end message has not been handled
    // (yet, or ever: a full queue drops it).
    bool UpdaterEndedUnheard() const {
        return state_ == State::kUpdating && updater_.HasThread() &&
               updater_.ExitCode() != Thread::kStillActive;
    }
    bool Succeeded() const { return succeeded_; }
    ResultCode Result() const { return updater_.LastResult(); }
    DeviceMode Mode() const { return mode_; }
    // Device versions by slot: empty when not read, "---" when refused.
    const VersionSlots& Versions() const { return deviceVersion_; }

  private:
    static void PostModeChange(DeviceMode newMode, void* self);
    static void OnJobProgress(int percent, void* self);
    void CloseConnection();
    void TakeDownUpdater();
    // One slot's reading; false when the device answered busy and the
    // reading is abandoned.
    bool ReadSlot(std::size_t slot, bool busyIsRefusal);

    IUpdateObserver& observer_;
    CDeviceWatcher watcher_;
    CDeviceCommApp connection_;
    CFirmUpdater updater_;
    VersionSlots deviceVersion_;
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
