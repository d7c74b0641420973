// The message loop of the headless window system: the UI thread's queue
// (messages posted from any thread, tasks), its timers and the quit message
// with its code. It knows windows only as references that may be posted to;
// what a message does is the delivery function's business.
//
// The thread that pumps the loop (RunMessageLoop, a nested modal loop, a
// message box) is the UI thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "ui/ui_types.h"

namespace talvo {

class HeadlessMessageLoop {
  public:
    struct Message {
        WindowRef window;
        std::uint32_t message = 0;
        std::uintptr_t wParam = 0;
        std::intptr_t lParam = 0;
    };
    using Deliver = std::function<void(const Message&)>;

    explicit HeadlessMessageLoop(Deliver deliver) : deliver_(std::move(deliver)) {}

    // Timers run this many times faster than their nominal interval.
    void SetTimerSpeedup(double speedup);

    // Runs `task` on the UI thread and waits for it (directly when called on
    // the UI thread). Throws std::runtime_error when the UI thread does not
    // take it within `limit`.
    void Invoke(std::function<void()> task, std::chrono::milliseconds limit);
    // Queues `task` for the UI thread without waiting for it.
    void PostTask(std::function<void()> task);
    // Waits until the UI thread sits in a loop with nothing queued.
    bool WaitIdle(std::chrono::milliseconds limit);

    // The windows messages may be posted to. Forgetting one drops its timers.
    void AddWindow(WindowRef window);
    void RemoveWindow(WindowRef window);

    // False when the window is not known.
    bool Post(WindowRef window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    void SetTimer(WindowRef window, std::uintptr_t id, std::uint32_t milliseconds);
    void KillTimer(WindowRef window, std::uintptr_t id);
    void PostQuit(int code);

    // The calling thread becomes the UI thread.
    void BindToThisThread();
    // One step of a loop: delivers one message, task or timer, or returns
    // false with the quit code when the quit message is taken.
    bool PumpOne(int& quitCode);
    // Pumps until the quit message; its code.
    int Run();

  private:
    struct Queued {
        Message message;
        std::function<void()> task;  // set for tasks
    };
    struct Timer {
        WindowRef window;
        std::uintptr_t id = 0;
        std::chrono::steady_clock::duration interval{};
        std::chrono::steady_clock::time_point due{};
    };

    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Queued> queue_;
    std::vector<Timer> timers_;
    std::set<std::uintptr_t> windows_;
    bool quitPending_ = false;
    int quitCode_ = 0;
    bool waiting_ = false;
    double speedup_ = 1.0;
    std::thread::id uiThread_;
};

}  // namespace talvo
