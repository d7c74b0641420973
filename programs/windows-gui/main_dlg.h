// The main dialog: the program's one main window. On creation it asks for
// the agreement, loads the firmware package, lays out the version columns
// and starts the device watcher; from then on it follows the device (open
// the connection, read the versions with command 6, show them beside the
// package's) and runs the one update a program run may make: the
// confirmation box, the progress dialog, the update thread and the outcome.
//
// The device conversation itself is the UpdateController's; this class is
// its view. Everything here runs on the UI thread except OnUpdateProgress
// (update thread), which only posts a message.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "shell/app_data.h"
#include "device/device_mode.h"
#include "device/update_controller.h"
#include "device/version_rules.h"
#include "firmware/firmware_package.h"
#include "ui/dialog.h"
#include "programs/windows-gui/main_keep_awake.h"
#include "programs/windows-gui/progress_dlg.h"

namespace talvo {

enum class MainDialogState : std::int32_t {
    Constructed = 0,  // object exists, window not yet initialised
    Starting = 1,     // OnInitDialog is running
    Idle = 2,         // watcher running; waiting for the device and for Start
    Updating = 3,     // the update thread runs
    UpdateEnded = 4,  // an update has ended, successfully or not
    Quitting = 5,     // the quit message was posted or the window is going
};

// The message box the main dialog has open (for closing the confirmation
// box when the device goes), or none. UI thread only.
extern WindowRef g_openBoxWindow;

// The activation hook of every box the main dialog opens: notes the box in
// g_openBoxWindow, gives it the product title as caption and the
// catalogue's texts for OK (599) and Cancel (601).
void DialogBoxHook(IMessageBoxWindow& box, LanguageIndex language);

// The text shown for a version the device did not give.
inline constexpr const char16_t* kVersionNotRead = kVersionUnknown;

class CMainDlg : public Dialog, private IUpdateObserver {
  public:
    // Fills `package` from the firmware the program carries; 1 when at least
    // one slot holds an image.
    using PackageLoader = int (*)(FirmwarePackage& package);

    explicit CMainDlg(const AppData& app = g_appData, PackageLoader loader = &LoadFirmwarePackage);
    ~CMainDlg() override;

    // The message area: base string ID, in bold red for 4000, 4001, 4006.
    void SetMessage(int baseId);
    // Error box with the text of `baseId`, then quit with code 3.
    void FatalError(int baseId);
    // Shows the device's versions in the visible column.
    void ShowDeviceVersion();

    MainDialogState State() const { return state; }
    int MessageId() const { return messageId; }
    const VersionSlots& DeviceVersions() const { return controller.deviceVersion; }
    const FirmwarePackage& Package() const { return package; }
    bool KeepingAwake() const { return keepAwake.Held(); }
    CFirmUpdater& Updater() { return controller.updater; }
    CDeviceCommApp& Connection() { return controller.connection; }

  protected:
    const MessageMap* GetMessageMap() const override;
    bool OnInitDialog() override;
    void OnOK() override {}  // Enter never closes the dialog
    void OnCancel() override;
    std::optional<Rgb> OnCtlColor(Control control, CtlColorKind kind) override;

  private:
    void InitControls();
    void LayOutImageColumns();
    void StartUpdate();
    void BindControls();
    // The activation hook for the boxes this dialog opens, in its language.
    MessageBoxHook BoxHook() const;

    std::intptr_t OnSysCommand(std::uintptr_t command, std::intptr_t lParam);
    std::intptr_t OnDestroy(std::uintptr_t, std::intptr_t);
    std::intptr_t OnPaint(std::uintptr_t, std::intptr_t);
    std::intptr_t OnQueryDragIcon(std::uintptr_t, std::intptr_t);
    std::intptr_t OnTimer(std::uintptr_t id, std::intptr_t);
    std::intptr_t OnDeviceModeChanged(std::uintptr_t mode, std::intptr_t);
    std::intptr_t OnUpdateEndedMessage(std::uintptr_t success, std::intptr_t);
    std::intptr_t OnDeviceEvent(std::uintptr_t, std::intptr_t) { return 0; }
    void OnStartClicked();
    void OnCancelClicked();

    // What the controller reports.
    void OnOpening() override;
    void OnOpened() override;
    void OnDeviceAbsent() override;
    void OnDevicePresent(const VersionSlots& versions) override;
    void OnDeviceBusy() override;
    // The run's overall percentage, posted to the progress dialog as WM_APP+2.
    void OnUpdateProgress(std::uint32_t percent) override;
    void OnUpdateEnded(bool success, ResultCode result) override;

    const AppData& app;
    PackageLoader loadPackage;

    std::array<Control, 3> typeLabel;
    std::array<Control, 3> currentVersionBox;
    std::array<Control, 3> updatedVersionBox;
    std::u16string title;
    int icon = 0;
    Font normalFont;
    Font boldFont;
    // Where the worker threads post: the dialog's window as created. It
    // and the package outlive the controller's threads (declared before it).
    std::unique_ptr<IMessageTarget> windowTarget;
    // imageData, imageLength and imageVersion by ImageType.
    FirmwarePackage package;
    int columnCount = 0;
    UpdateController controller;
    // The wait cursor while the controller opens the device.
    std::optional<WaitCursor> openingCursor;
    CFirmUpProgressDlg progressDialog;
    // The progress dialog's window while an update runs, for the update
    // thread's progress posts.
    std::atomic<std::uintptr_t> progressWindow{0};
    KeepAwakeRequest keepAwake;
    MainDialogState state = MainDialogState::Constructed;
    int boxMessageId = 0;
    int messageId = 0;

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

// The class the application creates; it adds nothing.
class CUpdaterDlg : public CMainDlg {
  public:
    using CMainDlg::CMainDlg;

  protected:
    const MessageMap* GetMessageMap() const override;
};

}  // namespace talvo
