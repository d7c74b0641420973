#include "programs/talvo-updater/updater_run.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "programs/talvo-updater/dialogs.h"
#include "programs/talvo-updater/main_window.h"
#include "programs/talvo-updater/single_instance.h"
#include "resources/resource_ids.h"

namespace talvo::qt {

namespace {
constexpr double kMaxSpeed = 1000.0;
}  // namespace

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
            char* end = nullptr;
            options.speed = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(options.speed >= 1.0) ||
                options.speed > kMaxSpeed) {
                error = "--speed wants a number from 1 to 1000, not \"" + value + "\"";
                return false;
            }
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

EmulatedDevice::EmulatedDevice(const Scenario& scenario, double speed) {
    if (speed > 1.0) {
        clock_.emplace(speed);
        scopedClock_.emplace(*clock_);
    }
    talvo_ = std::make_unique<EmulatedTalvo>(bus_, scenario);
}

EmulatedDevice::~EmulatedDevice() {
    // The device goes before the bus and the clock it runs on.
    talvo_.reset();
}

int RunUpdater(const UpdaterOptions& options, const AppData& app, ISleepInhibitor& inhibitor) {
    SingleInstanceLock lock;
    switch (lock.Acquire()) {
        case SingleInstanceLock::Result::kAcquired:
            break;
        case SingleInstanceLock::Result::kHeldElsewhere:
            ShowMessageBox(nullptr, QMessageBox::Information, kIdsAlreadyRunning,
                           app.languageIndex);
            return 0;
        case SingleInstanceLock::Result::kUnavailable:
            // Nothing tells whether another one runs; going on serves the
            // user better than ending without a word.
            std::fprintf(stderr, "talvo-updater: cannot lock %s; not checking for another run\n",
                         SingleInstanceLock::DefaultPath().c_str());
            break;
    }

    std::unique_ptr<EmulatedDevice> emulated;
    if (options.emulate) {
        emulated =
            std::make_unique<EmulatedDevice>(Scenario::Named(options.scenario), options.speed);
    }
    MainWindow window(app, inhibitor);
    if (const int code = window.Start(); code != 0) {
        return code;
    }
    return QApplication::exec();
}

}  // namespace talvo::qt
