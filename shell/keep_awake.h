// Keeping the computer from going to sleep while a firmware update runs: an
// update cut short by sleep can leave the device without working firmware.
//
// One small interface with one implementation per system: the Windows
// build asks for the UI thread's execution state (keep_awake_win32.cpp);
// elsewhere the system's own is none (keep_awake_posix.cpp), and the
// desktop program brings a logind block of its own (it needs D-Bus).
// Whoever runs the update is handed the implementation to use.
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

// This build's own: the execution state on Windows, nothing elsewhere.
IKeepAwake& SystemKeepAwake();

// One that asks for nothing and is always granted.
IKeepAwake& NoKeepAwake();

// Holds one request of `keepAwake` from Acquire until Release (or
// destruction); acquiring twice holds still one, and a refused request
// leaves nothing to give back.
class KeepAwakeRequest {
  public:
    explicit KeepAwakeRequest(IKeepAwake& keepAwake) : keepAwake_(keepAwake) {}
    ~KeepAwakeRequest() { Release(); }
    KeepAwakeRequest(const KeepAwakeRequest&) = delete;
    KeepAwakeRequest& operator=(const KeepAwakeRequest&) = delete;

    void Acquire();
    void Release();
    bool Held() const { return held_; }

  private:
    IKeepAwake& keepAwake_;
    bool held_ = false;
};

}  // namespace talvo
