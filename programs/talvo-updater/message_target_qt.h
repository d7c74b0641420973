// The Qt program's message target: the watcher, the connection and the
// updater post their news here from their own threads, and the handler
// receives it on the thread that owns this object (the GUI thread), in the
// order posted. Post never blocks; after Close it refuses.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include <QObject>

#include "base/message_target.h"

namespace talvo::qt {

class QtMessageTarget final : public QObject, public IMessageTarget {
  public:
    using Handler =
        std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

    explicit QtMessageTarget(Handler handler) : handler_(std::move(handler)) {}

    bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    // Refuses later posts; what is queued is dropped with the object.
    void Close() { open_.store(false); }

  protected:
    void customEvent(QEvent* event) override;

  private:
    Handler handler_;
    std::atomic<bool> open_{true};
};

}  // namespace talvo::qt
