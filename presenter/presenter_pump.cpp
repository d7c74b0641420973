#include "presenter/presenter_pump.h"

#include "base/clock.h"

namespace talvo {

namespace {

std::size_t IndexOf(PresenterTimer timer) {
    return static_cast<std::size_t>(timer) - 1;
}

}  // namespace

void PresenterPump::StartTimer(PresenterTimer timer, std::uint32_t ms) {
    timers_[IndexOf(timer)] = Timer{ms, Clock::Current().TickCount()};
}

void PresenterPump::StopTimer(PresenterTimer timer) {
    timers_[IndexOf(timer)].reset();
}

bool PresenterPump::RunOnce(UpdatePresenter& presenter, std::uint32_t limitMs) {
    // The timer due first, and how long until it is.
    const std::uint32_t now = Clock::Current().TickCount();
    std::optional<std::size_t> next;
    std::uint32_t wait = limitMs;
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        if (const std::optional<Timer>& t = timers_[i]) {
            const std::uint32_t elapsed = now - t->startedAt;
            const std::uint32_t left = elapsed >= t->intervalMs ? 0 : t->intervalMs - elapsed;
            if (left <= wait) {
                wait = left;
                next = i;
            }
        }
    }
    ThreadMessage message;
    if (queue_.Take(&message, wait)) {
        presenter.Handle(message.message, message.wParam, message.lParam);
        return true;
    }
    if (!next || !timers_[*next]) {
        return false;
    }
    timers_[*next]->startedAt = Clock::Current().TickCount();
    presenter.OnTimer(static_cast<PresenterTimer>(*next + 1));
    return true;
}

bool PresenterPump::RunUntil(UpdatePresenter& presenter, const std::function<bool()>& done,
                             std::uint32_t limitMs) {
    IClock& clock = Clock::Current();
    const std::uint32_t start = clock.TickCount();
    while (!done()) {
        const std::uint32_t elapsed = clock.TickCount() - start;
        if (limitMs != kNoLimit && elapsed >= limitMs) {
            return false;
        }
        const std::uint32_t left = limitMs == kNoLimit ? 50 : limitMs - elapsed;
        RunOnce(presenter, left < 50 ? left : 50);
    }
    return true;
}

}  // namespace talvo
