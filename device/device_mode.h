// The device's presence as the rest of the system sees it, and the one
// process-wide copy of it that the device watcher keeps.
#pragma once

#include <atomic>
#include <cstdint>

namespace talvo {

// -1 not yet probed, 0 no device, 1 normal mode, 2 update mode.
using DeviceMode = std::int32_t;

inline constexpr DeviceMode kDeviceModeUnknown = -1;
inline constexpr DeviceMode kDeviceModeNone = 0;
inline constexpr DeviceMode kDeviceModeNormal = 1;
inline constexpr DeviceMode kDeviceModeUpdate = 2;

// The mode last reported by the watcher. Written by the watcher thread (and
// by Begin/End on the UI thread while no watcher thread runs), read by any
// thread without a lock: one 32-bit value, read and written whole.
extern std::atomic<DeviceMode> g_currentDeviceMode;
static_assert(std::atomic<DeviceMode>::is_always_lock_free);

}  // namespace talvo
