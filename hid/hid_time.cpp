#include "hid/hid_time.h"

#include "base/clock.h"

namespace talvo::hid_time {

std::uint32_t TickCount() {
    return Clock::Current().TickCount();
}

std::chrono::nanoseconds RealDuration(std::uint32_t milliseconds) {
    return Clock::Current().RealDuration(milliseconds);
}

}  // namespace talvo::hid_time
