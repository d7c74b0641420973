// CDeviceWatcher: the worker thread that tells the rest of the system whether
// the TALVO is attached and in which mode.
//
// Every 200 ms without a thread message it probes for the device with full
// opens (normal mode first, then update mode; each open is closed at once),
// keeps the result in g_currentDeviceMode and reports every change through
// the callback, on the watcher thread. A change from one present mode to the
// other is always reported as "no device" first; the new mode follows one
// probe later.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "base/critical_section.h"
#include "device/device_mode.h"
#include "base/thread.h"

namespace talvo {

class IHidPlatform;

// Called on the watcher thread with the new mode; must not block.
using ModeCallback = void (*)(DeviceMode mode, void* userData);

class CDeviceWatcher : public Thread {
  public:
    static constexpr std::uint32_t kProbeIntervalMs = 200;
    static constexpr std::uint32_t kStopLimitMs = 20000;

    // Probes on `platform` (the process's default HID platform when none
    // is given); it must outlive the watcher.
    CDeviceWatcher();
    explicit CDeviceWatcher(IHidPlatform& platform);
    // As End.
    ~CDeviceWatcher() override;

    // Starts watching ("CDeviceWatcher", normal priority). 1 when the thread
    // runs; 0 when it already ran (the first callback stays) or could not be
    // started (then the mode reads 0 and no callback is kept).
    int Begin(ModeCallback modeCallback, void* modeUserData);
    // Stops the thread and clears the mode and the callback.
    void End();

    // Wakes the loop with a quit message; without one, clears `running` and
    // the loop ends after its next wake-up.
    void RequestStop() override;

    // Looks only at the unit plugged in at `location` from now on (empty:
    // any unit, the normal-mode one first). An update follows its unit
    // through the mode switch this way; other units change nothing.
    void Follow(const std::string& location);
    std::string Followed() const;
    // Where the unit of the mode last reported sits (empty when none is
    // present or the platform gives no location).
    std::string UnitLocation() const;

    // One probe: 1 when the normal-mode device opens, else 2 when the
    // update-mode device does, else 0; among the interfaces at `location`
    // only unless it is empty. `found`, when given, receives the location
    // of the interface that opened.
    // On `platform`, or the process's default HID platform.
    static DeviceMode ProbeDeviceMode(IHidPlatform& platform, const std::string& location = {},
                                      std::string* found = nullptr);
    static DeviceMode ProbeDeviceMode();

  protected:
    std::uint32_t Run() override;

  private:
    void Report(DeviceMode probed, const std::string& location);

    IHidPlatform& platform_;
    mutable std::mutex locationMutex_;
    std::string followed_;      // guarded by locationMutex_
    std::string unitLocation_;  // guarded by locationMutex_
    CriticalSectionLock lock;
    // Written only while no watcher thread runs; read by the thread.
    std::atomic<ModeCallback> callback{nullptr};
    std::atomic<void*> userData{nullptr};
};

}  // namespace talvo
