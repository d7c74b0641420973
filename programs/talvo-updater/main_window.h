// The main window of the desktop updater: a renderer of the UpdatePresenter
// (presenter/).
//
// It shows the product title, per package image the device's version beside
// the package's, the message area (the alerts in bold red), a place for a
// note on why the device cannot be opened, the progress panel (the warning
// line and the bar) while an update runs, and About, Start and Cancel (Close
// after the update). What the window shows when, what Start does and when
// the program ends are the presenter's; this class turns its calls into
// widgets, boxes and timers and hands it the user's clicks.
//
// Everything runs on the GUI thread; the worker threads reach the window
// only through the posts of its message target.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "presenter/update_presenter.h"
#include "programs/talvo-updater/message_target_qt.h"
#include "shell/app_data.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace talvo::qt {

class MainWindow final : public QWidget, private IUpdateView {
  public:
    using PackageLoader = UpdatePresenter::PackageLoader;

    // The device is opened on `platform`, the system kept awake through
    // `keepAwake` during the update; both must outlive the window.
    MainWindow(const AppData& app, IKeepAwake& keepAwake, IHidPlatform& platform,
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

    MainDialogState State() const { return presenter_.State(); }
    int MessageId() const { return presenter_.MessageId(); }
    QLabel* MessageArea() const { return message_; }
    QLabel* ProblemNote() const { return problem_; }
    QLabel* DeviceVersionBox(int slot) const { return currentBox_[slot]; }
    QLabel* PackageVersionBox(int slot) const { return updatedBox_[slot]; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* CancelButton() const { return cancel_; }
    QProgressBar* Bar() const { return bar_; }
    QGroupBox* ProgressPanel() const { return progressPanel_; }
    // The choice of unit, shown while several are attached.
    QComboBox* UnitChooser() const { return units_; }
    // The confirmation box while it is open.
    QMessageBox* ConfirmationBox() const { return confirmBox_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildWidgets();
    QPushButton* ButtonOf(Button button) const {
        return button == Button::kStart ? start_ : cancel_;
    }

    // IUpdateView: what the presenter shows.
    bool AskAgreement() override;
    void ShowPackage(const FirmwarePackage& package) override;
    void ShowStarted() override;
    void ShowOpening(bool opening) override;
    void ShowMessage(int baseId, bool alert) override;
    void ShowDevice(const DeviceFacts& facts) override;
    void ShowDeviceProblem(const std::string& path) override;
    void ShowUnits(const std::vector<UnitChoice>& units, const std::string& chosen) override;
    void EnableButton(Button button, bool enable) override;
    void Focus(Button button) override;
    void OpenConfirmation(Confirmation question) override;
    void CloseConfirmation() override;
    void StartTimer(PresenterTimer timer, std::uint32_t ms) override;
    void StopTimer(PresenterTimer timer) override;
    bool OpenProgress(IMessageTarget** window) override;
    void ShowProgress(std::uint32_t percent, std::uint32_t job) override;
    void CloseProgress() override;
    void BringToFront() override;
    void ShowUpdateEnded() override;
    void ShowFatal(int baseId) override;
    void EndProgram(const EndResult& result) override;

    const AppData& app_;
    const LanguageIndex language_;
    bool askAgreement_ = true;
    bool waitCursor_ = false;
    // Declared before the presenter: its threads post here until it ended.
    QtMessageTarget target_;
    std::array<QTimer, kPresenterTimerCount> timers_;

    QLabel* heading_ = nullptr;
    std::array<QLabel*, 3> typeLabel_{};
    std::array<QLabel*, 3> currentBox_{};
    std::array<QLabel*, 3> updatedBox_{};
    QLabel* message_ = nullptr;
    QLabel* problem_ = nullptr;
    QComboBox* units_ = nullptr;  // item data: the unit's location
    QGroupBox* progressPanel_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* about_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPointer<QMessageBox> confirmBox_;

    UpdatePresenter presenter_;
};

}  // namespace talvo::qt
