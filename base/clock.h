// The one source of time for the device side (threads, HID, protocol,
// update sequence and the emulator): a 32-bit millisecond tick counter that
// wraps about every 49.7 days, a sleep, and the conversion of a time limit
// into real time for timed waits on events and condition variables.
//
// Production uses SystemClock(). Tests install a ScaledClock so that the
// long waits (10 s settling, 120 s mode waits, 5 s response limits) pass in
// milliseconds of real time while the constants in the code stay the real
// ones.
#pragma once

#include <chrono>
#include <cstdint>

namespace talvo {

class IClock {
  public:
    virtual ~IClock() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    // How long `milliseconds` of this clock last in real time.
    virtual std::chrono::nanoseconds RealDuration(std::uint32_t milliseconds) = 0;
};

// Steady wall clock, 1:1 with real time.
IClock& SystemClock();

// A clock that runs `speedup` times faster than real time (speedup >= 1).
class ScaledClock : public IClock {
  public:
    explicit ScaledClock(double speedup);
    std::uint32_t TickCount() override;
    void Sleep(std::uint32_t milliseconds) override;
    std::chrono::nanoseconds RealDuration(std::uint32_t milliseconds) override;

  private:
    double speedup_;
    std::chrono::steady_clock::time_point origin_;
};

// Sleeps until `end` on the steady clock, and never returns before it: where
// the system sleep rounds down to whole milliseconds (MinGW), a wait of less
// than one returns at once, so the rest is yielded through.
void SleepUntil(std::chrono::steady_clock::time_point end);

namespace Clock {
IClock& Current();  // SystemClock() unless replaced
// Installs `clock` (null restores SystemClock()); returns the one it replaced.
IClock* SetCurrent(IClock* clock);
}  // namespace Clock

// Installs a clock for its life and puts back the one it replaced.
class ScopedClock {
  public:
    explicit ScopedClock(IClock& clock) : previous_(Clock::SetCurrent(&clock)) {}
    ~ScopedClock() { Clock::SetCurrent(previous_); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

  private:
    IClock* previous_;
};

}  // namespace talvo
