// The main dialog: the program's one main window, a renderer of the
// UpdatePresenter (presenter/). It builds its controls from template 200
// (the version columns, the fonts, the system menu's about item), turns the
// presenter's calls into control texts, fonts and colours, message boxes,
// the progress dialog and timer 1, and hands the window's messages and the
// user's clicks to the presenter, which decides what they mean: the
// agreement, the package and the watcher at start-up, the device display,
// Start with its confirmation, the update and its end, and the exit code.
//
// Everything here runs on the UI thread; the worker threads reach the
// window only through the presenter's posts.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "presenter/update_presenter.h"
#include "programs/windows-gui/progress_dlg.h"
#include "shell/app_data.h"
#include "shell/keep_awake.h"
#include "ui/dialog.h"

namespace talvo {

// The message box the main dialog has open (for closing the confirmation
// box when the device goes), or none. UI thread only.
extern WindowRef g_openBoxWindow;

// The activation hook of every box the main dialog opens: notes the box in
// g_openBoxWindow, gives it the product title as caption and the
// catalogue's texts for OK (599) and Cancel (601).
void DialogBoxHook(IMessageBoxWindow& box, LanguageIndex language);

class CMainDlg : public Dialog, private IUpdateView {
  public:
    using PackageLoader = UpdatePresenter::PackageLoader;

    // The device is opened on `platform` and the system kept awake through
    // `keepAwake` during the update; both must outlive the dialog.
    CMainDlg(const AppData& app, IHidPlatform& platform, IKeepAwake& keepAwake,
             PackageLoader loader = &LoadFirmwarePackage);
    ~CMainDlg() override;

    MainDialogState State() const { return presenter.State(); }
    int MessageId() const { return presenter.MessageId(); }
    // Device versions by slot: empty when not read, "---" when refused.
    VersionSlots DeviceVersions() const { return presenter.Facts().versions; }
    const UpdateController& Controller() const { return presenter.Controller(); }

  protected:
    const MessageMap* GetMessageMap() const override;
    bool OnInitDialog() override;
    void OnOK() override {}  // Enter never closes the dialog
    void OnCancel() override;
    std::optional<Rgb> OnCtlColor(Control control, CtlColorKind kind) override;

  private:
    void InitControls();
    void LayOutImageColumns();
    void BindControls();
    Control& ButtonOf(Button button) {
        return button == Button::kStart ? startButton : cancelButton;
    }
    // The activation hook for the boxes this dialog opens, in its language.
    MessageBoxHook BoxHook() const;

    std::intptr_t OnSysCommand(std::uintptr_t command, std::intptr_t lParam);
    std::intptr_t OnDestroy(std::uintptr_t, std::intptr_t);
    std::intptr_t OnPaint(std::uintptr_t, std::intptr_t);
    std::intptr_t OnQueryDragIcon(std::uintptr_t, std::intptr_t);
    std::intptr_t OnTimer(std::uintptr_t id, std::intptr_t);
    // WM_APP+4 and WM_APP+3, for the presenter.
    std::intptr_t OnPosted(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnUpdateEndedMessage(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnDeviceEvent(std::uintptr_t, std::intptr_t) { return 0; }
    void OnStartClicked() { presenter.OnStartClicked(); }
    void OnCancelClicked() { presenter.OnCancelClicked(); }

    // IUpdateView: what the presenter shows.
    void ShowStarting() override;
    bool AskAgreement() override;
    void ShowPackage(const FirmwarePackage& package) override;
    void ShowStarted() override { EnableWindow(true); }
    void ShowOpening(bool opening) override;
    void ShowMessage(int baseId, bool alert) override;
    void ShowDevice(const DeviceFacts& facts) override;
    void EnableButton(Button button, bool enable) override { ButtonOf(button).Enable(enable); }
    void Focus(Button button) override { NextDlgCtl(ButtonOf(button)); }
    void OpenConfirmation(Confirmation question) override;
    void CloseConfirmation() override;
    void StartTimer(PresenterTimer timer, std::uint32_t ms) override;
    void StopTimer(PresenterTimer timer) override;
    bool OpenProgress(IMessageTarget** window) override;
    void CloseProgress() override;
    void BringToFront() override { ForceForeground(); }
    void ShowUpdateEnded() override;
    void ShowFatal(int baseId) override;
    void EndProgram(const EndResult& result) override { PostQuitMessage(result.ExitCode()); }

    const AppData& app;

    std::array<Control, 3> typeLabel;
    std::array<Control, 3> currentVersionBox;
    std::array<Control, 3> updatedVersionBox;
    std::u16string title;
    int icon = 0;
    Font normalFont;
    Font boldFont;
    // Where the worker threads post: the dialog's window and, during the
    // update, the progress dialog's. They outlive the presenter's threads
    // (declared before it).
    std::unique_ptr<IMessageTarget> windowTarget;
    std::unique_ptr<IMessageTarget> progressTarget;
    int columnCount = 0;
    CFirmUpProgressDlg progressDialog;
    // The wait cursor while the presenter opens the device.
    std::optional<WaitCursor> openingCursor;
    int boxMessageId = 0;
    bool messageAlert = false;
    UpdatePresenter presenter;

    Control headingText;
    Control typeTemplate;
    Control currentVersionLabel;
    Control currentVersionTemplate;
    Control updatedVersionLabel;
    Control updatedVersionTemplate;
    Control messageText;
    Control startButton;
    Control cancelButton;
};

}  // namespace talvo
