#include "programs/talvo-updater/updater_run.h"

#include <QApplication>
#include <cstdio>
#include <memory>

#include "emulator/emulated_setup.h"
#include "hid/hid_platform.h"
#include "programs/talvo-updater/dialogs.h"
#include "programs/talvo-updater/main_window.h"
#include "resources/resource_ids.h"
#include "shell/platform.h"

namespace talvo::qt {

bool ParseUpdaterOptions(const std::vector<std::string>& args, UpdaterOptions& options,
                         std::string& error) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--list-scenarios") {
            options.listScenarios = true;
        } else if (arg == "--emulate") {
            options.emulate = true;
        } else if (arg.rfind("--emulate=", 0) == 0) {
            options.emulate = true;
            options.scenario = arg.substr(10);
            if (!Scenario::Find(options.scenario)) {
                error = "unknown scenario: " + options.scenario + " (see --list-scenarios)";
                return false;
            }
        } else if (arg.rfind("--speed=", 0) == 0) {
            const std::string value = arg.substr(8);
            const std::optional<double> speed = ParseEmulatorSpeed(value);
            if (!speed) {
                error = "--speed wants a number from 1 to 1000, not \"" + value + "\"";
                return false;
            }
            options.speed = *speed;
        } else {
            error = "unknown option: " + arg;
            return false;
        }
    }
    if (options.speed != 1.0 && !options.emulate) {
        error = "--speed applies to --emulate only";
        return false;
    }
    return true;
}

std::string UpdaterHelpText() {
    return "Usage: talvo-updater [--emulate[=SCENARIO] [--speed=N]]\n"
           "\n"
           "Installs the firmware this program carries into a TALVO attached over USB.\n"
           "\n"
           "  --emulate[=SCENARIO]  run against a TALVO emulated inside the program\n"
           "                        (default scenario: outdated)\n"
           "  --speed=N             run the emulated device's clock N times faster (1-1000)\n"
           "  --list-scenarios      list the emulator's scenarios\n"
           "  -h, --help            show this text\n"
           "\n"
           "The language follows LC_ALL, LC_MESSAGES or LANG. Exit status: 0 when the\n"
           "program ended before its window (another one runs), 2 when the user ended\n"
           "it, 3 after an error box.\n";
}

int RunUpdater(const UpdaterOptions& options, const AppData& app, IKeepAwake& keepAwake) {
    NamedMutex lock;
    switch (lock.Create(kInstanceLockName)) {
        case NamedMutex::Result::Created:
            break;
        case NamedMutex::Result::AlreadyExists:
            ShowMessageBox(nullptr, QMessageBox::Information, kIdsAlreadyRunning,
                           app.languageIndex);
            return 0;
        case NamedMutex::Result::Failed:
            // Nothing tells whether another one runs; going on serves the
            // user better than ending without a word.
            std::fputs(
                "talvo-updater: cannot take the single-instance lock; not checking for "
                "another run\n",
                stderr);
            break;
    }

    std::unique_ptr<EmulatedSetup> emulated;
    if (options.emulate) {
        emulated =
            std::make_unique<EmulatedSetup>(Scenario::Named(options.scenario), options.speed);
    }
    MainWindow window(app, keepAwake, emulated ? emulated->Platform() : HidPlatform::Native());
    if (const int code = window.Start(); code != 0) {
        return code;
    }
    return QApplication::exec();
}

}  // namespace talvo::qt
