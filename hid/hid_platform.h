// The platform interface under CHidDevice, and the process's choice of it.
//
// CONTRACT NOTE: the HID subsystem owns the methods of IHidPlatform; users
// outside hid/ only use HidPlatform::Current/SetCurrent/ScopedHidPlatform.
#pragma once

namespace talvo {

class IHidPlatform {
public:
    virtual ~IHidPlatform() = default;
    // (methods defined by the HID subsystem)
};

namespace HidPlatform {
// The native platform of this build (Win32 HID stack or hidraw).
IHidPlatform& Native();
// The platform that CHidDevice() uses; Native() unless replaced.
IHidPlatform& Current();
void SetCurrent(IHidPlatform* platform);  // null restores Native()
}  // namespace HidPlatform

// Replaces the current platform for one scope (tests, emulated runs).
class ScopedHidPlatform {
public:
    explicit ScopedHidPlatform(IHidPlatform& platform) { HidPlatform::SetCurrent(&platform); }
    ~ScopedHidPlatform() { HidPlatform::SetCurrent(nullptr); }
    ScopedHidPlatform(const ScopedHidPlatform&) = delete;
    ScopedHidPlatform& operator=(const ScopedHidPlatform&) = delete;
};

}  // namespace talvo
