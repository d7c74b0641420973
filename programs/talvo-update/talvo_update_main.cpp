// talvo-update: the terminal front end of the updater, for scripted and
// headless updates. It runs the same presenter as the windows, under the
// terminal's policy (an unattended run: wait for the TALVO, decide with the
// same rule, confirm when no update is needed, update, recover a device
// left in update mode, verify after the update, a bounded busy retry), on a
// pump of its own; its view prints what happens (terminal_view.h).
// `status` reports the device's state and leaves it alone.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_setup.h"
#include "hid/hid_platform.h"
#include "hid/hid_trace.h"
#include "presenter/presenter_pump.h"
#include "programs/talvo-update/terminal_console.h"
#include "programs/talvo-update/terminal_options.h"
#include "programs/talvo-update/terminal_view.h"
#include "protocol/diagnostics.h"
#include "shell/app_data.h"
#include "shell/language.h"

namespace talvo::terminal {
namespace {

// The terminal's busy retry: a second apart, ten times, then a busy
// answer reads as refused.
constexpr int kBusyRetries = 10;

PresenterPolicy PolicyOf(const Options& options) {
    PresenterPolicy policy;
    policy.busyRetryLimit = kBusyRetries;
    policy.unattended = true;
    policy.deviceWaitMs = options.waitSeconds * 1000u;
    policy.reportOnly = options.command == Command::kStatus;
    policy.recoverUpdateMode = true;
    policy.verify = options.verify;
    policy.watchAccess = true;
    return policy;
}

UsbPacing PacingOf(Timing timing) {
    switch (timing) {
        case Timing::kNone:
            return UsbPacing::kNone;
        case Timing::kHighSpeed:
            return UsbPacing::kHighSpeed;
        case Timing::kFullSpeed:
        default:
            return UsbPacing::kFullSpeed;
    }
}

// What the run talks to: the platform's HID devices, or an emulated TALVO,
// optionally seen through the wire trace. Made before the presenter and
// gone after it; the trace file closes once nothing can write to it.
struct DeviceSide {
    std::unique_ptr<EmulatedSetup> emulated;
    std::FILE* traceFile = nullptr;
    std::unique_ptr<HidTracePlatform> trace;

    ~DeviceSide() {
        trace.reset();
        if (traceFile != nullptr) {
            std::fclose(traceFile);
        }
    }

    IHidPlatform& Platform() {
        if (trace) {
            return *trace;
        }
        return emulated ? emulated->Platform() : HidPlatform::Native();
    }
};

// Checks what the command line names (scenario, trace file) before
// anything else happens: either is a usage error.
int CheckNamedThings(const Options& options, Console& console, DeviceSide& side) {
    if (options.emulate && !Scenario::Find(options.scenario)) {
        console.Error("unknown scenario: " + options.scenario + " (see --list-scenarios)");
        return kExitUsage;
    }
    if (!options.traceFile.empty()) {
        side.traceFile = std::fopen(options.traceFile.c_str(), "w");
        if (side.traceFile == nullptr) {
            console.Error("cannot write the trace file " + options.traceFile);
            return kExitUsage;
        }
    }
    return kExitSuccess;
}

// Puts the emulated TALVO and the trace in place.
void PrepareDeviceSide(const Options& options, Console& console, DeviceSide& side) {
    if (options.emulate) {
        Scenario scenario = Scenario::Named(options.scenario);  // known: checked before
        if (scenario.inputPacing == UsbPacing::kNone && scenario.outputPacing == UsbPacing::kNone) {
            scenario.inputPacing = scenario.outputPacing = PacingOf(options.timing);
        }
        side.emulated = std::make_unique<EmulatedSetup>(scenario, options.speed);
        console.Line("Emulated TALVO: " + scenario.name + " (" + scenario.description + ")");
    }
    if (side.traceFile != nullptr) {
        std::FILE* file = side.traceFile;
        std::fputs(
            "# talvo-update wire trace: seconds, direction (OUT to the device, IN from it,"
            " -- event), vendor:product, report bytes (report ID first)\n",
            file);
        side.trace =
            std::make_unique<HidTracePlatform>(side.Platform(), [file](const std::string& line) {
                std::fputs(line.c_str(), file);
                std::fputc('\n', file);
                std::fflush(file);
            });
    }
}

int Run(const Options& options) {
    const bool bar = options.progressBar.value_or(IsTerminal(1));
    const bool status = options.command == Command::kStatus;
    const bool events = options.progressJson && !status;
    Console console(bar, events, events || (status && options.json));
    ScopedDiagnosticSink sink(&Console::DiagnosticSink, &console);

    DeviceSide side;
    int code = CheckNamedThings(options, console, side);
    EndResult result;
    VersionSlots packageVersions;
    if (code == kExitSuccess) {
        PrepareDeviceSide(options, console, side);
        const PresenterPolicy policy = PolicyOf(options);
        PresenterPump pump;
        TerminalView view(console, options, pump);
        UpdatePresenter presenter(view, policy, side.Platform(), NoKeepAwake());
        view.Attach(&presenter);
        presenter.Start(pump.Target());
        // The updater always ends by itself; its longest waits add up to
        // well under an hour even against a stalled device.
        pump.RunUntil(presenter, [&] { return presenter.Ended(); });
        presenter.Shutdown();
        result = presenter.Result();
        packageVersions = presenter.Package().imageVersion;
        code = view.Finish(result, policy.verifyWaitMs);
    }
    if (status && options.json) {
        // One object whatever ended the run (a bad command line included).
        StatusFacts facts;
        facts.mode = result.facts.mode;
        facts.opened = result.facts.opened;
        for (std::size_t slot = 0; slot < facts.deviceVersions.size(); ++slot) {
            facts.deviceVersions[slot] = ToUtf8(result.facts.versions[slot]);
            facts.packageVersions[slot] = ToUtf8(packageVersions[slot]);
        }
        facts.updateNeeded = result.facts.updateNeeded;
        facts.exitCode = code;
        std::fputs((StatusObject(facts).dump(2) + "\n").c_str(), stdout);
    }
    // The JSON stream ends with the result, whatever ended the run.
    Json end = {{"event", "result"},
                {"ok", code == kExitSuccess},
                {"exit_code", code},
                {"exit_meaning", ExitCodeMeaning(code)}};
    if (result.updateResult != 0) {
        end["update_result"] = result.updateResult;
    }
    console.Event(std::move(end));
    return code;
}

}  // namespace
}  // namespace talvo::terminal

int main(int argc, char** argv) {
    using namespace talvo;
    using namespace talvo::terminal;
    PrepareConsole();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    Options options;
    std::string error;
    if (!ParseOptions(args, options, error)) {
        std::fprintf(stderr, "talvo-update: %s (see talvo-update --help)\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitSuccess;
    }
    if (options.listScenarios) {
        for (const std::string& name : Scenario::Names()) {
            std::printf("%-16s %s\n", name.c_str(), Scenario::Named(name).description.c_str());
        }
        return kExitSuccess;
    }
    g_appData.languageIndex = options.language.value_or(SelectLanguage(UserLcid()));
    return Run(options);
}
