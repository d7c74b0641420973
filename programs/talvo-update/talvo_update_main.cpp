// talvo-update: the terminal front end of the updater, for scripted and
// headless updates. It runs the same presenter as the windows, under the
// terminal's policy (an unattended run: wait for the TALVO, decide with the
// same rule, confirm when no update is needed, update, recover a device
// left in update mode, verify after the update, a bounded busy retry), on a
// pump of its own; its view prints what happens (terminal_view.h).
// `status` reports the device's state and leaves it alone; `list` names
// the attached units; `--all` updates each in a worker process of its own.
#include <algorithm>
#include <mutex>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/unit_list.h"
#include "emulator/emulated_setup.h"
#include "hid/emulated_bus.h"
#include "hid/hid_platform.h"
#include "hid/hid_trace.h"
#include "presenter/presenter_pump.h"
#include "programs/talvo-update/terminal_console.h"
#include "programs/talvo-update/terminal_options.h"
#include "programs/talvo-update/terminal_view.h"
#include "protocol/diagnostics.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"
#include "shell/app_data.h"
#include "shell/language.h"
#include "shell/platform.h"
#include "shell/strings.h"

namespace talvo::terminal {
namespace {

// The terminal's busy retry: a second apart, ten times, then a busy
// answer reads as refused.
constexpr int kBusyRetries = 10;
// How long the end message of an updater whose thread has ended is awaited.
constexpr std::uint32_t kEndMessageGraceMs = 1000;

PresenterPolicy PolicyOf(const Options& options) {
    PresenterPolicy policy;
    policy.busyRetryLimit = kBusyRetries;
    policy.unattended = true;
    policy.deviceWaitMs = options.waitSeconds * 1000u;
    policy.reportOnly = options.command == Command::kStatus;
    policy.recoverUpdateMode = true;
    policy.verify = options.verify;
    policy.watchAccess = true;
    policy.unitLocation = options.device;
    return policy;
}

// "a,b,c" -> {"a", "b", "c"}.
std::vector<std::string> SplitNames(const std::string& text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return names;
        }
        start = comma + 1;
    }
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
    // Several emulated units: one bus, a port view and a device each.
    std::optional<ScaledClock> clock;
    std::optional<ScopedClock> scopedClock;
    std::unique_ptr<EmulatedBus> hub;
    std::vector<std::unique_ptr<EmulatedBus>> ports;
    std::vector<std::unique_ptr<EmulatedTalvo>> units;
    std::FILE* traceFile = nullptr;
    std::unique_ptr<HidTracePlatform> trace;

    ~DeviceSide() {
        trace.reset();
        units.clear();  // the devices go before their buses and clock
        ports.clear();
        hub.reset();
        if (traceFile != nullptr) {
            std::fclose(traceFile);
        }
    }

    IHidPlatform& Platform() {
        if (trace) {
            return *trace;
        }
        if (hub) {
            return *hub;
        }
        return emulated ? emulated->Platform() : HidPlatform::Native();
    }
};

// Checks what the command line names (scenario, trace file) before
// anything else happens: either is a usage error.
int CheckNamedThings(const Options& options, Console& console, DeviceSide& side) {
    if (options.emulate) {
        for (const std::string& name : SplitNames(options.scenario)) {
            if (!Scenario::Find(name)) {
                console.Error("unknown scenario: " + name + " (see --list-scenarios)");
                return kExitUsage;
            }
        }
    }
    if (!options.traceFile.empty()) {
        side.traceFile = OpenTraceFile(options.traceFile);
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
        // One scenario per unit (known: checked before), the last one for the rest.
        const std::vector<std::string> names = SplitNames(options.scenario);
        std::vector<Scenario> scenarios;
        for (int unit = 0; unit < options.units; ++unit) {
            Scenario scenario =
                Scenario::Named(names[std::min(static_cast<std::size_t>(unit), names.size() - 1)]);
            if (scenario.inputPacing == UsbPacing::kNone &&
                scenario.outputPacing == UsbPacing::kNone) {
                scenario.inputPacing = scenario.outputPacing = PacingOf(options.timing);
            }
            scenarios.push_back(scenario);
        }
        if (options.units == 1) {
            side.emulated = std::make_unique<EmulatedSetup>(scenarios.front(), options.speed);
        } else {
            if (options.speed > 1.0) {
                side.clock.emplace(options.speed);
                side.scopedClock.emplace(*side.clock);
            }
            side.hub = std::make_unique<EmulatedBus>();
            for (int unit = 0; unit < options.units; ++unit) {
                side.ports.push_back(
                    std::make_unique<EmulatedBus>(*side.hub, EmulatedBus::PortName(unit + 1)));
                side.units.push_back(
                    std::make_unique<EmulatedTalvo>(*side.ports.back(), scenarios[unit]));
            }
        }
        for (int unit = 0; unit < options.units; ++unit) {
            const std::string port = EmulatedBus::PortName(unit + 1);
            if (!options.device.empty() && options.device != port) {
                continue;
            }
            console.Line("Emulated TALVO" + (options.units > 1 ? " at " + port : "") + ": " +
                         scenarios[unit].name + " (" + scenarios[unit].description + ")");
        }
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

std::string CatalogueText(int baseId) {
    return ToTerminalText(LoadLocalizedString(baseId));
}

std::string ShownPort(const std::string& location) {
    return location.empty() ? std::string("(no location)") : PrintableText(location);
}

// `list`: one line, or one object of a JSON array, per attached unit.
int ListCommand(const Options& options, IHidPlatform& platform) {
    Json array = Json::array();
    for (const UnitEntry& unit : ListUnits(platform)) {
        const UnitVersions read = ReadUnitVersions(platform, unit);
        std::array<std::string, 3> versions;
        for (std::size_t slot = 0; slot < versions.size(); ++slot) {
            versions[slot] = ToUtf8(read.versions[slot]);
        }
        if (options.json) {
            Json entry = {{"port", unit.location},
                          {"mode", ModeName(unit.mode)},
                          {"device_versions", VersionsObject(versions)},
                          {"may_open", unit.openable},
                          {"in_use", read.inUse}};
            array.push_back(std::move(entry));
            continue;
        }
        std::string line = ShownPort(unit.location) + "  " + ModeName(unit.mode);
        const char* labels[3] = {"Fwup", "Normal", "DspMain"};
        for (std::size_t slot = 0; slot < versions.size(); ++slot) {
            line += std::string("  ") + labels[slot] + " " +
                    (versions[slot].empty() ? std::string("---") : PrintableText(versions[slot]));
        }
        line += !unit.openable ? "  (no permission: " + unit.deniedPath + ")"
                : read.inUse   ? "  (in use by another updater)"
                               : "";
        std::printf("%s\n", line.c_str());
    }
    if (options.json) {
        std::fputs((array.dump(2) + "\n").c_str(), stdout);
    }
    return kExitSuccess;
}

// With several units attached and none chosen, nothing is touched: the
// units are named with the two ways to choose.
bool RefuseSeveralUnits(const std::vector<UnitEntry>& units, Console& console) {
    if (units.size() < 2) {
        return false;
    }
    console.Error(CatalogueText(kIdsSeveralUnits));
    for (const UnitEntry& unit : units) {
        console.Error("  " + ShownPort(unit.location) + "  " + ModeName(unit.mode));
    }
    console.Error("  talvo-update --device=PORT ...   (one unit)");
    console.Error("  talvo-update --all ...           (every unit at once)");
    return true;
}

// `--all`: a worker process per unit, each following its port. Their lines
// come back prefixed by the port (JSON events get a "port" field), then a
// result per unit and one summary line. 0 only when every unit was updated.
int RunAll(const Options& options, const std::vector<std::string>& args, Console& console,
           IHidPlatform& platform) {
    std::vector<std::string> ports;
    for (const UnitEntry& unit : ListUnits(platform)) {
        ports.push_back(unit.location);
    }
    if (ports.empty()) {
        console.Text(kIdsCannotFindDevice);
        return kExitNoDevice;
    }
    std::vector<std::string> workerArgs;
    for (const std::string& arg : args) {
        if (arg != "--all" && arg.rfind("--progress", 0) != 0) {
            workerArgs.push_back(arg);
        }
    }
    const bool json = options.progressJson;
    // A worker reports in JSON lines; its texts come on its standard error.
    workerArgs.push_back("--progress=json");
    std::mutex outputLock;
    std::vector<int> lastPercent(ports.size(), -1);
    HoldInterrupts(true);
    const std::vector<int> codes =
        RunWorkers(ports, workerArgs, [&](std::size_t worker, bool out, const std::string& text) {
            std::lock_guard<std::mutex> guard(outputLock);
            const std::string& port = ports[worker];
            if (!out) {
                console.Error(port + ": " + text);
                return;
            }
            Json event = Json::parse(text, nullptr, false);
            if (event.is_discarded() || !event.is_object()) {
                console.Line(port + ": " + text);
                return;
            }
            if (json) {
                Json stamped = {{"port", port}};
                for (auto& [key, value] : event.items()) {
                    stamped[key] = value;
                }
                std::fputs((stamped.dump() + "\n").c_str(), stdout);
                std::fflush(stdout);
                return;
            }
            const std::string kind = event.value("event", "");
            if (kind == "progress") {
                const int percent = event.value("percent", 0);
                // Lines per unit every tenth, not every percent.
                if (percent / 10 != lastPercent[worker] / 10 || percent == 100) {
                    lastPercent[worker] = percent;
                    console.Line(port + ": " + std::to_string(percent) + "%");
                }
            } else if (kind == "stage") {
                console.Line(port + ": " + event.value("stage", ""));
            }
        });
    HoldInterrupts(false);
    if (codes.empty()) {
        console.Error("--all needs one process per unit, which this system does not offer");
        return kExitUsage;
    }
    int failed = 0;
    std::string failures;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::string meaning = ExitCodeMeaning(codes[i]);
        if (!json) {
            console.Line(ports[i] + ": exit " + std::to_string(codes[i]) +
                         (meaning.empty() ? "" : " (" + meaning + ")"));
        }
        if (codes[i] != kExitSuccess) {
            ++failed;
            failures += (failures.empty() ? "" : ", ") + ports[i];
        }
    }
    const std::string summary = std::to_string(codes.size() - failed) + " of " +
                                std::to_string(codes.size()) + " units updated" +
                                (failed != 0 ? "; not updated: " + failures : "");
    if (json) {
        console.Error(summary);
    } else {
        console.Line(summary);
    }
    return failed == 0 ? kExitSuccess : kExitSomeUnitsFailed;
}

int Run(const Options& options, const std::vector<std::string>& args) {
    const bool bar = options.progressBar.value_or(IsTerminal(1));
    const bool status = options.command == Command::kStatus;
    const bool events = options.progressJson && !status;
    const bool list = options.command == Command::kList;
    Console console(bar && !options.all, events && !options.all,
                    events || ((status || list) && options.json));
    ScopedDiagnosticSink sink(&Console::DiagnosticSink, &console);

    DeviceSide side;
    int code = CheckNamedThings(options, console, side);
    EndResult result;
    VersionSlots packageVersions;
    if (code == kExitSuccess) {
        PrepareDeviceSide(options, console, side);
        if (list) {
            return ListCommand(options, side.Platform());
        }
        if (options.all) {
            return RunAll(options, args, console, side.Platform());
        }
    }
#ifdef _WIN32
    // One of our programs per session talks to the TALVO: the Windows
    // program's mutex is taken here too.
    NamedMutex sessionMutex;
    if (code == kExitSuccess && !options.emulate &&
        sessionMutex.Create(kSingleInstanceMutexName) == NamedMutex::Result::AlreadyExists) {
        console.Error(CatalogueText(kIdsDeviceInUse));
        code = kExitInUse;
    }
#endif
    if (code == kExitSuccess && options.device.empty() &&
        RefuseSeveralUnits(ListUnits(side.Platform()), console)) {
        code = kExitSeveralUnits;
    }
    if (code == kExitSuccess) {
        const PresenterPolicy policy = PolicyOf(options);
        PresenterPump pump;
        TerminalView view(console, options, pump);
        UpdatePresenter presenter(view, policy, side.Platform(), NoKeepAwake());
        view.Attach(&presenter);
        presenter.Start(pump.Target());
        // The updater always ends by itself; its longest waits add up to
        // well under an hour even against a stalled device. Its end message
        // can be lost (the queue drops beyond its limit): the end of its
        // thread then stands for it, after a moment for the message.
        const UpdateController& controller = presenter.Controller();
        for (;;) {
            pump.RunUntil(presenter,
                          [&] { return presenter.Ended() || controller.UpdaterEndedUnheard(); });
            if (presenter.Ended()) {
                break;
            }
            pump.RunUntil(
                presenter, [&] { return presenter.Ended(); }, kEndMessageGraceMs);
            if (controller.UpdaterEndedUnheard()) {
                presenter.Handle(kMsgUpdateEnded, controller.Result() == 0 ? 1 : 0, 0);
            }
        }
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
    return Run(options, args);
}
