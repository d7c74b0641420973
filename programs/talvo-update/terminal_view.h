// The terminal's renderer of the UpdatePresenter: the console (texts, the
// progress bar or lines, the JSON stream) and what the presenter's calls
// look like on it. The run itself (the wait for the TALVO, the decision,
// the confirmation, the update, recovery, verification, the end result) is
// the presenter's, under the terminal's policy; this view prints it,
// answers the agreement and the confirmations from the command line or the
// prompt, and turns the presenter's timers into its pump's.
#pragma once

#include <array>
#include <cstdio>
#include <mutex>
#include <string>

#include "presenter/presenter_pump.h"
#include "presenter/update_presenter.h"
#include "programs/talvo-update/terminal_options.h"
#include "programs/talvo-update/terminal_report.h"

namespace talvo::terminal {

// The program's output. Diagnostic lines come from the update thread while
// the progress comes from the UI thread, so every write holds the lock.
// When standard output carries JSON (the progress stream, or the status
// object), every text goes to standard error.
class Console {
  public:
    // `events`: the JSON progress stream; `jsonOut`: standard output is JSON.
    Console(bool bar, bool events, bool jsonOut);

    bool Events() const { return json_; }

    void Line(const std::string& text) { Write(text_, text + "\n"); }
    void Text(int baseId);
    void Error(const std::string& text) { Write(stderr, text + "\n"); }
    // One JSON object as one line of standard output (JSON mode only).
    void Event(Json event);
    // The bar, a percentage line, or a progress event with `image`'s fields.
    void Progress(unsigned percent, Json image);
    void EndBar();
    // Asks on the terminal; false for anything but yes, and at end of input.
    bool AskYes(const std::string& question);

    // The download's diagnostic lines, kept apart from the bar.
    static void DiagnosticSink(const wchar_t* line, void* self);

  private:
    void Write(std::FILE* out, const std::string& text);
    void EndBarLocked();

    std::mutex mutex_;
    bool bar_;
    bool json_;
    std::FILE* text_;
    JsonStamp stamp_;
    bool barOpen_ = false;
    bool shown_ = false;
    unsigned last_ = 0;
};

class TerminalView final : public IUpdateView {
  public:
    TerminalView(Console& console, const Options& options, PresenterPump& pump);
    void Attach(UpdatePresenter* presenter) { presenter_ = presenter; }

    // The result's lines on the console, and its exit code. `verifyWaitMs`
    // is the policy's.
    int Finish(const EndResult& result, std::uint32_t verifyWaitMs);

    bool AskAgreement() override;
    void ShowPackage(const FirmwarePackage& package) override { package_ = &package; }
    void ShowStage(Stage stage) override;
    void ShowMessage(int baseId, bool alert) override;
    void ShowDevice(const DeviceFacts& facts) override { facts_ = facts; }
    void EnableButton(Button, bool) override {}
    void Focus(Button) override {}
    void OpenConfirmation(Confirmation question) override;
    void CloseConfirmation() override {}
    void StartTimer(PresenterTimer timer, std::uint32_t ms) override {
        pump_.StartTimer(timer, ms);
    }
    void StopTimer(PresenterTimer timer) override { pump_.StopTimer(timer); }
    bool OpenProgress(IMessageTarget** window) override;
    void ShowProgress(std::uint32_t percent, std::uint32_t job) override;
    void CloseProgress() override;
    void ShowUpdateEnded() override {}
    void ShowFatal(int baseId) override { console_.Text(baseId); }
    void EndProgram(const EndResult&) override {}

  private:
    void ShowVersions(const DeviceFacts& facts);

    Console& console_;
    const Options& options_;
    PresenterPump& pump_;
    UpdatePresenter* presenter_ = nullptr;
    const FirmwarePackage* package_ = nullptr;
    DeviceFacts facts_;
    // Messages already printed: each at most once.
    std::array<bool, 8> printed_{};
};

// The exit code of `result` (terminal_exit_codes.h).
int ExitCodeOf(const EndResult& result);

}  // namespace talvo::terminal
