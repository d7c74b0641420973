// A portable event object: a flag that threads wait for. A manual-reset event
// stays set until Reset and releases every waiter; an auto-reset event
// releases one waiter and clears itself on the way.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace talvo {

// Time limit meaning "wait as long as it takes".
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
  public:
    enum class Mode { kManualReset, kAutoReset };

    explicit Event(Mode mode = Mode::kManualReset, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();

    // Waits until the event is set or `timeoutMs` of Clock::Current() have
    // passed (kInfinite: no limit, 0: just look). Returns whether the event
    // was set; an auto-reset event is cleared by the wait that took it.
    bool Wait(std::uint32_t timeoutMs);

    // Whether the event is set, without waiting and without clearing it.
    bool IsSet() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    const bool autoReset_;
    bool set_;
};

}  // namespace talvo
