// Costs of the thread building blocks: posting and taking thread messages,
// an event round trip between two threads, and a thread's start and stop.
#include <benchmark/benchmark.h>

#include <thread>

#include "base/clock.h"
#include "base/event.h"
#include "base/message_queue.h"
#include "base/thread.h"

namespace talvo {
namespace {

void BM_QueuePostAndTake(benchmark::State& state) {
    MessageQueue queue;
    ThreadMessage m;
    for (auto _ : state) {
        queue.Post(kWmUser, 1, 2);
        benchmark::DoNotOptimize(queue.Peek(&m, true));
    }
}
BENCHMARK(BM_QueuePostAndTake);

void BM_QueueBurstOf1000(benchmark::State& state) {
    MessageQueue queue;
    ThreadMessage m;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            queue.Post(kWmUser, static_cast<std::uintptr_t>(i), 0);
        }
        while (queue.Peek(&m, true)) {
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_QueueBurstOf1000);

void BM_EventRoundTrip(benchmark::State& state) {
    Event ping(Event::Mode::kAutoReset);
    Event pong(Event::Mode::kAutoReset);
    std::atomic<bool> done{false};
    std::thread echo([&] {
        while (ping.Wait(kInfinite) && !done.load()) {
            pong.Set();
        }
    });
    for (auto _ : state) {
        ping.Set();
        pong.Wait(kInfinite);
    }
    done = true;
    ping.Set();
    echo.join();
}
BENCHMARK(BM_EventRoundTrip);

class IdleThread : public Thread {
  protected:
    std::uint32_t Run() override {
        while (running.load() != 0) {
            WaitForThreadMessage(10);
        }
        return 0;
    }
};

void BM_ThreadStartStop(benchmark::State& state) {
    // The stop polls every 100 clock ms; a fast clock keeps that from
    // dominating, so the figure shows the start handshake and thread cost.
    ScaledClock clock(1000.0);
    ScopedClock scope(clock);
    IdleThread t;
    for (auto _ : state) {
        t.Start(u"bench", 0);
        t.Stop(20000);
    }
}
BENCHMARK(BM_ThreadStartStop);

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
