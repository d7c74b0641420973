// Without a window system of our own yet, the program's dialogs live in
// memory (a later Linux GUI adds its backend beside this one).
#include "ui/headless_backend.h"

namespace talvo {

IUiBackend& DefaultUiBackend() {
    static HeadlessBackend backend;
    return backend;
}

}  // namespace talvo
