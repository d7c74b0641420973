#include "programs/talvo-update/terminal_view.h"

#include <iostream>

#include "programs/talvo-update/terminal_console.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"
#include "shell/app_data.h"
#include "shell/language.h"
#include "shell/platform.h"
#include "programs/talvo-update/terminal_exit_codes.h"
#include "shell/strings.h"

namespace talvo::terminal {

namespace {

constexpr int kBarWidth = 40;

std::string Utf8Text(int baseId) {
    return ToTerminalText(LoadLocalizedString(baseId));
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

std::string ShownVersion(const std::u16string& version) {
    return version.empty() ? std::string("---") : PrintableText(ToUtf8(version));
}

std::array<std::string, 3> Utf8Versions(const VersionSlots& versions) {
    std::array<std::string, 3> utf8;
    for (std::size_t slot = 0; slot < versions.size(); ++slot) {
        utf8[slot] = ToUtf8(versions[slot]);
    }
    return utf8;
}

void SayUpdateMode(Console& console) {
    console.Line("The TALVO is in update mode: an earlier update did not finish.");
}

}  // namespace

// ---- the console ---------------------------------------------------------------

Console::Console(bool bar, bool events, bool jsonOut)
    : bar_(bar && !jsonOut), json_(events), text_(jsonOut ? stderr : stdout) {}

void Console::Text(int baseId) {
    Line(Utf8Text(baseId));
}

void Console::Event(Json event) {
    if (!json_) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string line = stamp_.Line(std::move(event)) + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void Console::Progress(unsigned percent, Json image) {
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

void Console::DiagnosticSink(const wchar_t* line, void* self) {
    auto* console = static_cast<Console*>(self);
    std::u16string text;
    for (const wchar_t* c = line; *c != L'\0'; ++c) {
        text.push_back(static_cast<char16_t>(*c));
    }
    std::string utf8 = ToUtf8(text);
    std::lock_guard<std::mutex> lock(console->mutex_);
    if (console->barOpen_ && !utf8.empty() && utf8.front() == '\n') {
        utf8.erase(0, 1);  // the bar's line ends here anyway
    }
    console->EndBarLocked();
    std::fputs(utf8.c_str(), console->text_);
    std::fflush(console->text_);
}

void Console::EndBar() {
    std::lock_guard<std::mutex> lock(mutex_);
    EndBarLocked();
}

bool Console::AskYes(const std::string& question) {
    Write(text_, question + " [y/N] ");
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        Write(text_, "\n");
        return false;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

void Console::Write(std::FILE* out, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    EndBarLocked();
    std::fputs(text.c_str(), out);
    std::fflush(out);
}

void Console::EndBarLocked() {
    if (barOpen_) {
        std::fputc('\n', stdout);
        barOpen_ = false;
    }
}

// ---- the view ------------------------------------------------------------------

TerminalView::TerminalView(Console& console, const Options& options, PresenterPump& pump)
    : console_(console), options_(options), pump_(pump) {}

bool TerminalView::AskAgreement() {
    if (options_.command == Command::kStatus) {
        return true;  // reporting changes nothing: no agreement needed
    }
    if (options_.showAgreement) {
        const auto text = FindAgreementText(130 + LanguageOffset(g_appData.languageIndex));
        console_.Line(AgreementToUtf8(text.data(), text.size()));
    }
    if (options_.acceptAgreement) {
        return true;
    }
    if (!IsTerminal(0)) {
        console_.Error(Utf8Text(kIdsDecline) +
                       " (use --accept-agreement, or --show-agreement to read it)");
        return false;
    }
    if (!console_.AskYes(Utf8Text(kIdsAccept) + "?")) {
        console_.Text(kIdsDecline);
        return false;
    }
    return true;
}

void TerminalView::ShowStage(Stage stage) {
    switch (stage) {
        case Stage::kWaiting:
            console_.Event({{"event", "stage"}, {"stage", "waiting"}});
            break;
        case Stage::kReady:
            if (options_.command == Command::kUpdate) {
                ShowVersions(facts_);
                console_.Event(
                    {{"event", "device"},
                     {"mode", ModeName(facts_.mode)},
                     {"device_versions", VersionsObject(Utf8Versions(facts_.versions))},
                     {"package_versions", VersionsObject(Utf8Versions(package_->imageVersion))},
                     {"update_needed", facts_.updateNeeded}});
            }
            break;
        case Stage::kUpdating:
            console_.Event({{"event", "stage"}, {"stage", "updating"}});
            ShowProgress(0, 0);
            break;
        case Stage::kVerifying:
            console_.Event({{"event", "stage"}, {"stage", "verifying"}});
            break;
    }
}

void TerminalView::ShowMessage(int baseId, bool) {
    // A log says each thing once; "press Start" is for a window, and the
    // status report has no message area.
    const int index = baseId - kIdsPressStart;
    if (options_.command == Command::kStatus || baseId == kIdsPressStart || index < 0 ||
        index >= static_cast<int>(printed_.size()) || printed_[index]) {
        return;
    }
    printed_[index] = true;
    console_.Text(baseId);
}

void TerminalView::OpenConfirmation(Confirmation question) {
    const bool recovery = question == Confirmation::kUpdateModeRecovery;
    const std::string text = Utf8Text(kIdsNoUpdateNeeded);
    if (recovery) {
        // The update sequence starts from update mode as well.
        SayUpdateMode(console_);
    }
    const bool yes =
        options_.yes || (IsTerminal(0) && console_.AskYes(recovery ? "Update now?" : text));
    if (!yes && recovery) {
        console_.Error("the TALVO waits in update mode (use --yes to update it)");
    } else if (!yes && !IsTerminal(0)) {
        console_.Line(text);
        console_.Error("no update needed (use --yes to update all the same)");
    }
    presenter_->OnConfirmationClosed(yes);
}

bool TerminalView::OpenProgress(IMessageTarget**) {
    console_.Text(kIdsDontDisconnect);
    HoldInterrupts(true);
    return true;
}

void TerminalView::ShowProgress(std::uint32_t percent, std::uint32_t job) {
    Json image = Json::object();
    if (console_.Events() && package_ != nullptr) {
        std::vector<int> slots;
        for (int slot = 0; slot < kImageTypeCount; ++slot) {
            if (package_->HasImage(slot)) {
                slots.push_back(slot);
            }
        }
        image["image_index"] = job;
        image["image_count"] = slots.size();
        image["image"] = job < slots.size() ? Json(ImageTypeLabel(slots[job])) : Json(nullptr);
    }
    console_.Progress(percent, std::move(image));
}

void TerminalView::CloseProgress() {
    HoldInterrupts(false);
    console_.EndBar();
}

void TerminalView::ShowVersions(const DeviceFacts& facts) {
    console_.Line(Padded("", 10) + Padded(Utf8Text(kIdsCurrentVersion), 18) +
                  Utf8Text(kIdsUpdatedVersion));
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package_ != nullptr && package_->HasImage(slot)) {
            console_.Line("  " + Padded(ImageTypeLabel(slot), 8) +
                          Padded(ShownVersion(facts.versions[slot]), 18) +
                          ShownVersion(package_->imageVersion[slot]));
        }
    }
}

// ---- the end -------------------------------------------------------------------

int TerminalView::Finish(const EndResult& result, std::uint32_t verifyWaitMs) {
    const DeviceFacts& facts = result.facts;
    switch (result.outcome) {
        case Outcome::kNoDevice:
            console_.Text(kIdsCannotFindDevice);
            break;
        case Outcome::kCannotOpen:
            console_.Error("a TALVO was found but cannot be opened");
            break;
        case Outcome::kNoAccess:
            console_.Error(Utf8Text(NoAccessMessageId()) + "\n  (" + result.deniedPath + ")");
            break;
        case Outcome::kInUse:
            console_.Error(Utf8Text(kIdsDeviceInUse));
            break;
        case Outcome::kDeviceRead:
            if (!options_.json) {
                if (facts.mode == kDeviceModeUpdate) {
                    SayUpdateMode(console_);
                } else {
                    console_.Line("The TALVO is in normal mode.");
                }
                ShowVersions(facts);
                console_.Line(facts.updateNeeded ? "An update is needed."
                                                 : "The TALVO is up to date.");
            }
            break;
        case Outcome::kUpdateFailed:
            console_.Error("update failed with result " + std::to_string(result.updateResult));
            break;
        case Outcome::kVerified:
        case Outcome::kVerifyMismatch:
            ShowVersions(facts);
            for (int slot = 0; slot < kImageTypeCount; ++slot) {
                if (result.mismatched[slot]) {
                    console_.Error(std::string("Verification failed: ") + ImageTypeLabel(slot) +
                                   " is " + ShownVersion(facts.versions[slot]) + " on the TALVO, " +
                                   ToUtf8(package_->imageVersion[slot]) + " in the package.");
                }
            }
            if (result.outcome == Outcome::kVerified) {
                console_.Line("Updated and verified.");
            }
            break;
        case Outcome::kVerifyNotBack:
            console_.Error(
                "Verification failed: the TALVO did not come back in normal mode within " +
                std::to_string(verifyWaitMs / 1000) + " s.");
            break;
        default:
            break;  // said already (agreement, confirmation, failure box)
    }
    return ExitCodeOf(result);
}

int ExitCodeOf(const EndResult& result) {
    switch (result.outcome) {
        case Outcome::kDeviceRead:
            return result.facts.updateNeeded ? kExitUpdateNeeded : kExitSuccess;
        case Outcome::kUpdated:
        case Outcome::kVerified:
            return kExitSuccess;
        case Outcome::kAgreementDeclined:
            return kExitAgreementDeclined;
        case Outcome::kFatal:
            return result.messageId == kIdsPackageFailed ? kExitNoPackage : kExitInternal;
        case Outcome::kNoDevice:
            return kExitNoDevice;
        case Outcome::kCannotOpen:
            return kExitCannotOpen;
        case Outcome::kNoAccess:
            return kExitNoAccess;
        case Outcome::kNotConfirmed:
            return kExitNotConfirmed;
        case Outcome::kRecoveryNotConfirmed:
            return kExitRecoveryNotConfirmed;
        case Outcome::kUpdateFailed:
            return ExitCodeForResult(result.updateResult);
        case Outcome::kVerifyMismatch:
            return kExitVerifyMismatch;
        case Outcome::kVerifyNotBack:
            return kExitVerifyNotBack;
        case Outcome::kInUse:
            return kExitInUse;
        case Outcome::kUserEnded:
            break;
    }
    return kExitInternal;
}

}  // namespace talvo::terminal
