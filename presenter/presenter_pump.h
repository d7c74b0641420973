// PresenterPump: the UI thread of a front end without a window system (the
// terminal program; tests that run the presenter headless). It is the
// queue the worker threads post to, the presenter's timers on the current
// clock, and the loop that hands both to the presenter, one at a time, on
// the thread that runs it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "base/ui_message_queue.h"
#include "presenter/update_presenter.h"

namespace talvo {

class PresenterPump {
  public:
    static constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;

    PresenterPump() = default;
    // Refuses later posts.
    ~PresenterPump() { queue_.Close(); }
    PresenterPump(const PresenterPump&) = delete;
    PresenterPump& operator=(const PresenterPump&) = delete;

    // Where the worker threads post (the presenter's UI target).
    IMessageTarget* Target() { return &queue_; }
    // What the view asks for: a timer that fires every `ms` of
    // Clock::Current() until stopped.
    void StartTimer(PresenterTimer timer, std::uint32_t ms);
    void StopTimer(PresenterTimer timer);

    // Hands `presenter` one posted message, or one timer that is due,
    // waiting up to `limitMs` for either; false when nothing came.
    bool RunOnce(UpdatePresenter& presenter, std::uint32_t limitMs);
    // RunOnce until `done` holds or `limitMs` have passed; whether it held.
    bool RunUntil(UpdatePresenter& presenter, const std::function<bool()>& done,
                  std::uint32_t limitMs = kNoLimit);

  private:
    struct Timer {
        std::uint32_t intervalMs = 0;
        std::uint32_t startedAt = 0;  // tick of the start or the last firing
    };
    UiMessageQueue queue_;
    std::array<std::optional<Timer>, kPresenterTimerCount> timers_;
};

}  // namespace talvo
