// Base class of the named worker threads (the device watcher, the firmware
// updater): a start handshake that returns only once the new thread has
// finished OnThreadStart, and a cooperative stop with a time limit that
// never terminates a thread.
//
// Lifetime: Stop abandons a thread that outlives its time limit (it is
// detached, not killed). The shared bookkeeping the thread still uses (its
// message queue, exit state and start events) stays alive with the thread
// itself. The object is another matter: the abandoned thread keeps running
// Run and then calls OnThreadExit on it, so the owner must keep the object
// alive until that thread's OnThreadExit has returned. After OnThreadExit the
// thread no longer touches the object. The derived destructors therefore
// call Stop first and rely on their threads ending within its limit, or
// StopAndWait where that cannot be relied on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "base/message_queue.h"

namespace talvo {

class Thread {
  public:
    // Exit code read while the thread still runs.
    static constexpr std::uint32_t kStillActive = 259;
    // Storage of the name in UTF-16 code units, terminator included.
    static constexpr std::size_t kNameCapacity = 64;

    // The virtual operations are declared in their fixed order: destructor,
    // Start, Stop, Run, RequestStop, OnThreadStart, OnThreadExit.
    Thread();
    // Does not stop the thread (see the lifetime note above).
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread with `threadName` (zero-terminated UTF-16, at most 63
    // code units kept, null for none) and a thread priority (0 normal; the
    // values -15, -2..2 and 15 are accepted everywhere). Returns 1 once the
    // new thread has run OnThreadStart, 0 when no thread could be started
    // (also while this object still has a thread).
    virtual int Start(const char16_t* threadName, int priority);

    // Asks the thread to end (RequestStop) and waits up to `timeLimitMs`
    // (Clock::Current() ticks) for it, looking every 100 ms. Always returns 1;
    // afterwards the object has no thread, also when it had to abandon one.
    virtual int Stop(std::uint32_t timeLimitMs);
    // Asks the thread to end (RequestStop) and waits for it without a time
    // limit. For owners whose thread uses the object or what it points to up
    // to its end, where abandoning it would leave it on freed memory.
    void StopAndWait();

  protected:
    // The thread's work; its result is the thread's exit code.
    virtual std::uint32_t Run() = 0;

  public:
    // Asks the thread to end without waiting: clears `running`.
    virtual void RequestStop();

  protected:
    // First call on the new thread, before Start returns. The base version
    // creates the thread's message queue and returns 0; a nonzero result
    // skips Run and ends the thread with that exit code.
    virtual std::uint32_t OnThreadStart();
    // Last call on the thread, after Run (or after a failed OnThreadStart).
    virtual void OnThreadExit();

  public:
    bool HasThread() const;
    std::uint32_t ThreadId() const { return threadId.load(); }
    const char16_t* Name() const { return name; }
    // kStillActive while the last started thread runs, then the code it ended
    // with; 0 before any thread was started.
    std::uint32_t ExitCode() const;

    // Queues a message for this object's thread. False when there is no
    // thread, or its queue does not exist (yet or any more) or is full.
    bool PostToThread(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    // Same as PostToThread. Defined here so that it stays usable when a
    // system header renames the identifier by macro.
    bool PostThreadMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        return PostToThread(message, wParam, lParam);
    }

    // For code running on a thread started by this class: wait for a message
    // on the calling thread's queue (see MessageQueue::Wait), and look at or
    // take its oldest message. A thread without a queue gets kFailed / false.
    static MessageWait WaitForThreadMessage(std::uint32_t timeoutMs);
    static bool PeekThreadMessage(ThreadMessage* message, bool remove);

  protected:
    std::atomic<std::uint32_t> threadId;  // 0 when there is no thread
    std::atomic<std::int32_t> running;    // 1 from Start on, 0 once asked to stop
    char16_t name[kNameCapacity];

  private:
    struct Shared;
    static void ThreadEntry(Thread* self, std::shared_ptr<Shared> shared, int priority);

    mutable std::mutex stateMutex_;  // guards threadHandle_ and shared_
    std::thread threadHandle_;       // joinable while the object has a thread
    std::shared_ptr<Shared> shared_;
};

}  // namespace talvo
