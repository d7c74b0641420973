// The desktop updater's run: its command line, the emulated TALVO it can
// run against, the single-instance rule and the main window's life.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/app_data.h"
#include "programs/talvo-updater/sleep_inhibitor.h"
#include "base/clock.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "hid/emulated_bus.h"
#include "hid/hid_platform.h"

namespace talvo::qt {

struct UpdaterOptions {
    bool help = false;
    bool listScenarios = false;
    bool emulate = false;
    std::string scenario = "outdated";
    double speed = 1.0;  // the emulated device's clock speed-up
};

// Parses the arguments after the program name (Qt's own already taken
// out); false with a message in `error` for a bad command line.
bool ParseUpdaterOptions(const std::vector<std::string>& args, UpdaterOptions& options,
                         std::string& error);
std::string UpdaterHelpText();

// A TALVO emulated inside the program, on a bus that replaces the system's
// HID devices for as long as this object lives.
class EmulatedDevice {
  public:
    EmulatedDevice(const Scenario& scenario, double speed);
    ~EmulatedDevice();
    EmulatedTalvo& Talvo() { return *talvo_; }

  private:
    std::optional<ScaledClock> clock_;
    std::optional<ScopedClock> scopedClock_;
    EmulatedBus bus_;
    ScopedHidPlatform platform_{bus_};
    std::unique_ptr<EmulatedTalvo> talvo_;
};

// Everything after the QApplication exists: one instance per user (a second
// one shows "already running" and ends with 0), the emulated device when
// asked for, the main window until the program ends. Returns the exit code.
int RunUpdater(const UpdaterOptions& options, const AppData& app, ISleepInhibitor& inhibitor);

}  // namespace talvo::qt
