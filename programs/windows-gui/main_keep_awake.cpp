#include "programs/windows-gui/main_keep_awake.h"

#include <atomic>

namespace talvo {

// The platform's own implementation (main_keep_awake_win32.cpp or
// main_keep_awake_posix.cpp).
IKeepAwake& PlatformKeepAwake();

namespace {
std::atomic<IKeepAwake*> g_keepAwake{nullptr};
}  // namespace

namespace KeepAwake {

IKeepAwake& Current() {
    IKeepAwake* k = g_keepAwake.load(std::memory_order_acquire);
    return k != nullptr ? *k : PlatformKeepAwake();
}

void SetCurrent(IKeepAwake* keepAwake) {
    g_keepAwake.store(keepAwake, std::memory_order_release);
}

}  // namespace KeepAwake

void KeepAwakeRequest::Acquire() {
    if (held_) {
        return;
    }
    IKeepAwake& k = KeepAwake::Current();
    if (k.Begin()) {
        owner_ = &k;
        held_ = true;
    }
}

void KeepAwakeRequest::Release() {
    if (!held_) {
        return;
    }
    held_ = false;
    // Given back to the implementation that granted it, even if another
    // was installed meanwhile.
    owner_->End();
    owner_ = nullptr;
}

}  // namespace talvo
