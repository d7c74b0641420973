// Time for the HID layer: the tick counter for elapsed time and the real
// duration of a time limit for timed waits. Both follow the device side's
// clock, so tests with a scaled clock see the HID limits scaled as well.
#pragma once

#include <chrono>
#include <cstdint>

namespace talvo::hid_time {

std::uint32_t TickCount();
std::chrono::nanoseconds RealDuration(std::uint32_t milliseconds);

// A point in steady time `timeoutMs` clock milliseconds from now
// (timeoutMs >= 0).
inline std::chrono::steady_clock::time_point DeadlineAfter(int timeoutMs) {
    return std::chrono::steady_clock::now() +
           RealDuration(static_cast<std::uint32_t>(timeoutMs < 0 ? 0 : timeoutMs));
}

}  // namespace talvo::hid_time
