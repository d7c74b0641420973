// The whole GUI program on the headless backend: the application object on
// a UI thread of its own, an emulated TALVO on an emulated bus, the device
// side and the dialog timers running fast. The test thread is the user.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "programs/windows-gui/updater_app.h"
#include "base/clock.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "hid/emulated_bus.h"
#include "hid/hid_platform.h"
#include "shell/keep_awake.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"
#include "tests/headless_ui/headless_backend.h"
#include "tests/headless_ui/headless_platform.h"
#include "tests/headless_ui/headless_user.h"

namespace talvo::testing {

// Device clock and dialog timers run this much faster than real time.
inline constexpr double kSpeedup = 50.0;

inline std::u16string S(int id) {
    return std::u16string(FindString(id));
}

// Polls `cond` until it holds or `limit` of real time has passed.
bool Eventually(const std::function<bool()>& cond,
                std::chrono::milliseconds limit = std::chrono::seconds(20));

// Counts the keep-awake requests instead of making them.
class CountingKeepAwake final : public IKeepAwake {
  public:
    bool Begin() override {
        ++begins;
        ++held;
        return true;
    }
    void End() override {
        ++ends;
        --held;
    }
    std::atomic<int> begins{0};
    std::atomic<int> ends{0};
    std::atomic<int> held{0};
};

class AppRig {
  public:
    explicit AppRig(CMainDlg::PackageLoader loader = &LoadFirmwarePackage);
    ~AppRig();

    // Puts the device on the bus (or leaves it off for "absent") and starts
    // the program.
    void Start(const Scenario& scenario);
    void Start(const std::string& scenarioName) { Start(Scenario::Named(scenarioName)); }
    // The agreement: accept it and wait for the main dialog.
    WindowRef Accept();
    // The exit code once the program has ended (-1 if it did not within the limit).
    int ExitCode(std::chrono::milliseconds limit = std::chrono::seconds(30));
    bool Ended() const { return ended_.load(); }

    // Runs `f` on the UI thread with the main dialog (null when there is none).
    template <class R>
    R WithDialog(const std::function<R(CMainDlg*)>& f) {
        R r{};
        backend.Invoke([&] { r = f(app.MainWindow()); });
        return r;
    }
    MainDialogState State();
    // Waits until the message area shows the text of `baseId`.
    bool WaitForMessage(int baseId, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Waits until the update has ended.
    bool WaitForUpdateEnd(std::chrono::milliseconds limit = std::chrono::seconds(60));

    HeadlessBackend backend;
    HeadlessPlatform platform;
    HeadlessUser user{backend};
    CountingKeepAwake keepAwake;
    AppData data;
    std::unique_ptr<EmulatedTalvo> talvo;
    WindowRef main;

  private:
    ScopedUiBackend scopedUi_{backend};
    ScopedAppPlatform scopedPlatform_{platform};
    EmulatedBus bus_;
    ScaledClock clock_{kSpeedup};
    ScopedClock scopedClock_{clock_};

  public:
    CUpdaterApp app;

  private:
    std::atomic<bool> ended_{false};
    std::promise<int> exitPromise_;
    std::future<int> exit_;
    std::thread uiThread_;
};

// A scenario whose device reports these version texts for type codes 0, 1
// and 3.
Scenario WithVersions(const std::string& fwup, const std::string& normal, const std::string& dsp);

}  // namespace talvo::testing
