// Without a window system of our own there is no session to keep awake: the
// request is granted and has no effect.
#include "programs/windows-gui/main_keep_awake.h"

namespace talvo {

namespace {

class NoKeepAwake final : public IKeepAwake {
  public:
    bool Begin() override { return true; }
    void End() override {}
};

}  // namespace

IKeepAwake& PlatformKeepAwake() {
    static NoKeepAwake keepAwake;
    return keepAwake;
}

}  // namespace talvo
