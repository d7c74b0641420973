#include "base/clock.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace talvo {

namespace {

class SteadyClock final : public IClock {
  public:
    std::uint32_t TickCount() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        // The counter keeps only the low 32 bits of the millisecond count, so it
        // wraps like the system tick counter does.
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }

    void Sleep(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    std::chrono::nanoseconds RealDuration(std::uint32_t milliseconds) override {
        return std::chrono::milliseconds(milliseconds);
    }
};

std::atomic<IClock*> g_clock{nullptr};

}  // namespace

IClock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

ScaledClock::ScaledClock(double speedup)
    // Anything below 1 (or not a number) runs at real speed.
    : speedup_(std::isfinite(speedup) && speedup >= 1.0 ? speedup : 1.0),
      origin_(std::chrono::steady_clock::now()) {}

std::uint32_t ScaledClock::TickCount() {
    const std::chrono::duration<double, std::milli> real =
        std::chrono::steady_clock::now() - origin_;
    const double scaled = real.count() * speedup_;
    // Reduce modulo 2^32 so the counter wraps instead of saturating.
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::fmod(scaled, 4294967296.0)));
}

void SleepUntil(std::chrono::steady_clock::time_point end) {
    std::this_thread::sleep_until(end);
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
    }
}

void ScaledClock::Sleep(std::uint32_t milliseconds) {
    // A scaled sleep lasts at least its real duration, also below a
    // millisecond.
    SleepUntil(std::chrono::steady_clock::now() + RealDuration(milliseconds));
}

std::chrono::nanoseconds ScaledClock::RealDuration(std::uint32_t milliseconds) {
    const double ns = static_cast<double>(milliseconds) * 1e6 / speedup_;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns));
}

namespace Clock {

IClock& Current() {
    IClock* clock = g_clock.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : SystemClock();
}

IClock* SetCurrent(IClock* clock) {
    return g_clock.exchange(clock, std::memory_order_acq_rel);
}

}  // namespace Clock

}  // namespace talvo
