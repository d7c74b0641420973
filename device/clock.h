// The device layer's one source of time: a 32-bit millisecond tick counter
// (wraps about every 49.7 days) and a sleep. Production uses SystemClock();
// tests install a faster clock so the long waits of an update run in
// milliseconds, while the constants in the code stay the real ones.
#pragma once

#include <cstdint>

namespace talvo {

class IClock {
public:
    virtual ~IClock() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// Steady wall clock; TickCount starts at an arbitrary value.
IClock& SystemClock();

}  // namespace talvo
