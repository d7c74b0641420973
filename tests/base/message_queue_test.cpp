#include "base/message_queue.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/clock.h"
#include "base/event.h"

namespace talvo {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(MessageQueueTest, KeepsOrderAcrossRingWrapAndGrowth) {
    MessageQueue queue;
    std::uint32_t nextIn = 0;
    std::uint32_t nextOut = 0;
    auto post = [&](int n) {
        for (int i = 0; i < n; ++i, ++nextIn) {
            ASSERT_TRUE(queue.Post(kWmUser + nextIn, nextIn * 2, -static_cast<int>(nextIn)));
        }
    };
    auto take = [&](int n) {
        for (int i = 0; i < n; ++i, ++nextOut) {
            ThreadMessage m;
            ASSERT_TRUE(queue.Peek(&m, true));
            ASSERT_EQ(m.message, kWmUser + nextOut);
            ASSERT_EQ(m.wParam, nextOut * 2);
            ASSERT_EQ(m.lParam, -static_cast<std::intptr_t>(nextOut));
        }
    };
    // Move the head into the middle of the ring, then grow while it wraps.
    post(10);
    take(7);
    post(12);  // wraps around the end of the first buffer
    post(40);  // forces growth with the contents wrapped
    take(30);
    post(5);
    EXPECT_EQ(queue.Size(), nextIn - nextOut);
    take(static_cast<int>(nextIn - nextOut));
    EXPECT_FALSE(queue.Peek(nullptr, true));
}

TEST(MessageQueueTest, PeekWithoutRemoveLeavesTheMessage) {
    MessageQueue queue;
    ASSERT_TRUE(queue.Post(kWmQuit, 1, 2));
    ThreadMessage m;
    EXPECT_TRUE(queue.Peek(&m, false));
    EXPECT_TRUE(queue.Peek(nullptr, false));
    EXPECT_EQ(queue.Size(), 1u);
    // A message already seen still counts as input for the next wait.
    EXPECT_EQ(queue.Wait(kInfinite), MessageWait::kInputAvailable);
    EXPECT_TRUE(queue.Peek(&m, true));
    EXPECT_EQ(m.message, kWmQuit);
    EXPECT_EQ(queue.Wait(0), MessageWait::kTimedOut);
}

TEST(MessageQueueTest, ClosedQueueRefusesPostsAndFailsWaits) {
    MessageQueue queue(false);
    EXPECT_FALSE(queue.Post(kWmUser, 0, 0));
    EXPECT_EQ(queue.Wait(kInfinite), MessageWait::kFailed);
    queue.Open();
    EXPECT_TRUE(queue.Post(kWmUser, 0, 0));
    queue.Close();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_FALSE(queue.Post(kWmUser, 0, 0));
    EXPECT_FALSE(queue.Peek(nullptr, false));
}

TEST(MessageQueueTest, CloseWakesAWaiter) {
    MessageQueue queue;
    MessageWait result = MessageWait::kTimedOut;
    std::thread waiter([&] { result = queue.Wait(kInfinite); });
    std::this_thread::sleep_for(milliseconds(20));
    queue.Close();
    waiter.join();
    EXPECT_EQ(result, MessageWait::kFailed);
}

TEST(MessageQueueTest, FullQueueRefusesFurtherPosts) {
    MessageQueue queue;
    for (std::size_t i = 0; i < MessageQueue::kMaxMessages; ++i) {
        ASSERT_TRUE(queue.Post(kWmUser, i, 0));
    }
    EXPECT_FALSE(queue.Post(kWmUser, 0, 0));
    ThreadMessage m;
    ASSERT_TRUE(queue.Peek(&m, true));
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_TRUE(queue.Post(kWmUser, 0, 0));
}

TEST(MessageQueueTest, WaitTimesOutByTheCurrentClockAndWakesOnPost) {
    ScaledClock clock(1000.0);
    ScopedClock scope(clock);
    MessageQueue queue;
    const auto before = steady_clock::now();
    EXPECT_EQ(queue.Wait(10000), MessageWait::kTimedOut);  // 10 ms of real time
    EXPECT_LT(steady_clock::now() - before, milliseconds(3000));

    std::thread poster([&] {
        std::this_thread::sleep_for(milliseconds(20));
        queue.Post(kWmUser, 0, 0);
    });
    EXPECT_EQ(queue.Wait(kInfinite), MessageWait::kInputAvailable);
    poster.join();
}

}  // namespace
}  // namespace talvo
