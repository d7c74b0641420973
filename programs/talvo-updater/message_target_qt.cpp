#include "programs/talvo-updater/message_target_qt.h"

#include <QCoreApplication>
#include <QEvent>

namespace talvo::qt {

namespace {

const QEvent::Type kPostedType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedEvent final : public QEvent {
  public:
    PostedEvent(std::uint32_t posted, std::uintptr_t w, std::intptr_t l)
        : QEvent(kPostedType), message(posted), wParam(w), lParam(l) {}
    const std::uint32_t message;
    const std::uintptr_t wParam;
    const std::intptr_t lParam;
};

}  // namespace

bool QtMessageTarget::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (!open_.load()) {
        return false;
    }
    // Thread-safe; the queue takes ownership of the event.
    QCoreApplication::postEvent(this, new PostedEvent(message, wParam, lParam));
    return true;
}

void QtMessageTarget::customEvent(QEvent* event) {
    if (event->type() != kPostedType || !open_.load()) {
        return;
    }
    const auto* posted = static_cast<const PostedEvent*>(event);
    if (handler_) {
        handler_(posted->message, posted->wParam, posted->lParam);
    }
}

}  // namespace talvo::qt
