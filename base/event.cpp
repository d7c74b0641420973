#include "base/event.h"

#include <chrono>

#include "base/clock.h"

namespace talvo {

Event::Event(Mode mode, bool initiallySet)
    : autoReset_(mode == Mode::kAutoReset), set_(initiallySet) {}

void Event::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    if (autoReset_) {
        cv_.notify_one();
    } else {
        cv_.notify_all();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool Event::Wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs == kInfinite) {
        cv_.wait(lock, [this] { return set_; });
    } else if (!set_ && timeoutMs != 0) {
        const auto deadline =
            std::chrono::steady_clock::now() + Clock::Current().RealDuration(timeoutMs);
        cv_.wait_until(lock, deadline, [this] { return set_; });
    }
    const bool wasSet = set_;
    if (wasSet && autoReset_) {
        set_ = false;
    }
    return wasSet;
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

}  // namespace talvo
