#include "hid/hid_platform.h"

#include <atomic>

namespace talvo::HidPlatform {

namespace {
std::atomic<IHidPlatform*> g_current{nullptr};
}  // namespace

IHidPlatform& Current() {
    IHidPlatform* platform = g_current.load();
    return platform != nullptr ? *platform : Native();
}

IHidPlatform* SetCurrent(IHidPlatform* platform) {
    return g_current.exchange(platform);
}

}  // namespace talvo::HidPlatform
