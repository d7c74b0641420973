// Without a window system of our own there is no session to keep awake: the
// system's own request is the one that asks for nothing.
#include "shell/keep_awake.h"

namespace talvo {

IKeepAwake& SystemKeepAwake() {
    return NoKeepAwake();
}

}  // namespace talvo
