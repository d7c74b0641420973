#include "device/device_watcher.h"

#include "base/clock.h"
#include "hid/hid_device.h"
#include "hid/hid_platform.h"
#include "hid/talvo_ids.h"

namespace talvo {

std::atomic<DeviceMode> g_currentDeviceMode{kDeviceModeUnknown};

CDeviceWatcher::CDeviceWatcher() : CDeviceWatcher(HidPlatform::Current()) {}

CDeviceWatcher::CDeviceWatcher(IHidPlatform& platform) : platform_(platform) {
    g_currentDeviceMode.store(kDeviceModeUnknown);
}

CDeviceWatcher::~CDeviceWatcher() {
    End();
}

int CDeviceWatcher::Begin(ModeCallback modeCallback, void* modeUserData) {
    if (HasThread()) {
        return 0;
    }
    callback.store(modeCallback);
    userData.store(modeUserData);
    {
        std::lock_guard<std::mutex> guard(locationMutex_);
        unitLocation_.clear();
    }
    g_currentDeviceMode.store(kDeviceModeUnknown);
    if (Start(u"CDeviceWatcher", 0) == 1) {
        return 1;
    }
    Stop(kStopLimitMs);
    CriticalSection guard(&lock);
    g_currentDeviceMode.store(kDeviceModeNone);
    callback.store(nullptr);
    userData.store(nullptr);
    return 0;
}

void CDeviceWatcher::End() {
    Stop(kStopLimitMs);
    CriticalSection guard(&lock);
    g_currentDeviceMode.store(kDeviceModeNone);
    callback.store(nullptr);
    userData.store(nullptr);
}

void CDeviceWatcher::RequestStop() {
    if (HasThread() && PostThreadMessage(kWmQuit, 0, 0)) {
        return;
    }
    running.store(0);
}

std::uint32_t CDeviceWatcher::Run() {
    for (;;) {
        const MessageWait wait = WaitForThreadMessage(kProbeIntervalMs);
        const bool lastPass = running.load() == 0;
        if (wait == MessageWait::kTimedOut) {
            std::string found;
            const DeviceMode probed = ProbeDeviceMode(platform_, Followed(), &found);
            Report(probed, found);
        } else if (wait == MessageWait::kInputAvailable) {
            ThreadMessage message;
            while (PeekThreadMessage(&message, true)) {
                if (message.message == kWmQuit) {
                    running.store(0);
                    return 0;
                }
                // No other message means anything to this thread.
            }
        } else {
            // The queue is unusable; pause instead of spinning on a wait that
            // fails at once, and keep relying on `running` to end the loop.
            Clock::Current().Sleep(kProbeIntervalMs);
        }
        if (lastPass) {
            return 0;
        }
    }
}

DeviceMode CDeviceWatcher::ProbeDeviceMode() {
    return ProbeDeviceMode(HidPlatform::Current());
}

void CDeviceWatcher::Follow(const std::string& location) {
    std::lock_guard<std::mutex> guard(locationMutex_);
    followed_ = location;
}

std::string CDeviceWatcher::Followed() const {
    std::lock_guard<std::mutex> guard(locationMutex_);
    return followed_;
}

std::string CDeviceWatcher::UnitLocation() const {
    std::lock_guard<std::mutex> guard(locationMutex_);
    return unitLocation_;
}

DeviceMode CDeviceWatcher::ProbeDeviceMode(IHidPlatform& platform, const std::string& location,
                                           std::string* found) {
    CHidDevice device(platform);
    DeviceMode mode = kDeviceModeNone;
    if (device.Open(kTalvoVendorId, kTalvoNormalProductId, kNormalReportLength, kNormalReportLength,
                    0, location) != nullptr) {
        mode = kDeviceModeNormal;
    } else if (device.Open(kTalvoVendorId, kTalvoUpdateProductId, kUpdateReportLength,
                           kUpdateReportLength, 0, location) != nullptr) {
        mode = kDeviceModeUpdate;
    }
    if (found != nullptr) {
        *found = device.Location();
    }
    device.Close();
    return mode;
}

void CDeviceWatcher::Report(DeviceMode probed, const std::string& location) {
    const DeviceMode current = g_currentDeviceMode.load();
    const bool present = current != kDeviceModeNone && current != kDeviceModeUnknown;
    std::string previous;
    {
        std::lock_guard<std::mutex> guard(locationMutex_);
        previous = unitLocation_;
    }
    if (probed == current && (!present || location == previous)) {
        return;
    }
    // A device seen in one mode and now in the other, or another unit in
    // its place, is first reported gone.
    const DeviceMode reported = present ? kDeviceModeNone : probed;
    {
        std::lock_guard<std::mutex> guard(locationMutex_);
        unitLocation_ = reported == kDeviceModeNone ? std::string() : location;
    }
    g_currentDeviceMode.store(reported);
    if (ModeCallback fn = callback.load()) {
        fn(reported, userData.load());
    }
}

}  // namespace talvo
