// The main dialog: the program's one main window. On creation it asks for
// the agreement, loads the firmware package, lays out the version columns
// and starts the device watcher; from then on it follows the device (open
// the connection, read the versions with command 6, show them beside the
// package's) and runs the one update a program run may make: the
// confirmation box, the progress dialog, the update thread and the outcome.
//
// Everything here runs on the UI thread except PostModeChange (watcher
// thread) and PostUpdateProgress (update thread), which only post messages.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/app_data.h"
#include "device/device_comm_app.h"
#include "device/device_mode.h"
#include "device/device_watcher.h"
#include "device/firm_updater.h"
#include "device/version_rules.h"
#include "firmware/firmware_package.h"
#include "ui/dialog.h"
#include "ui/main_keep_awake.h"
#include "ui/progress_dlg.h"

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

// The bar position for the whole run: progress `percent` of job `index` of
// `count`, each job taking an equal share (0 when there are no jobs).
std::uint32_t OverallProgress(std::uint32_t index, std::uint32_t count, std::uint32_t percent);

// The text shown for a version the device did not give.
inline constexpr char16_t kVersionNotRead[] = u"---";

class CMainDlg : public Dialog {
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
    void ShowDeviceVersion(bool reset);
    void CloseDeviceConnection();

    // The watcher's mode callback: posts WM_APP+4 to the dialog.
    static void PostModeChange(DeviceMode mode, void* userData);
    // The progress callback of every update job: the run's overall
    // percentage, posted to the progress dialog as WM_APP+2.
    static void PostUpdateProgress(int percent, void* userData);

    MainDialogState State() const { return state; }
    int MessageId() const { return messageId; }
    const VersionSlots& DeviceVersions() const { return deviceVersion; }
    const FirmwarePackage& Package() const { return package; }
    bool KeepingAwake() const { return keepAwake.Held(); }
    CFirmUpdater& Updater() { return updater; }
    CDeviceCommApp& Connection() { return connection; }

  protected:
    const MessageMap* GetMessageMap() const override;
    bool OnInitDialog() override;
    void OnOK() override {}  // Enter never closes the dialog
    void OnCancel() override;
    std::optional<Rgb> OnCtlColor(Control control, CtlColorKind kind) override;

  private:
    void InitControls();
    void LayOutImageColumns();
    void ReadDeviceVersions();
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
    std::intptr_t OnUpdateEnded(std::uintptr_t success, std::intptr_t);
    std::intptr_t OnDeviceEvent(std::uintptr_t, std::intptr_t) { return 0; }
    void OnStartClicked();
    void OnCancelClicked();

    const AppData& app;
    PackageLoader loadPackage;

    std::array<Control, 3> typeLabel;
    std::array<Control, 3> currentVersionBox;
    VersionSlots deviceVersion;
    VersionSlots savedDeviceVersion;
    std::array<Control, 3> updatedVersionBox;
    std::u16string title;
    int icon = 0;
    Font normalFont;
    Font boldFont;
    // Where the worker threads post: the dialog's window as created. It
    // outlives the threads below (declared before them).
    std::unique_ptr<IMessageTarget> windowTarget;
    CDeviceCommApp connection;
    // imageData, imageLength and imageVersion by ImageType.
    FirmwarePackage package;
    int columnCount = 0;
    CDeviceWatcher watcher;
    CFirmUpdater updater;
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
