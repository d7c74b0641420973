#include "device/update_session.h"

#include "base/clock.h"

namespace talvo {

CUpdateSession::CUpdateSession(IUpdateObserver* view)
    : view_(view), controller_(*this, BusyPolicy::RetryInPlace(kBusyRetries, kBusyRetryMs)) {}

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
    if (message.message == kMsgUpdateProgress) {
        progressJob_ = static_cast<std::uint32_t>(message.lParam);
        if (view_ != nullptr) {
            view_->OnUpdateProgress(static_cast<std::uint32_t>(message.wParam));
        }
        return true;
    }
    controller_.Handle(message.message, message.wParam);
    return true;
}

void CUpdateSession::OnOpening() {
    if (view_ != nullptr) {
        view_->OnOpening();
    }
}

void CUpdateSession::OnOpened() {
    if (view_ != nullptr) {
        view_->OnOpened();
    }
}

void CUpdateSession::OnDeviceAbsent() {
    if (view_ != nullptr) {
        view_->OnDeviceAbsent();
    }
}

void CUpdateSession::OnDevicePresent(const VersionSlots& versions) {
    if (view_ != nullptr) {
        view_->OnDevicePresent(versions);
    }
}

void CUpdateSession::OnDeviceBusy() {
    if (view_ != nullptr) {
        view_->OnDeviceBusy();
    }
}

void CUpdateSession::OnUpdateProgress(std::uint32_t percent) {
    queue.Post(kMsgUpdateProgress, percent,
               static_cast<std::intptr_t>(controller_.updater.currentIndex.load()));
}

void CUpdateSession::OnUpdateEnded(bool success, ResultCode result) {
    if (view_ != nullptr) {
        view_->OnUpdateEnded(success, result);
    }
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
