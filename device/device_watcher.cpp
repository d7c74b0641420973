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
            Report(ProbeDeviceMode(platform_));
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

DeviceMode CDeviceWatcher::ProbeDeviceMode(IHidPlatform& platform) {
    CHidDevice device(platform);
    if (device.Open(kTalvoVendorId, kTalvoNormalProductId, kNormalReportLength, kNormalReportLength,
                    0) != nullptr) {
        device.Close();
        return kDeviceModeNormal;
    }
    device.Close();
    if (device.Open(kTalvoVendorId, kTalvoUpdateProductId, kUpdateReportLength, kUpdateReportLength,
                    0) != nullptr) {
        device.Close();
        return kDeviceModeUpdate;
    }
    device.Close();
    return kDeviceModeNone;
}

void CDeviceWatcher::Report(DeviceMode probed) {
    const DeviceMode current = g_currentDeviceMode.load();
    if (probed == current) {
        return;
    }
    // A device seen in one mode and now in the other is first reported gone.
    const DeviceMode reported =
        (current != kDeviceModeNone && current != kDeviceModeUnknown) ? kDeviceModeNone : probed;
    g_currentDeviceMode.store(reported);
    if (ModeCallback fn = callback.load()) {
        fn(reported, userData.load());
    }
}

}  // namespace talvo
