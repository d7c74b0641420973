// The desktop updater's run: its command line, the emulated TALVO it can
// run against, the single-instance rule and the main window's life.
#pragma once

#include <string>
#include <vector>

#include "shell/app_data.h"
#include "shell/keep_awake.h"

namespace talvo::qt {

struct UpdaterOptions {
    bool help = false;
    bool listScenarios = false;
    bool emulate = false;
    std::string scenario = "outdated";
    double speed = 1.0;  // the emulated device's clock speed-up
};

// The single-instance lock's name (a file in $XDG_RUNTIME_DIR).
inline constexpr char16_t kInstanceLockName[] = u"talvo-updater";

// Parses the arguments after the program name (Qt's own already taken
// out); false with a message in `error` for a bad command line.
bool ParseUpdaterOptions(const std::vector<std::string>& args, UpdaterOptions& options,
                         std::string& error);
std::string UpdaterHelpText();

// Everything after the QApplication exists: one instance per user (a second
// one shows "already running" and ends with 0), the emulated device when
// asked for, the main window until the program ends. Returns the exit code.
int RunUpdater(const UpdaterOptions& options, const AppData& app, IKeepAwake& keepAwake);

}  // namespace talvo::qt
