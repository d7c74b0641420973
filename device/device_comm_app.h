// CDeviceCommApp: the one gate through which the system talks to the device.
//
// It owns at most one open protocol object, opened for the mode the watcher
// reported, and a recursive lock that serialises every use of it between the
// UI thread and the update thread. `params` carries the arguments and results
// of the next command; `lastStatus`/`lastDetail` hold the status pair of the
// last response.
//
// Lock order: this object's `lock`, then the protocol object's own lock
// (taken inside Dispatch). The protocol receive thread takes neither; its
// notification callback only posts a message.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/critical_section.h"
#include "base/message_target.h"
#include "protocol/command_params.h"
#include "protocol/hid_comm.h"
#include "protocol/result_code.h"

namespace talvo {

class IHidPlatform;

class CDeviceCommApp {
  public:
    // Opens the device on `platform` (the process's default HID platform
    // when none is given); it must outlive the connection.
    CDeviceCommApp();
    explicit CDeviceCommApp(IHidPlatform& platform);
    virtual ~CDeviceCommApp();
    CDeviceCommApp(const CDeviceCommApp&) = delete;
    CDeviceCommApp& operator=(const CDeviceCommApp&) = delete;

    // Opens the device for DeviceMode 1 (normal) or 2 (update): protocol
    // object, response event, notification callback, HID open with the
    // mode's report length, receive thread. False, with nothing left behind,
    // on any failure and when a protocol object is already open.
    bool Open(int mode);
    // As Open, on the unit at `location` only (empty: the first one found).
    bool Open(int mode, const std::string& location);
    // The last Open failed because another updater converses with the unit.
    bool LastOpenInUse() const { return lastOpenInUse_.load(); }
    // Where the open unit is plugged in (empty when closed or unknown).
    std::string Location();
    // Closes the open protocol object (joining its receive thread). Returns
    // `connected` afterwards: always 0. Leaves `ready` alone.
    int Close();
    // Runs one command with `params`; copies the status pair of the last
    // response to lastStatus/lastDetail. -4, with nothing changed, when no
    // protocol object is open.
    ResultCode RunCommand(int key);

    // The notification callback of every protocol object this class opens:
    // posts kMsgDeviceEvent (wParam event, lParam value) to the notify
    // target. Runs on the receive thread; never blocks.
    static void OnDeviceNotify(int event, int value);
    // The application's main window, where notifications go (null: dropped).
    // The target must outlive every open connection.
    static void SetNotifyTarget(IMessageTarget* target);
    static IMessageTarget* NotifyTarget();

    bool IsOpen() const { return connected.load() != 0; }

  private:
    IHidPlatform& platform_;
    std::atomic<bool> lastOpenInUse_{false};

  public:
    CriticalSectionLock lock;
    std::atomic<std::int32_t> connected{0};
    // Set by the owner once it has opened the connection for the current
    // mode and accepted it; read by the update thread without the lock.
    std::atomic<std::int32_t> ready{0};
    std::unique_ptr<ulo_CHidComm> comm;
    CommandParams params{};
    std::int32_t lastStatus = 0;
    std::int32_t lastDetail = 0;
};

}  // namespace talvo
