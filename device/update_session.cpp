#include "device/update_session.h"

#include "base/clock.h"

namespace talvo {

CUpdateSession::CUpdateSession()
    : controller_(*this, BusyPolicy::RetryInPlace(kBusyRetries, kBusyRetryMs)) {}

CUpdateSession::~CUpdateSession() {
    controller_.End();
    queue.Close();
}

bool CUpdateSession::Pump(std::uint32_t timeoutMs) {
    ThreadMessage message;
    if (!queue.Take(&message, timeoutMs)) {
        return false;
    }
    if (onMessage) {
        onMessage(message);
    }
    controller_.Handle(message.message, message.wParam);
    return true;
}

bool CUpdateSession::PumpUntil(const std::function<bool()>& done, std::uint32_t limitMs) {
    IClock& clock = Clock::Current();
    const std::uint32_t start = clock.TickCount();
    while (!done()) {
        const std::uint32_t elapsed = clock.TickCount() - start;
        if (elapsed >= limitMs) {
            return false;
        }
        const std::uint32_t left = limitMs - elapsed;
        Pump(left < 50 ? left : 50);
    }
    return true;
}

}  // namespace talvo
