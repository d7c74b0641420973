// The portable message target: a queue that worker threads post to and the
// UI thread (a test, the terminal front end) takes from in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/message_queue.h"
#include "base/message_target.h"

namespace talvo {

class UiMessageQueue : public IMessageTarget {
  public:
    UiMessageQueue() = default;

    // Never blocks; false once the queue is closed (or when it is full).
    bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // Waits up to `timeoutMs` of Clock::Current() (kInfinite: no limit) for
    // a message and takes the oldest. False on time-out or once closed.
    bool Take(ThreadMessage* out, std::uint32_t timeoutMs);
    // The oldest message without taking it; false when none is queued.
    bool Peek(ThreadMessage* out);

    // Refuses later posts, drops what is queued and wakes a waiting Take.
    void Close();
    std::size_t Size() const;

  private:
    MessageQueue queue_;
};

}  // namespace talvo
