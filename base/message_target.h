// Where worker threads send their news: a window of the UI thread, reached
// only by posting a message (never by touching the window). The Win32
// implementation posts to a real window; the portable one puts the message
// on a UI-thread message queue. Post must never block and may be called
// from any thread.
#pragma once

#include <cstdint>

#include "base/app_messages.h"

namespace talvo {

class IMessageTarget {
  public:
    virtual ~IMessageTarget() = default;
    // Queues the message for the target's thread; false when the target is gone.
    virtual bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

}  // namespace talvo
