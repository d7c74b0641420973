#include "base/thread.h"

#include <new>
#include <system_error>
#include <utility>

#include "base/clock.h"
#include "base/event.h"
#include "base/thread_platform.h"

namespace talvo {

// Bookkeeping shared by the object and its thread. The thread holds its own
// reference, so Stop can forget (abandon) a thread without freeing anything
// the thread still uses.
struct Thread::Shared {
    Event resume;   // lets the new thread begin once Start has recorded it
    Event started;  // set by the new thread after OnThreadStart
    MessageQueue queue{false};
    bool startFailed = false;  // written before `started` is set
    std::atomic<std::uint32_t> exitCode{kStillActive};
    std::atomic<bool> finished{false};
};

namespace {

constexpr std::uint32_t kStopPollMs = 100;

// The queue of the thread this code runs on (null outside our threads).
thread_local MessageQueue* t_queue = nullptr;

}  // namespace

Thread::Thread() : threadId(0), running(0), name{} {}

Thread::~Thread() {
    std::thread handle;
    std::shared_ptr<Shared> shared;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        handle = std::move(threadHandle_);
        shared = std::move(shared_);
    }
    if (handle.joinable()) {
        // A thread that already ended is reaped; one still running is left to
        // run on (the owner's duty, see the header).
        if (shared && shared->finished.load(std::memory_order_acquire)) {
            handle.join();
        } else {
            handle.detach();
        }
    }
}

int Thread::Start(const char16_t* threadName, int priority) {
    if (HasThread()) {
        return 0;
    }
    std::shared_ptr<Shared> shared;
    try {
        shared = std::make_shared<Shared>();
    } catch (const std::bad_alloc&) {
        return 0;
    }

    std::size_t length = 0;
    if (threadName != nullptr) {
        while (length < kNameCapacity - 1 && threadName[length] != u'\0') {
            name[length] = threadName[length];
            ++length;
        }
    }
    name[length] = u'\0';

    running.store(1);

    std::thread handle;
    try {
        handle = std::thread(&Thread::ThreadEntry, this, shared, priority);
    } catch (const std::system_error&) {
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        threadHandle_ = std::move(handle);
        shared_ = shared;
    }
    shared->resume.Set();
    shared->started.Wait(kInfinite);

    if (shared->startFailed) {
        // The thread refused its priority and ended without doing any work.
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            handle = std::move(threadHandle_);
            shared_.reset();
        }
        handle.join();
        threadId.store(0);
        return 0;
    }
    return 1;
}

void Thread::ThreadEntry(Thread* self, std::shared_ptr<Shared> shared, int priority) {
    shared->resume.Wait(kInfinite);
    self->threadId.store(thread_platform::CurrentThreadId());
    if (!thread_platform::SetCurrentThreadPriority(priority)) {
        shared->startFailed = true;
        shared->exitCode.store(0);
        shared->finished.store(true, std::memory_order_release);
        shared->started.Set();
        return;
    }
    if (self->name[0] != u'\0') {
        thread_platform::SetCurrentThreadName(self->name);
    }
    t_queue = &shared->queue;

    std::uint32_t code = self->OnThreadStart();
    shared->started.Set();
    if (code == 0) {
        code = self->Run();
    }
    self->OnThreadExit();
    // From here on only the shared bookkeeping is touched, never the object.

    t_queue = nullptr;
    shared->queue.Close();
    shared->exitCode.store(code);
    shared->finished.store(true, std::memory_order_release);
}

int Thread::Stop(std::uint32_t timeLimitMs) {
    std::shared_ptr<Shared> shared;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!threadHandle_.joinable()) {
            return 1;
        }
        shared = shared_;
    }
    RequestStop();

    // The time since the start, taken modulo 2^32, stays right across a wrap
    // of the tick counter: a deadline that overflows is reached only once the
    // counter has wrapped and passed it, and when the deadline does not
    // overflow, a counter that wrapped below the start counts as past it.
    IClock& clock = Clock::Current();
    const std::uint32_t start = clock.TickCount();
    while (!shared->finished.load(std::memory_order_acquire)) {
        const std::uint32_t elapsed = clock.TickCount() - start;
        if (elapsed >= timeLimitMs) {
            break;
        }
        clock.Sleep(kStopPollMs);
    }

    std::thread handle;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        handle = std::move(threadHandle_);
    }
    threadId.store(0);
    if (!handle.joinable()) {
        return 1;  // a concurrent Stop has already dealt with it
    }
    if (shared->finished.load(std::memory_order_acquire)) {
        handle.join();  // it has ended: this only reaps it
    } else {
        handle.detach();  // abandoned; it keeps its own share of `shared`
    }
    return 1;
}

void Thread::StopAndWait() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!threadHandle_.joinable()) {
            return;
        }
    }
    RequestStop();
    std::thread handle;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        handle = std::move(threadHandle_);
    }
    if (handle.joinable()) {
        handle.join();
    }
    threadId.store(0);
}

void Thread::RequestStop() {
    running.store(0);
}

bool Thread::HasThread() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return threadHandle_.joinable();
}

std::uint32_t Thread::ExitCode() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return shared_ ? shared_->exitCode.load() : 0;
}

bool Thread::PostToThread(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!threadHandle_.joinable() || !shared_) {
        return false;
    }
    return shared_->queue.Post(message, wParam, lParam);
}

MessageWait Thread::WaitForThreadMessage(std::uint32_t timeoutMs) {
    MessageQueue* queue = t_queue;
    return queue != nullptr ? queue->Wait(timeoutMs) : MessageWait::kFailed;
}

bool Thread::PeekThreadMessage(ThreadMessage* message, bool remove) {
    MessageQueue* queue = t_queue;
    return queue != nullptr && queue->Peek(message, remove);
}

std::uint32_t Thread::OnThreadStart() {
    if (t_queue != nullptr) {
        t_queue->Open();
    }
    return 0;
}

void Thread::OnThreadExit() {}

}  // namespace talvo
