#include "base/message_queue.h"

#include <chrono>

#include "base/clock.h"
#include "base/event.h"

namespace talvo {

namespace {
constexpr std::size_t kInitialCapacity = 16;
}

MessageQueue::MessageQueue(bool open) : ring_(kInitialCapacity), open_(open) {}

void MessageQueue::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
}

void MessageQueue::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
        head_ = 0;
        count_ = 0;
    }
    cv_.notify_all();
}

bool MessageQueue::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool MessageQueue::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_ || count_ >= kMaxMessages) {
            return false;
        }
        if (count_ == ring_.size()) {
            // Grow: unroll the ring into a buffer twice the size.
            std::vector<ThreadMessage> bigger;
            try {
                bigger.resize(ring_.size() * 2);
            } catch (...) {
                return false;
            }
            for (std::size_t i = 0; i < count_; ++i) {
                bigger[i] = ring_[(head_ + i) % ring_.size()];
            }
            ring_.swap(bigger);
            head_ = 0;
        }
        ring_[(head_ + count_) % ring_.size()] = ThreadMessage{message, wParam, lParam};
        ++count_;
    }
    cv_.notify_one();
    return true;
}

MessageWait MessageQueue::Wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return count_ > 0 || !open_; };
    if (timeoutMs == kInfinite) {
        cv_.wait(lock, ready);
    } else if (!ready() && timeoutMs != 0) {
        const auto deadline =
            std::chrono::steady_clock::now() + Clock::Current().RealDuration(timeoutMs);
        cv_.wait_until(lock, deadline, ready);
    }
    if (!open_) {
        return MessageWait::kFailed;
    }
    return count_ > 0 ? MessageWait::kInputAvailable : MessageWait::kTimedOut;
}

bool MessageQueue::Peek(ThreadMessage* out, bool remove) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == 0) {
        return false;
    }
    if (out != nullptr) {
        *out = ring_[head_];
    }
    if (remove) {
        head_ = (head_ + 1) % ring_.size();
        --count_;
    }
    return true;
}

std::size_t MessageQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

}  // namespace talvo
