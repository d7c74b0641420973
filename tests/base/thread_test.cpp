#include "base/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/event.h"

#if defined(__linux__)
#include <pthread.h>
#endif

namespace talvo {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A clock that only moves when slept on (or when told to jump), so that
// 20-second stop limits pass without real waiting.
class FakeClock : public IClock {
  public:
    explicit FakeClock(std::uint32_t start) : now(start) {}
    std::uint32_t TickCount() override { return now.load(); }
    void Sleep(std::uint32_t ms) override {
        ++sleeps;
        const std::uint32_t target = jumpTo.exchange(0);
        if (target != 0) {
            now.store(target);
        } else {
            now.fetch_add(ms);
        }
        if (realSleep.count() > 0) {
            std::this_thread::sleep_for(realSleep);
        }
        std::this_thread::yield();
    }
    std::chrono::nanoseconds RealDuration(std::uint32_t ms) override { return milliseconds(ms); }

    std::atomic<std::uint32_t> now;
    std::atomic<std::uint32_t> jumpTo{0};  // next Sleep sets the counter to this
    std::atomic<int> sleeps{0};
    milliseconds realSleep{0};  // set before the clock is shared
};

// Real time, with the sleeps counted.
class CountingClock : public IClock {
  public:
    std::uint32_t TickCount() override { return SystemClock().TickCount(); }
    void Sleep(std::uint32_t ms) override {
        ++sleeps;
        SystemClock().Sleep(ms);
    }
    std::chrono::nanoseconds RealDuration(std::uint32_t ms) override {
        return SystemClock().RealDuration(ms);
    }
    std::atomic<int> sleeps{0};
};

// Real ticks, but timed waits last 300 times longer: a 200 ms message wait
// would take a minute unless something wakes it.
class SlowWaitClock : public CountingClock {
  public:
    std::chrono::nanoseconds RealDuration(std::uint32_t ms) override {
        return milliseconds(static_cast<std::int64_t>(ms) * 300);
    }
};

enum class Work {
    kReturnAtOnce,  // Run returns `exitCode` at once
    kUntilStop,     // Run waits for RequestStop
    kIgnoreStop,    // Run waits for `release`, whatever RequestStop says
    kMessages,      // Run takes messages until WM_QUIT
    kWatcherLoop,   // 200 ms waits; RequestStop posts WM_QUIT like the watcher
};

class TestThread : public Thread {
  public:
    ~TestThread() override { Stop(20000); }

    void RequestStop() override {
        ++requestStops;
        if (work.load() == Work::kWatcherLoop && PostThreadMessage(kWmQuit, 0, 0)) {
            return;
        }
        Thread::RequestStop();
        stopRequested.Set();
    }

    std::u16string NameText() const { return Name(); }
    std::int32_t RunningFlag() const { return running.load(); }

    std::atomic<Work> work{Work::kUntilStop};
    std::uint32_t exitCode = 0;
    std::function<std::uint32_t()> onStart;  // replaces the base when set
    std::function<void()> duringStart;       // runs before the base when set

    std::atomic<int> requestStops{0};
    std::atomic<int> starts{0};
    std::atomic<int> runs{0};
    // Counted under a lock: once a waiter sees the count, OnThreadExit is done
    // with the object, so the test may destroy it.
    int Exits() {
        std::lock_guard<std::mutex> lock(exitMutex);
        return exitCount;
    }
    bool WaitForExitCount(int count) {
        std::unique_lock<std::mutex> lock(exitMutex);
        return exitCv.wait_for(lock, milliseconds(30000), [&] { return exitCount >= count; });
    }
    std::atomic<int> timeouts{0};
    std::atomic<bool> runSawStartDone{false};
    std::atomic<bool> startDone{false};
    std::thread::id startThread;
    std::u16string nameAtStart;
    ThreadMessage firstMessage;
    std::atomic<int> messages{0};
    MessageWait waitWithoutQueue = MessageWait::kInputAvailable;

    Event stopRequested;
    Event release;

  protected:
    std::uint32_t OnThreadStart() override {
        ++starts;
        startThread = std::this_thread::get_id();
        nameAtStart = Name();
        std::uint32_t code = 0;
        if (duringStart) {
            duringStart();
        }
        if (onStart) {
            code = onStart();
        } else {
            code = Thread::OnThreadStart();
        }
        startDone = true;
        return code;
    }

    std::uint32_t Run() override {
        ++runs;
        runSawStartDone = startDone.load();
        switch (work.load()) {
            case Work::kReturnAtOnce:
                return exitCode;
            case Work::kUntilStop:
                stopRequested.Wait(kInfinite);
                return exitCode;
            case Work::kIgnoreStop:
                release.Wait(kInfinite);
                return exitCode;
            case Work::kMessages:
                return TakeMessages();
            case Work::kWatcherLoop:
                return WatcherLoop();
        }
        return 1;
    }

    void OnThreadExit() override {
        std::lock_guard<std::mutex> lock(exitMutex);
        ++exitCount;
        exitCv.notify_all();
    }

  private:
    std::mutex exitMutex;
    std::condition_variable exitCv;
    int exitCount = 0;

    std::uint32_t TakeMessages() {
        for (;;) {
            const MessageWait r = WaitForThreadMessage(kInfinite);
            if (r != MessageWait::kInputAvailable) {
                waitWithoutQueue = r;
                return 2;
            }
            ThreadMessage m;
            while (PeekThreadMessage(&m, true)) {
                if (messages++ == 0) {
                    firstMessage = m;
                }
                if (m.message == kWmQuit) {
                    return 0;
                }
            }
        }
    }

    std::uint32_t WatcherLoop() {
        for (;;) {
            const MessageWait r = WaitForThreadMessage(200);
            const bool last = running.load() == 0;
            if (r == MessageWait::kTimedOut) {
                ++timeouts;
            } else if (r == MessageWait::kInputAvailable) {
                ThreadMessage m;
                while (PeekThreadMessage(&m, true)) {
                    if (m.message == kWmQuit) {
                        running.store(0);
                        return 0;
                    }
                }
            }
            if (last) {
                return 0;
            }
        }
    }
};

// Waits (generously) until the thread's OnThreadExit has run `count` times.
void WaitForExits(TestThread& t, int count) {
    ASSERT_TRUE(t.WaitForExitCount(count));
    ASSERT_EQ(t.Exits(), count);
}

TEST(ThreadStartTest, ReturnsOnlyAfterOnThreadStartRanOnTheNewThread) {
    TestThread t;
    t.duringStart = [] { std::this_thread::sleep_for(milliseconds(50)); };
    EXPECT_FALSE(t.HasThread());
    EXPECT_EQ(t.ExitCode(), 0u);

    ASSERT_EQ(t.Start(u"CDeviceWatcher", 0), 1);
    EXPECT_TRUE(t.startDone.load());
    EXPECT_NE(t.startThread, std::this_thread::get_id());
    EXPECT_TRUE(t.HasThread());
    EXPECT_NE(t.ThreadId(), 0u);
    EXPECT_EQ(t.RunningFlag(), 1);
    EXPECT_EQ(t.ExitCode(), Thread::kStillActive);

    t.exitCode = 7;
    EXPECT_EQ(t.Stop(20000), 1);
    EXPECT_TRUE(t.runSawStartDone.load());
    EXPECT_EQ(t.RunningFlag(), 0);
    EXPECT_FALSE(t.HasThread());
    EXPECT_EQ(t.ThreadId(), 0u);
    EXPECT_EQ(t.ExitCode(), 7u);
}

TEST(ThreadStartTest, NameIsCappedAt63UnitsAndSetBeforeTheThreadRuns) {
    const std::u16string n63(63, u'a');
    const std::u16string n64 = std::u16string(63, u'b') + u'c';
    const std::u16string n100(100, u'd');
    TestThread t;

    ASSERT_EQ(t.Start(n63.c_str(), 0), 1);
    EXPECT_EQ(t.NameText(), n63);
    EXPECT_EQ(t.nameAtStart, n63);
    t.Stop(20000);

    ASSERT_EQ(t.Start(n64.c_str(), 0), 1);
    EXPECT_EQ(t.NameText(), std::u16string(63, u'b'));
    t.Stop(20000);

    ASSERT_EQ(t.Start(n100.c_str(), 0), 1);
    EXPECT_EQ(t.NameText(), std::u16string(63, u'd'));
    t.Stop(20000);

    // A shorter name after a long one leaves nothing of the old one behind.
    ASSERT_EQ(t.Start(u"CFirmUpdater", 0), 1);
    EXPECT_EQ(t.NameText(), u"CFirmUpdater");
    t.Stop(20000);

    ASSERT_EQ(t.Start(nullptr, 0), 1);
    EXPECT_EQ(t.NameText(), u"");
    EXPECT_EQ(t.nameAtStart, u"");
    t.Stop(20000);
}

TEST(ThreadStartTest, NonzeroOnThreadStartSkipsRunAndBecomesTheExitCode) {
    TestThread t;
    t.onStart = [] { return 42u; };
    ASSERT_EQ(t.Start(u"x", 0), 1);  // the thread did run
    WaitForExits(t, 1);
    EXPECT_EQ(t.runs.load(), 0);
    t.Stop(20000);
    EXPECT_EQ(t.ExitCode(), 42u);
}

TEST(ThreadStartTest, RefusedPriorityStartsNothing) {
    TestThread t;
    EXPECT_EQ(t.Start(u"x", 7), 0);
    EXPECT_FALSE(t.HasThread());
    EXPECT_EQ(t.ThreadId(), 0u);
    EXPECT_EQ(t.starts.load(), 0);
    EXPECT_EQ(t.runs.load(), 0);
    EXPECT_EQ(t.Exits(), 0);
    EXPECT_EQ(t.Stop(20000), 1);
    EXPECT_EQ(t.requestStops.load(), 0);

    for (int priority : {-2, 2, 0}) {
        t.stopRequested.Reset();
        ASSERT_EQ(t.Start(u"x", priority), 1) << priority;
        t.Stop(20000);
    }
    EXPECT_EQ(t.runs.load(), 3);
}

TEST(ThreadStartTest, SecondStartWhileRunningIsRefused) {
    TestThread t;
    ASSERT_EQ(t.Start(u"first", 0), 1);
    const std::uint32_t id = t.ThreadId();
    EXPECT_EQ(t.Start(u"second", 0), 0);
    EXPECT_EQ(t.ThreadId(), id);
    EXPECT_EQ(t.NameText(), u"first");
    EXPECT_EQ(t.starts.load(), 1);
    t.Stop(20000);
    EXPECT_EQ(t.Exits(), 1);
}

TEST(ThreadStopTest, NeverStartedReturnsAtOnceWithoutRequestStop) {
    TestThread t;
    EXPECT_EQ(t.Stop(20000), 1);
    EXPECT_EQ(t.requestStops.load(), 0);

    ASSERT_EQ(t.Start(u"x", 0), 1);
    t.Stop(20000);
    EXPECT_EQ(t.requestStops.load(), 1);
    EXPECT_EQ(t.Stop(20000), 1);  // nothing left to stop
    EXPECT_EQ(t.requestStops.load(), 1);
}

TEST(ThreadStopTest, EndedThreadIsReadAtOnceAndKeepsItsExitCode) {
    CountingClock clock;
    ScopedClock scope(clock);
    TestThread t;
    t.work = Work::kReturnAtOnce;
    t.exitCode = 5;
    ASSERT_EQ(t.Start(u"x", 0), 1);
    WaitForExits(t, 1);
    // OnThreadExit is not quite the end; wait for the exit code itself.
    const auto deadline = steady_clock::now() + milliseconds(30000);
    while (t.ExitCode() == Thread::kStillActive && steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_EQ(t.ExitCode(), 5u);

    EXPECT_EQ(t.Stop(20000), 1);
    EXPECT_EQ(clock.sleeps.load(), 0);  // the first reading is taken before any sleep
    EXPECT_EQ(t.requestStops.load(), 1);
    EXPECT_EQ(t.ExitCode(), 5u);
}

TEST(ThreadStopTest, RunReturningTheStillActiveValueIsStillSeenAsEnded) {
    FakeClock clock(1000);
    clock.realSleep = milliseconds(5);  // 200 polls give the thread a second to finish
    ScopedClock scope(clock);
    TestThread t;
    t.work = Work::kReturnAtOnce;
    t.exitCode = Thread::kStillActive;
    ASSERT_EQ(t.Start(u"x", 0), 1);
    WaitForExits(t, 1);
    EXPECT_EQ(t.Stop(20000), 1);
    EXPECT_LT(clock.sleeps.load(), 200);  // not waited out and abandoned
    EXPECT_EQ(t.ExitCode(), Thread::kStillActive);
}

TEST(ThreadStopTest, ThreadEndingOnRequestIsCollectedWithinAFewSteps) {
    CountingClock clock;
    ScopedClock scope(clock);
    TestThread t;
    ASSERT_EQ(t.Start(u"x", 0), 1);
    const auto before = steady_clock::now();
    EXPECT_EQ(t.Stop(20000), 1);
    EXPECT_LT(steady_clock::now() - before, milliseconds(10000));
    EXPECT_LE(clock.sleeps.load(), 5);  // normally 0 or 1
    EXPECT_EQ(t.Exits(), 1);
    EXPECT_FALSE(t.HasThread());
}

TEST(ThreadStopTest, StubbornThreadIsAbandonedAfterTheLimitAndTheObjectRestarts) {
    FakeClock clock(1000);
    ScopedClock scope(clock);
    TestThread t;
    t.work = Work::kIgnoreStop;
    ASSERT_EQ(t.Start(u"stubborn", 0), 1);

    EXPECT_EQ(t.Stop(20000), 1);
    const std::uint32_t waited = clock.now.load() - 1000;
    EXPECT_GE(waited, 20000u);
    EXPECT_LE(waited, 20100u);
    EXPECT_EQ(clock.sleeps.load(), 200);
    EXPECT_FALSE(t.HasThread());
    EXPECT_EQ(t.ThreadId(), 0u);
    EXPECT_FALSE(t.PostThreadMessage(kWmUser, 0, 0));
    EXPECT_EQ(t.ExitCode(), Thread::kStillActive);  // it does still run
    EXPECT_EQ(t.Exits(), 0);

    // The same object starts a fresh thread while the old one lingers.
    t.work = Work::kUntilStop;
    t.exitCode = 3;
    ASSERT_EQ(t.Start(u"again", 0), 1);
    EXPECT_TRUE(t.HasThread());
    EXPECT_EQ(t.Stop(20000), 1);
    WaitForExits(t, 1);
    EXPECT_EQ(t.ExitCode(), 3u);

    // Owner's duty: keep the object alive until the abandoned thread is done.
    t.release.Set();
    WaitForExits(t, 2);
}

// Runs one stop against a thread that ignores it, with the tick counter
// starting at `start`; returns the number of 100 ms sleeps Stop took.
int SleepsOfAbandonedStop(std::uint32_t start, std::uint32_t jumpOnFirstSleep) {
    FakeClock clock(start);
    clock.jumpTo = jumpOnFirstSleep;
    ScopedClock scope(clock);
    TestThread t;
    t.work = Work::kIgnoreStop;
    if (t.Start(u"x", 0) != 1) {
        return -1;
    }
    t.Stop(20000);
    t.release.Set();
    WaitForExits(t, 1);
    return clock.sleeps.load();
}

TEST(ThreadStopTest, TickCounterWrap) {
    // start + limit overflows: the wait goes on through the wrap until the
    // wrapped deadline (19000) is reached.
    EXPECT_EQ(SleepsOfAbandonedStop(0xFFFFFFFFu - 999u, 0), 200);
    // Starting exactly at the top of the counter.
    EXPECT_EQ(SleepsOfAbandonedStop(0xFFFFFFFFu, 0), 200);
    // start + limit does not overflow, but the counter jumps past the wrap
    // to below the start: that counts as past the deadline.
    EXPECT_EQ(SleepsOfAbandonedStop(0xFFFFFFFFu - 29999u, 50), 1);
    // The largest start whose deadline does not overflow.
    EXPECT_EQ(SleepsOfAbandonedStop(0xFFFFFFFFu - 20000u, 0), 200);
}

TEST(ThreadMessageTest, MessagePostedRightAfterStartIsReceived) {
    TestThread t;
    t.work = Work::kMessages;
    EXPECT_FALSE(t.PostThreadMessage(kWmUser, 0, 0));  // no thread yet
    ASSERT_EQ(t.Start(u"x", 0), 1);
    ASSERT_TRUE(t.PostThreadMessage(kWmUser + 1, 11, -22));
    ASSERT_TRUE(t.PostToThread(kWmQuit, 0, 0));
    WaitForExits(t, 1);
    t.Stop(20000);
    EXPECT_EQ(t.messages.load(), 2);
    EXPECT_EQ(t.firstMessage.message, kWmUser + 1);
    EXPECT_EQ(t.firstMessage.wParam, 11u);
    EXPECT_EQ(t.firstMessage.lParam, -22);
    EXPECT_EQ(t.ExitCode(), 0u);
    EXPECT_FALSE(t.PostThreadMessage(kWmUser, 0, 0));  // thread gone
}

TEST(ThreadMessageTest, WithoutTheBaseOnThreadStartThereIsNoQueue) {
    TestThread t;
    t.work = Work::kMessages;
    t.onStart = [] { return 0u; };  // skips the base: no queue is created
    ASSERT_EQ(t.Start(u"x", 0), 1);
    WaitForExits(t, 1);
    EXPECT_EQ(t.waitWithoutQueue, MessageWait::kFailed);
    t.Stop(20000);
    EXPECT_EQ(t.ExitCode(), 2u);

    EXPECT_EQ(Thread::WaitForThreadMessage(0), MessageWait::kFailed);  // not our thread
    EXPECT_FALSE(Thread::PeekThreadMessage(nullptr, false));
}

TEST(ThreadMessageTest, QuitWakesA200msWaitAtOnce) {
    SlowWaitClock clock;  // each 200 ms wait would last a minute
    ScopedClock scope(clock);
    TestThread t;
    t.work = Work::kWatcherLoop;
    ASSERT_EQ(t.Start(u"CDeviceWatcher", 0), 1);
    std::this_thread::sleep_for(milliseconds(30));  // let it enter the wait
    const auto before = steady_clock::now();
    EXPECT_EQ(t.Stop(20000), 1);  // RequestStop posts WM_QUIT
    EXPECT_LT(steady_clock::now() - before, milliseconds(20000));
    EXPECT_EQ(t.Exits(), 1);
    EXPECT_EQ(t.timeouts.load(), 0);
    EXPECT_EQ(t.ExitCode(), 0u);
}

TEST(ThreadMessageTest, PostingFromOtherThreadsWhileStartingAndStoppingIsSafe) {
    TestThread t;
    t.work = Work::kMessages;
    std::atomic<bool> done{false};
    std::atomic<int> accepted{0};
    auto poster = [&] {
        while (!done.load()) {
            if (t.PostThreadMessage(kWmUser, 0, 0)) {
                ++accepted;
            }
            std::this_thread::yield();
        }
    };
    std::thread a(poster);
    std::thread b(poster);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(t.Start(u"x", 0), 1);
        while (!t.PostThreadMessage(kWmQuit, 0, 0)) {  // retry while the queue is full
            std::this_thread::yield();
        }
        WaitForExits(t, i + 1);
        t.Stop(20000);
    }
    done = true;
    a.join();
    b.join();
    EXPECT_FALSE(t.HasThread());
    EXPECT_FALSE(t.PostThreadMessage(kWmUser, 0, 0));
}

// A derived class that, unlike the real ones, never calls Stop.
class BareThread : public Thread {
  public:
    Event done;

  protected:
    std::uint32_t Run() override { return 9; }
    void OnThreadExit() override { done.Set(); }
};

TEST(ThreadLifetimeTest, DestroyingAnObjectWhoseThreadEndedWithoutStopIsSafe) {
    auto t = std::make_unique<BareThread>();
    ASSERT_EQ(t->Start(u"x", 0), 1);
    ASSERT_TRUE(t->done.Wait(30000));
    t.reset();  // must neither hang nor end the process
    SUCCEED();
}

#if defined(__linux__)
TEST(ThreadNameTest, SystemNameIsShortenedAtACharacterBoundary) {
    struct Case {
        std::u16string name;
        std::string expected;
    };
    const Case cases[] = {
        {u"CDeviceWatcher", "CDeviceWatcher"},
        {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCDEFGHIJKLMNO"},
        // Two-byte characters: seven fit into 15 bytes, the eighth does not.
        {u"\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4",
         "\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84\xc3\x84"},
    };
    for (const Case& c : cases) {
        TestThread t;
        std::string seen;
        t.duringStart = [&seen] {
            char buffer[32] = {};
            pthread_getname_np(pthread_self(), buffer, sizeof(buffer));
            seen = buffer;
        };
        ASSERT_EQ(t.Start(c.name.c_str(), 0), 1);
        t.Stop(20000);
        EXPECT_EQ(seen, c.expected);
    }
}
#endif

}  // namespace
}  // namespace talvo
