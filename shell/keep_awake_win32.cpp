// Windows: the UI thread's execution state keeps the system awake while the
// update runs; ES_CONTINUOUS alone gives the request back.
#include <windows.h>

#include "shell/keep_awake.h"

namespace talvo {

namespace {

class ExecutionStateKeepAwake final : public IKeepAwake {
  public:
    bool Begin() override {
        return SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    }
    void End() override { SetThreadExecutionState(ES_CONTINUOUS); }
};

}  // namespace

IKeepAwake& SystemKeepAwake() {
    static ExecutionStateKeepAwake keepAwake;
    return keepAwake;
}

}  // namespace talvo
