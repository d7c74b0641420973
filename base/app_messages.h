// The application messages worker threads post to the UI thread, numbered
// from WM_APP as the window system expects. Every layer that names them
// (the resources' identifier list, the message targets, the dialogs)
// includes this one header.
#pragma once

#include <cstdint>

namespace talvo {

inline constexpr std::uint32_t kWmApp = 0x8000;
inline constexpr std::uint32_t kMsgDeviceEvent = kWmApp + 1;     // wParam event, lParam value
inline constexpr std::uint32_t kMsgUpdateProgress = kWmApp + 2;  // wParam bar position 0..100
inline constexpr std::uint32_t kMsgUpdateEnded = kWmApp + 3;     // wParam 1 success, 0 failure
inline constexpr std::uint32_t kMsgDeviceMode = kWmApp + 4;      // wParam new DeviceMode

}  // namespace talvo
