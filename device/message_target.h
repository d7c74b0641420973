// Where worker threads send their news: a window of the UI thread, reached
// only by posting a message (never by touching the window). The Win32
// implementation posts to a real window; the portable one puts the message
// on a UI-thread message queue. Post must never block and may be called
// from any thread.
#pragma once

#include <cstdint>

namespace talvo {

// Application messages posted by the worker threads.
inline constexpr std::uint32_t kWmApp = 0x8000;
inline constexpr std::uint32_t kMsgDeviceEvent = kWmApp + 1;     // wParam event, lParam value
inline constexpr std::uint32_t kMsgUpdateProgress = kWmApp + 2;  // wParam bar position 0..100
inline constexpr std::uint32_t kMsgUpdateEnded = kWmApp + 3;     // wParam 1 success, 0 failure
inline constexpr std::uint32_t kMsgDeviceMode = kWmApp + 4;      // wParam new DeviceMode

class IMessageTarget {
  public:
    virtual ~IMessageTarget() = default;
    // Queues the message for the target's thread; false when the target is gone.
    virtual bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

}  // namespace talvo
