#include "base/clock.h"

#include <gtest/gtest.h>

namespace talvo {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(ScaledClockTest, LongSleepPassesQuicklyAndTicksAdvanceScaled) {
    ScaledClock clock(1000.0);
    const std::uint32_t ticksBefore = clock.TickCount();
    const auto realBefore = steady_clock::now();
    clock.Sleep(10000);
    const auto real = steady_clock::now() - realBefore;
    const std::uint32_t ticks = clock.TickCount() - ticksBefore;

    EXPECT_GE(real, milliseconds(9));
    EXPECT_LT(real, milliseconds(2000));
    EXPECT_GE(ticks, 9999u);
    EXPECT_LT(ticks, 2000000u);
}

TEST(ScaledClockTest, ShortScaledSleepsLastAtLeastTheirRealDuration) {
    // Below a millisecond of real time as well: every sleep must last what
    // the scaled clock promises, or paced waits run too fast.
    for (const double speedup : {50.0, 400.0, 4000.0}) {
        ScaledClock clock(speedup);
        for (const std::uint32_t ms : {1u, 7u, 20u, 60u}) {
            const auto wanted = clock.RealDuration(ms);
            for (int i = 0; i < 5; ++i) {
                const auto before = steady_clock::now();
                clock.Sleep(ms);
                EXPECT_GE(steady_clock::now() - before, wanted)
                    << ms << " ms at speed-up " << speedup;
            }
        }
    }
}

TEST(SleepUntilTest, NeverReturnsBeforeItsEnd) {
    for (const auto wait : {std::chrono::microseconds(30), std::chrono::microseconds(125),
                            std::chrono::microseconds(900), std::chrono::microseconds(2500)}) {
        for (int i = 0; i < 10; ++i) {
            const auto end = steady_clock::now() + wait;
            SleepUntil(end);
            EXPECT_GE(steady_clock::now(), end) << wait.count() << " us";
        }
    }
}

TEST(ScaledClockTest, RealDurationDividesBySpeedupAndNeverRunsSlow) {
    ScaledClock fast(1000.0);
    EXPECT_EQ(fast.RealDuration(5000), milliseconds(5));
    EXPECT_EQ(fast.RealDuration(0), std::chrono::nanoseconds(0));
    // The largest limit must not overflow into a negative duration.
    EXPECT_GT(fast.RealDuration(0xFFFFFFFEu), milliseconds(4294967));

    ScaledClock slow(0.001);  // below 1: treated as real time
    EXPECT_EQ(slow.RealDuration(1000), milliseconds(1000));
}

TEST(SystemClockTest, TicksFollowRealTime) {
    IClock& clock = SystemClock();
    EXPECT_EQ(clock.RealDuration(1234), milliseconds(1234));
    const std::uint32_t before = clock.TickCount();
    clock.Sleep(30);
    const std::uint32_t elapsed = clock.TickCount() - before;
    EXPECT_GE(elapsed, 25u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(ClockTest, ScopedClockReplacesAndRestoresCurrent) {
    EXPECT_EQ(&Clock::Current(), &SystemClock());
    ScaledClock scaled(100.0);
    {
        ScopedClock scope(scaled);
        EXPECT_EQ(&Clock::Current(), &scaled);
        // Catches an inner guard that puts back the system clock instead of
        // the one it replaced.
        ScaledClock inner(2.0);
        { ScopedClock nested(inner); }
        EXPECT_EQ(&Clock::Current(), &scaled);
    }
    EXPECT_EQ(&Clock::Current(), &SystemClock());
    Clock::SetCurrent(&scaled);
    Clock::SetCurrent(nullptr);
    EXPECT_EQ(&Clock::Current(), &SystemClock());
}

}  // namespace
}  // namespace talvo
