// What Thread needs from the operating system, for the calling thread.
// Implemented in thread_posix.cpp and thread_win32.cpp.
#pragma once

#include <cstdint>

namespace talvo::thread_platform {

std::uint32_t CurrentThreadId();

// Applies a thread priority value (0 normal; -15, -2..2, 15) to the calling
// thread. False when the value is refused.
bool SetCurrentThreadPriority(int priority);

// Sets the calling thread's name as the system shows it (best effort,
// shortened where the system allows less). `name` is zero-terminated.
void SetCurrentThreadName(const char16_t* name);

}  // namespace talvo::thread_platform
