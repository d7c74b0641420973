#include <atomic>

#include "ui/ui_backend.h"

namespace talvo {

// The backend of the build: Win32 windows in the Windows build
// (win32_backend_win32.cpp), none elsewhere (default_backend_posix.cpp).
IUiBackend& DefaultUiBackend();

namespace {
std::atomic<IUiBackend*> g_backend{nullptr};
}  // namespace

namespace UiPlatform {

IUiBackend& Backend() {
    IUiBackend* b = g_backend.load(std::memory_order_acquire);
    return b != nullptr ? *b : DefaultUiBackend();
}

void SetBackend(IUiBackend* backend) {
    g_backend.store(backend, std::memory_order_release);
}

}  // namespace UiPlatform
}  // namespace talvo
