// talvo-update: the terminal front end of the updater, for scripted and
// headless updates. It is a text view of the same UpdateController as the
// main dialog (through CUpdateSession's message pump): waits for the TALVO,
// shows its versions beside the package's, decides with the same rule as
// the dialog whether an update is needed, asks for the agreement and (when
// no update is needed) for confirmation, runs the update with a progress
// display and reports the outcome in the user's language.
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/app_data.h"
#include "app/language.h"
#include "app/strings.h"
#include "app/terminal/terminal_console.h"
#include "app/terminal/terminal_options.h"
#include "device/clock.h"
#include "device/update_session.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "firmware/firmware_package.h"
#include "hid/emulated_bus.h"
#include "hid/hid_access.h"
#include "hid/hid_platform.h"
#include "hid/talvo_ids.h"
#include "protocol/diagnostics.h"
#include "resources/catalogue.h"

namespace talvo::terminal {
namespace {

constexpr int kBarWidth = 40;

// The program's output. Diagnostic lines come from the update thread while
// the progress comes from the session thread, so every write holds the lock.
class Console {
  public:
    explicit Console(bool bar) : bar_(bar) {}

    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        EndBarLocked();
        std::fputs(text.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void Text(int baseId) { Line(ToTerminalText(LoadLocalizedString(baseId))); }
    void Error(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        EndBarLocked();
        std::fputs(text.c_str(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    void Progress(unsigned percent) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shown_ && percent == last_) {
            return;
        }
        last_ = percent;
        shown_ = true;
        if (bar_) {
            std::fputc('\r', stdout);
            std::fputs(ProgressBar(percent, kBarWidth).c_str(), stdout);
            barOpen_ = true;
        } else {
            std::fputs((std::to_string(percent) + "%\n").c_str(), stdout);
        }
        std::fflush(stdout);
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
        std::fputs(utf8.c_str(), stdout);
        std::fflush(stdout);
    }

    static void DiagnosticSink(const wchar_t* line, void* self) {
        static_cast<Console*>(self)->Diagnostic(line);
    }

    void EndBar() {
        std::lock_guard<std::mutex> lock(mutex_);
        EndBarLocked();
    }

  private:
    void EndBarLocked() {
        if (barOpen_) {
            std::fputc('\n', stdout);
            barOpen_ = false;
        }
    }

    std::mutex mutex_;
    bool bar_;
    bool barOpen_ = false;
    bool shown_ = false;
    unsigned last_ = 0;
};

bool AskYes(Console& console, const std::string& question) {
    console.EndBar();
    std::fputs((question + " [y/N] ").c_str(), stdout);
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::fputc('\n', stdout);
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

const char* SlotName(int slot) {
    static const char* const names[] = {"Fwup", "Normal", "DspMain"};
    return names[slot];
}

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

void ShowVersions(Console& console, const CUpdateSession& session, const FirmwarePackage& package) {
    const std::string current = ToTerminalText(LoadLocalizedString(605));
    const std::string updated = ToTerminalText(LoadLocalizedString(606));
    console.Line(Padded("", 10) + Padded(current, 18) + updated);
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (!package.HasImage(slot)) {
            continue;
        }
        std::string device = ToUtf8(session.deviceVersion[slot]);
        if (device.empty()) {
            device = "---";
        }
        std::string image = ToUtf8(package.imageVersion[slot]);
        if (image.empty()) {
            image = "---";
        }
        console.Line("  " + Padded(SlotName(slot), 8) + Padded(device, 18) + image);
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

int Run(const Options& options) {
    const bool bar = options.progressBar.value_or(IsTerminal(1));
    Console console(bar);
    ScopedDiagnosticSink sink(&Console::DiagnosticSink, &console);

    FirmwarePackage package;
    if (LoadFirmwarePackage(package) == 0) {
        console.Text(5002);
        return kExitNoPackage;
    }

    // The agreement comes before anything touches the device.
    if (options.showAgreement) {
        const auto text = FindAgreementText(130 + LanguageOffset(g_appData.languageIndex));
        console.Line(AgreementToUtf8(text.data(), text.size()));
    }
    if (!options.acceptAgreement) {
        const std::string question = ToTerminalText(LoadLocalizedString(602));
        if (!IsTerminal(0)) {
            console.Error(ToTerminalText(LoadLocalizedString(603)) +
                          " (use --accept-agreement, or --show-agreement to read it)");
            return kExitAgreementDeclined;
        }
        if (!AskYes(console, question + "?")) {
            console.Text(603);
            return kExitAgreementDeclined;
        }
    }

    // An emulated TALVO, when asked for: bus, device, and the clock it runs on.
    std::unique_ptr<EmulatedBus> bus;
    std::unique_ptr<ScopedHidPlatform> platform;
    std::unique_ptr<ScaledClock> clock;
    std::unique_ptr<ScopedClock> scopedClock;
    std::unique_ptr<EmulatedTalvo> talvo;
    if (options.emulate) {
        std::optional<Scenario> scenario = Scenario::Find(options.scenario);
        if (!scenario) {
            console.Error("unknown scenario: " + options.scenario + " (see --list-scenarios)");
            return kExitUsage;
        }
        if (scenario->inputPacing == UsbPacing::kNone &&
            scenario->outputPacing == UsbPacing::kNone) {
            scenario->inputPacing = scenario->outputPacing = PacingOf(options.timing);
        }
        if (options.speed > 1.0) {
            clock = std::make_unique<ScaledClock>(options.speed);
            scopedClock = std::make_unique<ScopedClock>(*clock);
        }
        bus = std::make_unique<EmulatedBus>();
        platform = std::make_unique<ScopedHidPlatform>(*bus);
        talvo = std::make_unique<EmulatedTalvo>(*bus, *scenario);
        console.Line("Emulated TALVO: " + scenario->name + " (" + scenario->description + ")");
    }

    int code = kExitInternal;
    {
        CUpdateSession session;
        bool announcedMissing = false;
        session.onMessage = [&](const ThreadMessage& message) {
            if (message.message == kMsgDeviceMode && message.wParam == 0 && !announcedMissing &&
                session.GetState() == CUpdateSession::State::kIdle) {
                announcedMissing = true;
                console.Text(4001);
            } else if (message.message == kMsgUpdateProgress) {
                console.Progress(static_cast<unsigned>(message.wParam));
            }
        };
        if (!session.Begin()) {
            console.Text(5001);
            return kExitInternal;
        }
        // A TALVO this user may not open is said at once, not waited out.
        HidAccessWatch access(HidPlatform::Current(), kTalvoVendorId,
                              {kTalvoNormalProductId, kTalvoUpdateProductId});
        std::vector<std::string> refused;
        if (!session.PumpUntil(
                [&] { return session.DeviceReady() || !(refused = access.Poll()).empty(); },
                options.waitSeconds * 1000u)) {
            console.Text(5001);
            return kExitNoDevice;
        }
        if (!session.DeviceReady()) {
            console.Error(ToTerminalText(LoadLocalizedString(5003)) + "\n  (" + refused[0] + ")");
            return kExitNoAccess;
        }
        ShowVersions(console, session, package);

        if (!session.UpdateNeeded(package) && !options.yes) {
            const std::string question = ToTerminalText(LoadLocalizedString(4003));
            if (!IsTerminal(0) || !AskYes(console, question)) {
                if (!IsTerminal(0)) {
                    console.Line(question);
                    console.Error("no update needed (use --yes to update all the same)");
                }
                return kExitNotConfirmed;
            }
        }

        console.Text(4002);
        console.Text(4004);
        if (!session.StartUpdate(package)) {
            console.Text(4006);
            return kExitInternal;
        }
        HoldInterrupts(true);
        console.Progress(0);
        // The updater always ends by itself; its longest waits add up to
        // well under an hour even against a stalled device.
        session.PumpUntil([&] { return session.GetState() == CUpdateSession::State::kEnded; },
                          0xFFFFFFFEu);
        HoldInterrupts(false);
        console.EndBar();
        if (session.Succeeded()) {
            console.Text(4005);
            code = kExitSuccess;
            // The device restarts into normal mode; show what it runs now.
            if (session.PumpUntil([&] { return session.DeviceReady(); }, 30000)) {
                ShowVersions(console, session, package);
            }
        } else {
            console.Text(4006);
            console.Error("update failed with result " + std::to_string(session.Result()));
            code = ExitCodeForResult(session.Result());
        }
    }
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
        std::fprintf(stderr, "talvo-update: %s\nTry 'talvo-update --help'.\n", error.c_str());
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
