#include "base/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/clock.h"

namespace talvo {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(EventTest, ManualResetStaysSetUntilReset) {
    Event event;
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(10));
    EXPECT_TRUE(event.Wait(kInfinite));
    EXPECT_TRUE(event.IsSet());
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));

    Event initiallySet(Event::Mode::kManualReset, true);
    EXPECT_TRUE(initiallySet.Wait(0));
}

TEST(EventTest, AutoResetIsTakenByOneWait) {
    Event event(Event::Mode::kAutoReset);
    event.Set();
    EXPECT_TRUE(event.IsSet());  // looking does not take it
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set();  // setting twice still releases one wait
    EXPECT_TRUE(event.Wait(kInfinite));
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, TimeoutReturnsUnsetAfterTheLimit) {
    Event event;
    const auto before = steady_clock::now();
    EXPECT_FALSE(event.Wait(60));
    const auto waited = steady_clock::now() - before;
    EXPECT_GE(waited, milliseconds(50));
    EXPECT_LT(waited, milliseconds(5000));
}

TEST(EventTest, TimeoutFollowsTheCurrentClock) {
    ScaledClock clock(1000.0);
    ScopedClock scope(clock);
    Event event;
    const auto before = steady_clock::now();
    EXPECT_FALSE(event.Wait(5000));  // 5 ms of real time
    EXPECT_LT(steady_clock::now() - before, milliseconds(2000));
}

TEST(EventTest, ManualSetReleasesEveryWaiter) {
    Event event;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(kInfinite)) {
                ++released;
            }
        });
    }
    event.Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released.load(), 3);
}

TEST(EventTest, AutoSetReleasesOneWaiterPerSet) {
    Event event(Event::Mode::kAutoReset);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(kInfinite)) {
                ++released;
            }
        });
    }
    event.Set();
    const auto deadline = steady_clock::now() + milliseconds(5000);
    while (released.load() < 1 && steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    // Give a wrongly released second waiter time to show up.
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(released.load(), 1);
    EXPECT_FALSE(event.IsSet());
    event.Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released.load(), 2);
}

TEST(EventTest, SetFromAnotherThreadWakesATimedWait) {
    Event event;
    std::thread setter([&] {
        std::this_thread::sleep_for(milliseconds(20));
        event.Set();
    });
    const auto before = steady_clock::now();
    EXPECT_TRUE(event.Wait(60000));
    EXPECT_LT(steady_clock::now() - before, milliseconds(30000));
    setter.join();
}

}  // namespace
}  // namespace talvo
