#include "tests/e2e/update_session.h"

#include "base/clock.h"
#include "hid/hid_platform.h"

namespace talvo {

CUpdateSession::CUpdateSession() : CUpdateSession(HidPlatform::Current()) {}

CUpdateSession::CUpdateSession(IHidPlatform& platform) : controller_(*this, platform) {}

CUpdateSession::~CUpdateSession() {
    controller_.End();
    queue.Close();
}

void CUpdateSession::OnDeviceBusy() {
    retryAt_ = Clock::Current().TickCount() + kBusyRetryMs;
}

void CUpdateSession::OnUpdateProgress(std::uint32_t percent, std::uint32_t job) {
    queue.Post(kMsgUpdateProgress, percent, static_cast<std::intptr_t>(job));
}

bool CUpdateSession::Pump(std::uint32_t timeoutMs) {
    if (retryAt_) {
        const auto left = static_cast<std::int32_t>(*retryAt_ - Clock::Current().TickCount());
        if (left <= 0) {
            retryAt_.reset();
            controller_.ReadVersions();
            return true;
        }
        if (static_cast<std::uint32_t>(left) < timeoutMs) {
            timeoutMs = static_cast<std::uint32_t>(left);
        }
    }
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
