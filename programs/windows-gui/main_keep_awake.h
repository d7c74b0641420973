// Keeping the computer from going to sleep while a firmware update runs: an
// update cut short by sleep can leave the device without working firmware.
//
// The request belongs to the thread that makes it (the UI thread here):
// Begin asks the system to stay awake until End. The Windows build uses the
// thread's execution state; elsewhere there is nothing to ask for. Tests
// replace the implementation to watch the requests.
#pragma once

namespace talvo {

class IKeepAwake {
  public:
    virtual ~IKeepAwake() = default;
    // Asks the system to stay awake; false when it refused.
    virtual bool Begin() = 0;
    // Gives the request back.
    virtual void End() = 0;
};

namespace KeepAwake {
IKeepAwake& Current();
void SetCurrent(IKeepAwake* keepAwake);  // null restores the platform's own
}  // namespace KeepAwake

// Holds one request from Acquire until Release (or destruction); acquiring
// twice holds still one.
class KeepAwakeRequest {
  public:
    KeepAwakeRequest() = default;
    ~KeepAwakeRequest() { Release(); }
    KeepAwakeRequest(const KeepAwakeRequest&) = delete;
    KeepAwakeRequest& operator=(const KeepAwakeRequest&) = delete;

    void Acquire();
    void Release();
    bool Held() const { return held_; }

  private:
    IKeepAwake* owner_ = nullptr;
    bool held_ = false;
};

}  // namespace talvo
