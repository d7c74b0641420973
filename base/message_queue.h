// A thread's message queue: any thread posts (message, wParam, lParam)
// triples, the owning thread waits for them and takes them in order.
//
// The queue refuses posts until it is opened and again once it is closed
// (its thread has ended), so a poster can tell whether anyone will ever read
// the message. Storage is one ring buffer that only grows while the backlog
// does; in steady use posting and taking allocate nothing.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace talvo {

// Message numbers shared with the window messages of the user interface.
inline constexpr std::uint32_t kWmQuit = 0x0012;
inline constexpr std::uint32_t kWmUser = 0x0400;

struct ThreadMessage {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// Result of waiting for a message. The values are those of the system's
// wait functions, so callers may compare them with the numbers they know.
enum class MessageWait : std::uint32_t {
    kInputAvailable = 0,    // at least one message is queued
    kTimedOut = 258,        // the time limit passed with the queue empty
    kFailed = 0xFFFFFFFFu,  // the queue is closed (or there is none)
};

class MessageQueue {
  public:
    // The most messages one queue holds; a post beyond it fails.
    static constexpr std::size_t kMaxMessages = 10000;

    explicit MessageQueue(bool open = true);
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    void Open();
    // Refuses further posts, drops what is queued and wakes every waiter.
    void Close();
    bool IsOpen() const;

    // Queues one message; false when the queue is closed or full.
    bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    // Returns kInputAvailable as soon as a message is queued (also one that
    // was already there before the call), kTimedOut when `timeoutMs` of
    // Clock::Current() pass first (kInfinite: no limit), kFailed when the
    // queue is or becomes closed.
    MessageWait Wait(std::uint32_t timeoutMs);

    // Copies the oldest message to `out` (may be null) and, with `remove`,
    // takes it off the queue. False when the queue is empty.
    bool Peek(ThreadMessage* out, bool remove);

    std::size_t Size() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<ThreadMessage> ring_;
    std::size_t head_ = 0;   // index of the oldest message
    std::size_t count_ = 0;  // messages queued
    bool open_;
};

}  // namespace talvo
