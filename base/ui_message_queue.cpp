#include "base/ui_message_queue.h"

namespace talvo {

bool UiMessageQueue::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return queue_.Post(message, wParam, lParam);
}

bool UiMessageQueue::Take(ThreadMessage* out, std::uint32_t timeoutMs) {
    if (queue_.Peek(out, true)) {
        return true;
    }
    if (queue_.Wait(timeoutMs) != MessageWait::kInputAvailable) {
        return false;
    }
    return queue_.Peek(out, true);
}

bool UiMessageQueue::Peek(ThreadMessage* out) {
    return queue_.Peek(out, false);
}

void UiMessageQueue::Close() {
    queue_.Close();
}

std::size_t UiMessageQueue::Size() const {
    return queue_.Size();
}

}  // namespace talvo
