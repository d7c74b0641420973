#include "shell/keep_awake.h"

namespace talvo {

namespace {

class Nothing final : public IKeepAwake {
  public:
    bool Begin() override { return true; }
    void End() override {}
};

}  // namespace

IKeepAwake& NoKeepAwake() {
    static Nothing keepAwake;
    return keepAwake;
}

void KeepAwakeRequest::Acquire() {
    if (!held_) {
        held_ = keepAwake_.Begin();
    }
}

void KeepAwakeRequest::Release() {
    if (held_) {
        held_ = false;
        keepAwake_.End();
    }
}

}  // namespace talvo
