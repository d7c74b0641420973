#include "tests/headless_ui/headless_loop.h"

#include <algorithm>
#include <future>
#include <memory>
#include <stdexcept>

namespace talvo {

void HeadlessMessageLoop::SetTimerSpeedup(double speedup) {
    std::lock_guard lock(mutex_);
    speedup_ = speedup < 1.0 ? 1.0 : speedup;
}

void HeadlessMessageLoop::Invoke(std::function<void()> task, std::chrono::milliseconds limit) {
    std::future<void> done;
    {
        std::lock_guard lock(mutex_);
        if (uiThread_ != std::this_thread::get_id()) {
            auto promise = std::make_shared<std::promise<void>>();
            done = promise->get_future();
            // The queued task owns what it touches, so a caller that gave up
            // waiting leaves nothing dangling behind.
            auto shared = std::make_shared<std::function<void()>>(std::move(task));
            queue_.push_back(Queued{{}, [promise, shared] {
                                        try {
                                            (*shared)();
                                            promise->set_value();
                                        } catch (...) {
                                            promise->set_exception(std::current_exception());
                                        }
                                    }});
            wake_.notify_all();
        }
    }
    if (!done.valid()) {
        task();
        return;
    }
    if (done.wait_for(limit) != std::future_status::ready) {
        throw std::runtime_error("UI thread did not run the task");
    }
    done.get();
}

void HeadlessMessageLoop::PostTask(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    queue_.push_back(Queued{{}, std::move(task)});
    wake_.notify_all();
}

bool HeadlessMessageLoop::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [&] { return waiting_ && queue_.empty(); });
}

void HeadlessMessageLoop::AddWindow(WindowRef window) {
    std::lock_guard lock(mutex_);
    windows_.insert(window.value);
}

void HeadlessMessageLoop::RemoveWindow(WindowRef window) {
    std::lock_guard lock(mutex_);
    windows_.erase(window.value);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [&](const Timer& t) { return t.window == window; }),
                  timers_.end());
}

bool HeadlessMessageLoop::Post(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) {
    std::lock_guard lock(mutex_);
    if (windows_.count(window.value) == 0) {
        return false;
    }
    queue_.push_back(Queued{{window, message, wParam, lParam}, {}});
    wake_.notify_all();
    return true;
}

void HeadlessMessageLoop::SetTimer(WindowRef window, std::uintptr_t id,
                                   std::uint32_t milliseconds) {
    std::lock_guard lock(mutex_);
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::milli>(std::max<std::uint32_t>(milliseconds, 10) /
                                                  speedup_));
    const auto due = std::chrono::steady_clock::now() + interval;
    for (Timer& t : timers_) {
        if (t.window == window && t.id == id) {
            t.interval = interval;
            t.due = due;
            return;
        }
    }
    timers_.push_back(Timer{window, id, interval, due});
    wake_.notify_all();
}

void HeadlessMessageLoop::KillTimer(WindowRef window, std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [&](const Timer& t) { return t.window == window && t.id == id; }),
                  timers_.end());
}

void HeadlessMessageLoop::PostQuit(int code) {
    std::lock_guard lock(mutex_);
    quitPending_ = true;
    quitCode_ = code;
    wake_.notify_all();
}

void HeadlessMessageLoop::BindToThisThread() {
    std::lock_guard lock(mutex_);
    uiThread_ = std::this_thread::get_id();
}

bool HeadlessMessageLoop::PumpOne(int& quitCode) {
    std::unique_lock lock(mutex_);
    uiThread_ = std::this_thread::get_id();
    for (;;) {
        if (!queue_.empty()) {
            Queued q = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            if (q.task) {
                q.task();
            } else {
                deliver_(q.message);
            }
            return true;
        }
        if (quitPending_) {
            // The quit message comes after everything posted before it.
            quitPending_ = false;
            quitCode = quitCode_;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        Timer* next = nullptr;
        for (Timer& t : timers_) {
            if (next == nullptr || t.due < next->due) {
                next = &t;
            }
        }
        if (next != nullptr && next->due <= now) {
            next->due = now + next->interval;
            const Message m{next->window, msg::kTimer, next->id, 0};
            lock.unlock();
            deliver_(m);
            return true;
        }
        waiting_ = true;
        idle_.notify_all();
        if (next != nullptr) {
            wake_.wait_until(lock, next->due);
        } else {
            wake_.wait(lock);
        }
        waiting_ = false;
    }
}

int HeadlessMessageLoop::Run() {
    int code = 0;
    while (PumpOne(code)) {
    }
    return code;
}

}  // namespace talvo
