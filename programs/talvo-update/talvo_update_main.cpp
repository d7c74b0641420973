// talvo-update: the terminal front end of the updater, for scripted and
// headless updates. It is a text view of the same UpdateController as the
// main dialog (through CUpdateSession's message pump): waits for the TALVO,
// shows its versions beside the package's, decides with the same rule as
// the dialog whether an update is needed, asks for the agreement and (when
// no update is needed) for confirmation, runs the update with a progress
// display, reads the versions back once the device is back in normal mode
// and reports the outcome in the user's language. `status` reports the
// device's state and leaves it alone.
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "shell/app_data.h"
#include "shell/language.h"
#include "shell/strings.h"
#include "programs/talvo-update/terminal_console.h"
#include "programs/talvo-update/terminal_options.h"
#include "programs/talvo-update/terminal_report.h"
#include "base/clock.h"
#include "device/update_session.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "firmware/firmware_package.h"
#include "hid/emulated_bus.h"
#include "hid/hid_access.h"
#include "hid/hid_platform.h"
#include "hid/hid_trace.h"
#include "hid/talvo_ids.h"
#include "protocol/diagnostics.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace talvo::terminal {
namespace {

constexpr int kBarWidth = 40;
// How long the device has to come back in normal mode after the update
// before the verification gives up (of the run's clock).
constexpr std::uint32_t kVerifyWaitMs = 60000;

// The program's output. Diagnostic lines come from the update thread while
// the progress comes from the session thread, so every write holds the lock.
// When standard output carries JSON (the progress stream, or the status
// object), every text goes to standard error.
class Console {
  public:
    // `events`: the JSON progress stream; `jsonOut`: standard output is JSON.
    Console(bool bar, bool events, bool jsonOut)
        : bar_(bar && !jsonOut), json_(events), text_(jsonOut ? stderr : stdout) {}

    bool Events() const { return json_; }

    void Line(const std::string& text) { Write(text_, text + "\n"); }
    void Text(int baseId) { Line(ToTerminalText(LoadLocalizedString(baseId))); }
    void Error(const std::string& text) { Write(stderr, text + "\n"); }

    // One JSON object as one line of standard output (JSON mode only).
    void Event(Json event) {
        if (!json_) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const std::string line = stamp_.Line(std::move(event)) + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    void Progress(unsigned percent, Json image) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (shown_ && percent == last_) {
                return;
            }
            last_ = percent;
            shown_ = true;
            if (!json_) {
                if (text_ == stderr) {
                    return;
                }
                if (bar_) {
                    std::fputc('\r', stdout);
                    std::fputs(ProgressBar(percent, kBarWidth).c_str(), stdout);
                    barOpen_ = true;
                } else {
                    std::fputs((std::to_string(percent) + "%\n").c_str(), stdout);
                }
                std::fflush(stdout);
                return;
            }
        }
        Json event = {{"event", "progress"}, {"percent", percent}};
        event.update(image);
        Event(std::move(event));
    }

    // A diagnostic line of the download, kept apart from the bar.
    void Diagnostic(const wchar_t* line) {
        std::u16string text;
        for (const wchar_t* c = line; *c != L'\0'; ++c) {
            text.push_back(static_cast<char16_t>(*c));
        }
        std::string utf8 = ToUtf8(text);
        std::lock_guard<std::mutex> lock(mutex_);
        if (barOpen_ && !utf8.empty() && utf8.front() == '\n') {
            utf8.erase(0, 1);  // the bar's line ends here anyway
        }
        EndBarLocked();
        std::fputs(utf8.c_str(), text_);
        std::fflush(text_);
    }

    static void DiagnosticSink(const wchar_t* line, void* self) {
        static_cast<Console*>(self)->Diagnostic(line);
    }

    void EndBar() {
        std::lock_guard<std::mutex> lock(mutex_);
        EndBarLocked();
    }

    // Asks on the terminal; false for anything but yes, and at end of input.
    bool AskYes(const std::string& question) {
        Write(text_, question + " [y/N] ");
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            Write(text_, "\n");
            return false;
        }
        return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
    }

  private:
    void Write(std::FILE* out, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        EndBarLocked();
        std::fputs(text.c_str(), out);
        std::fflush(out);
    }

    void EndBarLocked() {
        if (barOpen_) {
            std::fputc('\n', stdout);
            barOpen_ = false;
        }
    }

    std::mutex mutex_;
    bool bar_;
    bool json_;
    std::FILE* text_;
    JsonStamp stamp_;
    bool barOpen_ = false;
    bool shown_ = false;
    unsigned last_ = 0;
};

// Each package image in the order the update installs them (slot order).
std::vector<int> JobSlots(const FirmwarePackage& package) {
    std::vector<int> slots;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot)) {
            slots.push_back(slot);
        }
    }
    return slots;
}

std::array<std::string, 3> Utf8Versions(const VersionSlots& versions) {
    std::array<std::string, 3> utf8;
    for (std::size_t slot = 0; slot < versions.size(); ++slot) {
        utf8[slot] = ToUtf8(versions[slot]);
    }
    return utf8;
}

// The text view of the update controller: what the controller reports
// while the run waits, updates and verifies.
class TerminalView : public IUpdateObserver {
  public:
    TerminalView(Console& console, const FirmwarePackage& package)
        : console_(console), jobs_(JobSlots(package)) {}

    void Attach(const CUpdateSession* session) { session_ = session; }

    void OnDeviceAbsent() override {
        // Said once, while the run waits for the device.
        if (!announcedMissing_ && session_ != nullptr &&
            session_->GetState() == CUpdateSession::State::kIdle) {
            announcedMissing_ = true;
            console_.Text(kIdsConnectDevice);
        }
    }
    void OnDevicePresent(const VersionSlots&) override {}
    void OnUpdateProgress(std::uint32_t percent) override {
        Json image = Json::object();
        if (console_.Events() && session_ != nullptr) {
            const std::uint32_t job = session_->ProgressJob();
            image["image_index"] = job;
            image["image_count"] = jobs_.size();
            image["image"] = job < jobs_.size() ? kSlotNames[jobs_[job]] : nullptr;
        }
        console_.Progress(percent, std::move(image));
    }
    void OnUpdateEnded(bool, ResultCode) override {}

  private:
    Console& console_;
    const std::vector<int> jobs_;
    const CUpdateSession* session_ = nullptr;
    bool announcedMissing_ = false;
};

std::string Padded(std::string text, std::size_t width) {
    // Pads by code points so that CJK labels line up roughly too.
    std::size_t points = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++points;
        }
    }
    if (points < width) {
        text.append(width - points, ' ');
    }
    return text;
}

std::string ShownVersion(const std::u16string& version) {
    return version.empty() ? std::string("---") : ToUtf8(version);
}

void ShowVersions(Console& console, const CUpdateSession& session, const FirmwarePackage& package) {
    const std::string current = ToTerminalText(LoadLocalizedString(kIdsCurrentVersion));
    const std::string updated = ToTerminalText(LoadLocalizedString(kIdsUpdatedVersion));
    console.Line(Padded("", 10) + Padded(current, 18) + updated);
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (!package.HasImage(slot)) {
            continue;
        }
        console.Line("  " + Padded(kSlotNames[slot], 8) +
                     Padded(ShownVersion(session.deviceVersion[slot]), 18) +
                     ShownVersion(package.imageVersion[slot]));
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

// What the run talks to: the platform's HID devices, or an emulated TALVO
// (bus, device and the clock it runs on), optionally seen through the wire
// trace. Made before the session and gone after it; the trace file closes
// once nothing can write to it.
struct DeviceSide {
    std::unique_ptr<EmulatedBus> bus;
    std::unique_ptr<ScopedHidPlatform> emulatedPlatform;
    std::unique_ptr<ScaledClock> clock;
    std::unique_ptr<ScopedClock> scopedClock;
    std::unique_ptr<EmulatedTalvo> talvo;
    std::FILE* traceFile = nullptr;
    std::unique_ptr<HidTracePlatform> trace;
    std::unique_ptr<ScopedHidPlatform> tracedPlatform;

    ~DeviceSide() {
        tracedPlatform.reset();
        trace.reset();
        if (traceFile != nullptr) {
            std::fclose(traceFile);
        }
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
        if (options.speed > 1.0) {
            side.clock = std::make_unique<ScaledClock>(options.speed);
            side.scopedClock = std::make_unique<ScopedClock>(*side.clock);
        }
        side.bus = std::make_unique<EmulatedBus>();
        side.emulatedPlatform = std::make_unique<ScopedHidPlatform>(*side.bus);
        side.talvo = std::make_unique<EmulatedTalvo>(*side.bus, scenario);
        console.Line("Emulated TALVO: " + scenario.name + " (" + scenario.description + ")");
    }
    if (side.traceFile != nullptr) {
        std::FILE* file = side.traceFile;
        std::fputs(
            "# talvo-update wire trace: seconds, direction (OUT to the device, IN from it,"
            " -- event), vendor:product, report bytes (report ID first)\n",
            file);
        side.trace = std::make_unique<HidTracePlatform>(HidPlatform::Current(),
                                                        [file](const std::string& line) {
                                                            std::fputs(line.c_str(), file);
                                                            std::fputc('\n', file);
                                                            std::fflush(file);
                                                        });
        side.tracedPlatform = std::make_unique<ScopedHidPlatform>(*side.trace);
    }
}

// Waits up to --wait for the device to be open and read. kExitSuccess, or
// why not: no device, or one that was seen but could not be opened.
int WaitForDevice(const Options& options, Console& console, CUpdateSession& session) {
    if (!session.Begin()) {
        console.Text(kIdsCannotFindDevice);
        return kExitInternal;
    }
    console.Event({{"event", "stage"}, {"stage", "waiting"}});
    // A TALVO this user may not open is said at once, not waited out.
    HidAccessWatch access(HidPlatform::Current(), kTalvoVendorId,
                          {kTalvoNormalProductId, kTalvoUpdateProductId});
    std::vector<std::string> refused;
    if (session.PumpUntil(
            [&] { return session.DeviceReady() || !(refused = access.Poll()).empty(); },
            options.waitSeconds * 1000u)) {
        if (session.DeviceReady()) {
            return kExitSuccess;
        }
        console.Error(ToTerminalText(LoadLocalizedString(kIdsNoAccess)) + "\n  (" + refused[0] +
                      ")");
        return kExitNoAccess;
    }
    if (session.Mode() > kDeviceModeNone) {
        console.Error("a TALVO was found but cannot be opened");
        return kExitCannotOpen;
    }
    console.Text(kIdsCannotFindDevice);
    return kExitNoDevice;
}

void SayUpdateMode(Console& console) {
    console.Line("The TALVO is in update mode: an earlier update did not finish.");
}

StatusFacts FactsOf(const CUpdateSession& session, const FirmwarePackage& package) {
    StatusFacts facts;
    facts.mode = session.Mode() > kDeviceModeNone ? session.Mode() : kDeviceModeNone;
    facts.opened = session.DeviceReady();
    facts.deviceVersions = Utf8Versions(session.deviceVersion);
    facts.packageVersions = Utf8Versions(package.imageVersion);
    facts.updateNeeded =
        facts.opened && (facts.mode == kDeviceModeUpdate || session.UpdateNeeded(package));
    return facts;
}

// `facts` are written also when the device is not there (for --json).
int RunStatus(const Options& options, Console& console, const FirmwarePackage& package,
              DeviceSide& side, StatusFacts& facts) {
    PrepareDeviceSide(options, console, side);
    CUpdateSession session;
    int code = WaitForDevice(options, console, session);
    facts = FactsOf(session, package);
    if (code == kExitSuccess) {
        code = facts.updateNeeded ? kExitUpdateNeeded : kExitSuccess;
    }
    if (options.json || !facts.opened) {
        return code;
    }
    if (facts.mode == kDeviceModeUpdate) {
        SayUpdateMode(console);
    } else {
        console.Line("The TALVO is in normal mode.");
    }
    ShowVersions(console, session, package);
    console.Line(facts.updateNeeded ? "An update is needed." : "The TALVO is up to date.");
    return code;
}

// After a successful update: waits for the device in normal mode, reads
// its versions and compares them with the package's.
int Verify(Console& console, CUpdateSession& session, const FirmwarePackage& package) {
    console.Event({{"event", "stage"}, {"stage", "verifying"}});
    const bool back = session.PumpUntil(
        [&] { return session.DeviceReady() && session.Mode() == kDeviceModeNormal; },
        kVerifyWaitMs);
    if (!back) {
        console.Error("Verification failed: the TALVO did not come back in normal mode within " +
                      std::to_string(kVerifyWaitMs / 1000) + " s.");
        return kExitVerifyNotBack;
    }
    ShowVersions(console, session, package);
    int code = kExitSuccess;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot) && session.deviceVersion[slot] != package.imageVersion[slot]) {
            console.Error(std::string("Verification failed: ") + kSlotNames[slot] + " is " +
                          ShownVersion(session.deviceVersion[slot]) + " on the TALVO, " +
                          ToUtf8(package.imageVersion[slot]) + " in the package.");
            code = kExitVerifyMismatch;
        }
    }
    if (code == kExitSuccess) {
        console.Line("Updated and verified.");
    }
    return code;
}

bool AcceptAgreement(const Options& options, Console& console) {
    if (options.showAgreement) {
        const auto text = FindAgreementText(130 + LanguageOffset(g_appData.languageIndex));
        console.Line(AgreementToUtf8(text.data(), text.size()));
    }
    if (options.acceptAgreement) {
        return true;
    }
    if (!IsTerminal(0)) {
        console.Error(ToTerminalText(LoadLocalizedString(kIdsDecline)) +
                      " (use --accept-agreement, or --show-agreement to read it)");
        return false;
    }
    if (!console.AskYes(ToTerminalText(LoadLocalizedString(kIdsAccept)) + "?")) {
        console.Text(kIdsDecline);
        return false;
    }
    return true;
}

// Whether the update goes ahead on the device found; the exit code if not.
int ConfirmUpdate(const Options& options, Console& console, const CUpdateSession& session,
                  const FirmwarePackage& package) {
    if (session.Mode() == kDeviceModeUpdate) {
        // The update sequence starts from update mode as well.
        SayUpdateMode(console);
        if (options.yes || (IsTerminal(0) && console.AskYes("Update now?"))) {
            return kExitSuccess;
        }
        console.Error("the TALVO waits in update mode (use --yes to update it)");
        return kExitRecoveryNotConfirmed;
    }
    if (options.yes || session.UpdateNeeded(package)) {
        return kExitSuccess;
    }
    const std::string question = ToTerminalText(LoadLocalizedString(kIdsNoUpdateNeeded));
    if (IsTerminal(0) && console.AskYes(question)) {
        return kExitSuccess;
    }
    if (!IsTerminal(0)) {
        console.Line(question);
        console.Error("no update needed (use --yes to update all the same)");
    }
    return kExitNotConfirmed;
}

int RunUpdate(const Options& options, Console& console, const FirmwarePackage& package,
              DeviceSide& side, ResultCode& result) {
    // The agreement comes before anything touches the device.
    if (!AcceptAgreement(options, console)) {
        return kExitAgreementDeclined;
    }
    PrepareDeviceSide(options, console, side);
    TerminalView view(console, package);
    CUpdateSession session(&view);
    view.Attach(&session);
    if (const int code = WaitForDevice(options, console, session); code != kExitSuccess) {
        return code;
    }
    ShowVersions(console, session, package);
    const StatusFacts facts = FactsOf(session, package);
    console.Event({{"event", "device"},
                   {"mode", ModeName(facts.mode)},
                   {"device_versions", VersionsObject(facts.deviceVersions)},
                   {"package_versions", VersionsObject(facts.packageVersions)},
                   {"update_needed", facts.updateNeeded}});
    if (const int code = ConfirmUpdate(options, console, session, package); code != kExitSuccess) {
        return code;
    }

    console.Text(kIdsDontDisconnect);
    console.Text(kIdsUpdating);
    if (!session.StartUpdate(package)) {
        console.Text(kIdsUpdateFailed);
        return kExitInternal;
    }
    console.Event({{"event", "stage"}, {"stage", "updating"}});
    HoldInterrupts(true);
    view.OnUpdateProgress(0);
    // The updater always ends by itself; its longest waits add up to
    // well under an hour even against a stalled device.
    session.PumpUntil([&] { return session.GetState() == CUpdateSession::State::kEnded; },
                      0xFFFFFFFEu);
    HoldInterrupts(false);
    console.EndBar();
    result = session.Result();
    if (!session.Succeeded()) {
        console.Text(kIdsUpdateFailed);
        console.Error("update failed with result " + std::to_string(session.Result()));
        return ExitCodeForResult(session.Result());
    }
    console.Text(kIdsUpdated);
    return options.verify ? Verify(console, session, package) : kExitSuccess;
}

int Run(const Options& options) {
    const bool bar = options.progressBar.value_or(IsTerminal(1));
    const bool status = options.command == Command::kStatus;
    const bool events = options.progressJson && !status;
    Console console(bar, events, events || (status && options.json));
    ScopedDiagnosticSink sink(&Console::DiagnosticSink, &console);

    DeviceSide side;
    FirmwarePackage package;
    int code = CheckNamedThings(options, console, side);
    ResultCode result = 0;
    if (code == kExitSuccess && LoadFirmwarePackage(package) == 0) {
        console.Text(kIdsPackageFailed);
        code = kExitNoPackage;
    }
    StatusFacts facts;
    if (code == kExitSuccess) {
        code = status ? RunStatus(options, console, package, side, facts)
                      : RunUpdate(options, console, package, side, result);
    }
    if (status && options.json) {
        // One object whatever ended the run (a missing package included).
        facts.exitCode = code;
        std::fputs((StatusObject(facts).dump(2) + "\n").c_str(), stdout);
    }
    // The JSON stream ends with the result, whatever ended the run.
    Json end = {{"event", "result"},
                {"ok", code == kExitSuccess},
                {"exit_code", code},
                {"exit_meaning", ExitCodeMeaning(code)}};
    if (result != 0) {
        end["update_result"] = result;
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
