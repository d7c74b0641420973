// The main window of the desktop updater: a view of the UpdateController.
//
// It shows the product title, per package image the device's version beside
// the package's, the message area ("Connect TALVO to USB port.", "After
// closing all applications ...", "Updating...", the outcome; the alerts in
// bold red), a place for a note on why the device cannot be opened, the
// progress panel (the warning line and the bar) while an update runs, and
// About, Start and Cancel (Close after the update). It follows the device as
// the controller reports it, asks "No update needed. Start update?" when the
// package is not newer, runs the one update of a program run, and refuses to
// close while it runs.
//
// Everything runs on the GUI thread; the controller's worker threads reach
// the window only through the posts of its message target.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "shell/app_data.h"
#include "programs/talvo-updater/message_target_qt.h"
#include "programs/talvo-updater/sleep_inhibitor.h"
#include "device/update_controller.h"
#include "firmware/firmware_package.h"
#include "hid/hid_access.h"

class QGroupBox;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace talvo::qt {

enum class WindowState {
    kConstructed,
    kStarting,     // agreement and package; the watcher not yet started
    kIdle,         // waiting for the device and for Start
    kUpdating,     // the update thread runs
    kUpdateEnded,  // the one update has ended; only Close remains
    kQuitting,     // the program is ending
};

class MainWindow final : public QWidget, private IUpdateObserver {
  public:
    using PackageLoader = int (*)(FirmwarePackage& package);

    MainWindow(const AppData& app, ISleepInhibitor& inhibitor,
               PackageLoader loader = &LoadFirmwarePackage);
    ~MainWindow() override;

    // The start-up: the agreement (unless `askAgreement` is false), the
    // package and the watcher; shows the window. 0 when the program goes on
    // with the window, otherwise its exit code: 2 agreement declined,
    // 3 package not loaded or watcher not started (after the error box).
    int Start(bool askAgreement = true);

    // How the window ends the program (the user's end: 2; a failed start of
    // the update: 3). QCoreApplication::exit unless replaced.
    std::function<void(int code)> onQuit;

    // The note under the message area on why the device cannot be opened
    // (for example missing permissions); an empty text hides it.
    void ShowDeviceProblem(const QString& text);
    QLabel* ProblemNote() const { return problem_; }

    WindowState State() const { return state_; }
    int MessageId() const { return messageId_; }
    QLabel* MessageArea() const { return message_; }
    QLabel* DeviceVersionBox(int slot) const { return currentBox_[slot]; }
    QLabel* PackageVersionBox(int slot) const { return updatedBox_[slot]; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* CancelButton() const { return cancel_; }
    QProgressBar* Bar() const { return bar_; }
    QWidget* ProgressPanel() const;
    // The confirmation box while it is open.
    QMessageBox* ConfirmationBox() const { return confirmBox_; }
    const UpdateController& Controller() const { return controller_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildWidgets();
    void OnPosted(std::uint32_t message, std::uintptr_t wParam);
    void SetMessage(int baseId);
    void ShowVersions();
    void FatalError(int baseId);
    void Quit(int code);
    void OnStartClicked();
    void OnConfirmationClosed(bool confirmed);
    void StartUpdate();
    void OnCancel();
    void CheckAccess();

    void OnOpening() override;
    void OnOpened() override;
    void OnDeviceAbsent() override;
    void OnDevicePresent(const VersionSlots& versions) override;
    void OnDeviceBusy() override;
    void OnUpdateProgress(std::uint32_t percent) override;
    void OnUpdateEnded(bool success, ResultCode result) override;

    const AppData& app_;
    const LanguageIndex language_;
    ISleepInhibitor& inhibitor_;
    PackageLoader loadPackage_;
    // Declared before the controller: its threads post here until it ended.
    QtMessageTarget target_;
    FirmwarePackage package_;
    UpdateController controller_;

    WindowState state_ = WindowState::kConstructed;
    int messageId_ = 0;
    bool waitCursor_ = false;
    QTimer busyRetry_;
    // While no device is open: whether a TALVO is there that this user may
    // not open (then the note says so and names the udev rule).
    QTimer accessCheck_;
    std::unique_ptr<HidAccessWatch> access_;

    QLabel* heading_ = nullptr;
    std::array<QLabel*, 3> typeLabel_{};
    std::array<QLabel*, 3> currentBox_{};
    std::array<QLabel*, 3> updatedBox_{};
    QLabel* message_ = nullptr;
    QLabel* problem_ = nullptr;
    QGroupBox* progressPanel_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* about_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPointer<QMessageBox> confirmBox_;
};

}  // namespace talvo::qt
