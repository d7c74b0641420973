#include "tests/main_dialog/main_dialog_rig.h"

namespace talvo::testing {

bool Eventually(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (cond()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

AppRig::AppRig(CMainDlg::PackageLoader loader) : app(data, bus_, keepAwake, loader) {
    backend.SetTimerSpeedup(kSpeedup);
}

AppRig::~AppRig() {
    if (uiThread_.joinable()) {
        // A test that failed half-way leaves the program running: end it,
        // then the idle loop behind it.
        while (!ended_.load()) {
            backend.PostQuit(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        backend.PostQuit(0);
        uiThread_.join();
    }
    talvo.reset();
}

void AppRig::Start(const Scenario& scenario) {
    talvo = std::make_unique<EmulatedTalvo>(bus_, scenario);
    exit_ = exitPromise_.get_future();
    uiThread_ = std::thread([this] {
        exitPromise_.set_value(app.RunApplication());
        ended_ = true;
        // The UI thread stays and idles, as the user's last input waits
        // for it to settle (and reads may still come).
        backend.RunMessageLoop();
    });
}

WindowRef AppRig::Accept() {
    const WindowRef agreement = user.WaitForDialog(kIddAgreement, std::chrono::seconds(10));
    if (!agreement || !user.Click(agreement, kIdcAccept) || !user.Click(agreement, kIdOk)) {
        return {};
    }
    main = user.WaitForDialog(kIddMain, std::chrono::seconds(10));
    // The agreement is gone once the main dialog is enabled.
    if (!Eventually([&] { return State() == MainDialogState::Idle; })) {
        return {};
    }
    return main;
}

int AppRig::ExitCode(std::chrono::milliseconds limit) {
    if (!exit_.valid() || exit_.wait_for(limit) != std::future_status::ready) {
        return -1;
    }
    return exit_.get();
}

MainDialogState AppRig::State() {
    return WithDialog<MainDialogState>(
        [](CMainDlg* d) { return d != nullptr ? d->State() : MainDialogState::Constructed; });
}

bool AppRig::WaitForMessage(int baseId, std::chrono::milliseconds limit) {
    const std::u16string text = S(baseId);
    return Eventually([&] { return user.Text(main, kIdcMessage) == text; }, limit);
}

bool AppRig::WaitForUpdateEnd(std::chrono::milliseconds limit) {
    return Eventually([&] { return State() == MainDialogState::UpdateEnded; }, limit);
}

Scenario WithVersions(const std::string& fwup, const std::string& normal, const std::string& dsp) {
    Scenario s = Scenario::Named("current");
    s.device.versions = {fwup, normal, "", dsp};
    return s;
}

}  // namespace talvo::testing
