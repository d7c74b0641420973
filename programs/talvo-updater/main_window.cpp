#include "programs/talvo-updater/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "programs/talvo-updater/dialogs.h"
#include "programs/talvo-updater/qt_text.h"
#include "hid/talvo_ids.h"
#include "resources/resource_ids.h"

namespace talvo::qt {

namespace {

// A busy device is asked again after this long, without limit.
constexpr int kBusyRetryMs = 1000;
// How often the window looks for a TALVO node this user may not open.
constexpr int kAccessCheckMs = 250;
const char* const kTypeNames[kImageTypeCount] = {"Fwup", "Normal", "DspMain"};

bool IsAlert(int baseId) {
    return baseId == kIdsPressStart || baseId == kIdsConnectDevice || baseId == kIdsUpdateFailed;
}

QLabel* VersionBox(QWidget* parent) {
    auto* box = new QLabel(parent);
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setAlignment(Qt::AlignCenter);
    box->setTextFormat(Qt::PlainText);
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("00.000")) * 2);
    return box;
}

// Bold red for the alerts, the window's own look otherwise.
void SetAlertLook(QLabel* label, bool alert) {
    QFont font = label->parentWidget()->font();
    font.setBold(alert);
    label->setFont(font);
    QPalette palette = label->parentWidget()->palette();
    if (alert) {
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    }
    label->setPalette(palette);
}

}  // namespace

MainWindow::MainWindow(const AppData& app, ISleepInhibitor& inhibitor, PackageLoader loader)
    : app_(app),
      language_(app.languageIndex),
      inhibitor_(inhibitor),
      loadPackage_(loader),
      target_([this](std::uint32_t message, std::uintptr_t wParam) { OnPosted(message, wParam); }),
      controller_(*this, BusyPolicy::AskAgainLater()) {
    setWindowTitle(ProductTitle(language_));
    setWindowIcon(ApplicationIcon());
    busyRetry_.setSingleShot(true);
    busyRetry_.setInterval(kBusyRetryMs);
    connect(&busyRetry_, &QTimer::timeout, this, [this] { controller_.ReadVersions(); });
    accessCheck_.setInterval(kAccessCheckMs);
    connect(&accessCheck_, &QTimer::timeout, this, [this] { CheckAccess(); });
    BuildWidgets();
}

MainWindow::~MainWindow() {
    // No news after this point, and no thread left that could bring any.
    target_.Close();
    controller_.End();
    inhibitor_.Release();
    if (waitCursor_) {
        QGuiApplication::restoreOverrideCursor();
    }
}

void MainWindow::BuildWidgets() {
    heading_ = new QLabel(Text(kIdsHeading, language_), this);
    heading_->setTextFormat(Qt::PlainText);

    auto* grid = new QGridLayout;
    const QString current = Text(kIdsCurrentVersion, language_);
    const QString updated = Text(kIdsUpdatedVersion, language_);
    grid->addWidget(new QLabel(current, this), 0, 1, Qt::AlignCenter);
    grid->addWidget(new QLabel(updated, this), 0, 2, Qt::AlignCenter);
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        const QString type = QString::fromLatin1(kTypeNames[slot]);
        typeLabel_[slot] = new QLabel(type, this);
        currentBox_[slot] = VersionBox(this);
        currentBox_[slot]->setAccessibleName(current + QLatin1Char(' ') + type);
        updatedBox_[slot] = VersionBox(this);
        updatedBox_[slot]->setAccessibleName(updated + QLatin1Char(' ') + type);
        grid->addWidget(typeLabel_[slot], slot + 1, 0);
        grid->addWidget(currentBox_[slot], slot + 1, 1);
        grid->addWidget(updatedBox_[slot], slot + 1, 2);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);

    message_ = new QLabel(this);
    message_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setMargin(message_->fontMetrics().averageCharWidth() / 2 + 1);
    // Room for the longest message in bold: three lines.
    QFont bold = font();
    bold.setBold(true);
    message_->setMinimumHeight(QFontMetrics(bold).lineSpacing() * 3 + 2 * message_->margin() +
                               2 * message_->frameWidth());

    problem_ = new QLabel(this);
    problem_->setTextFormat(Qt::PlainText);
    problem_->setWordWrap(true);
    problem_->hide();

    progressPanel_ = new QGroupBox(Text(kIdsProgressCaption, language_), this);
    auto* warning = new QLabel(Text(kIdsDontDisconnect, language_), progressPanel_);
    warning->setTextFormat(Qt::PlainText);
    warning->setWordWrap(true);
    warning->setAlignment(Qt::AlignCenter);
    SetAlertLook(warning, true);
    bar_ = new QProgressBar(progressPanel_);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setAccessibleName(Text(kIdsProgressCaption, language_));
    auto* panelLayout = new QVBoxLayout(progressPanel_);
    panelLayout->addWidget(warning);
    panelLayout->addWidget(bar_);
    progressPanel_->hide();

    about_ = new QPushButton(Text(kIdsAboutMenuItem, language_), this);
    about_->setAutoDefault(false);
    connect(about_, &QPushButton::clicked, this, [this] { ShowAboutBox(this, app_); });
    start_ = new QPushButton(Text(kIdsStart, language_), this);
    start_->setEnabled(false);
    start_->setAutoDefault(false);
    connect(start_, &QPushButton::clicked, this, [this] { OnStartClicked(); });
    cancel_ = new QPushButton(Text(kIdsCancel, language_), this);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] { Quit(2); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(about_);
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);

    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(shortcut, &QShortcut::activated, this, [this] { OnCancel(); });

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addWidget(heading_);
    layout->addLayout(grid);
    layout->addWidget(message_);
    layout->addWidget(problem_);
    layout->addWidget(progressPanel_);
    layout->addLayout(buttons);
    setTabOrder(start_, cancel_);
    setTabOrder(cancel_, about_);
}

QWidget* MainWindow::ProgressPanel() const {
    return progressPanel_;
}

int MainWindow::Start(bool askAgreement) {
    state_ = WindowState::kStarting;
    messageId_ = 0;
    if (askAgreement) {
        AgreementDialog agreement(nullptr, language_);
        if (agreement.exec() != QDialog::Accepted) {
            state_ = WindowState::kQuitting;
            return 2;
        }
    }
    if (loadPackage_(package_) != 1 || !package_.HasAnyImage()) {
        state_ = WindowState::kQuitting;
        ShowMessageBox(nullptr, QMessageBox::Critical, kIdsPackageFailed, language_);
        return 3;
    }
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        const bool shown = package_.HasImage(slot);
        typeLabel_[slot]->setVisible(shown);
        currentBox_[slot]->setVisible(shown);
        updatedBox_[slot]->setVisible(shown);
        updatedBox_[slot]->setText(QString::fromStdU16String(package_.imageVersion[slot]));
    }
    if (!controller_.Begin(&target_)) {
        state_ = WindowState::kQuitting;
        ShowMessageBox(nullptr, QMessageBox::Critical, kIdsCannotFindDevice, language_);
        return 3;
    }
    access_ = std::make_unique<HidAccessWatch>(
        HidPlatform::Current(), kTalvoVendorId,
        std::vector<std::uint16_t>{kTalvoNormalProductId, kTalvoUpdateProductId});
    accessCheck_.start();
    state_ = WindowState::kIdle;
    show();
    cancel_->setFocus();
    return 0;
}

void MainWindow::CheckAccess() {
    if (state_ != WindowState::kIdle || controller_.DeviceReady()) {
        ShowDeviceProblem(QString());
        return;
    }
    const std::vector<std::string> refused = access_->Poll();
    ShowDeviceProblem(refused.empty()
                          ? QString()
                          : Text(kIdsNoAccess, language_) + QStringLiteral("\n(") +
                                QString::fromStdString(refused.front()) + QStringLiteral(")"));
}

void MainWindow::ShowDeviceProblem(const QString& text) {
    if (text == problem_->text() && problem_->isVisible() == !text.isEmpty()) {
        return;
    }
    problem_->setText(text);
    problem_->setVisible(!text.isEmpty());
    // A wrapped label's height depends on its width, which the minimum-size
    // constraint of a top-level window does not follow: size it again.
    adjustSize();
}

// ---- news from the worker threads -----------------------------------------

void MainWindow::OnPosted(std::uint32_t message, std::uintptr_t wParam) {
    switch (message) {
        case kMsgDeviceMode:
            controller_.OnModeReport(static_cast<DeviceMode>(static_cast<std::uint32_t>(wParam)));
            break;
        case kMsgUpdateEnded:
            state_ = WindowState::kUpdateEnded;
            controller_.OnUpdateEnded(wParam == 1);
            break;
        case kMsgUpdateProgress:
            if (state_ == WindowState::kUpdating) {
                bar_->setValue(static_cast<int>(std::min<std::uintptr_t>(wParam, 100)));
            }
            break;
        default:
            break;  // device notifications: nothing to show
    }
}

void MainWindow::OnOpening() {
    if (!waitCursor_) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        waitCursor_ = true;
    }
}

void MainWindow::OnOpened() {
    if (waitCursor_) {
        QGuiApplication::restoreOverrideCursor();
        waitCursor_ = false;
    }
}

void MainWindow::OnDeviceAbsent() {
    busyRetry_.stop();
    if (state_ == WindowState::kStarting || state_ == WindowState::kIdle) {
        SetMessage(kIdsConnectDevice);
        if (confirmBox_) {
            // Closed as if cancelled; its end disables Start.
            confirmBox_->reject();
        } else {
            start_->setEnabled(false);
            cancel_->setFocus();
        }
    }
    ShowVersions();
}

void MainWindow::OnDevicePresent(const VersionSlots&) {
    busyRetry_.stop();
    if (state_ == WindowState::kStarting || state_ == WindowState::kIdle) {
        SetMessage(kIdsPressStart);
        start_->setEnabled(true);
        start_->setFocus();
    }
    ShowVersions();
}

void MainWindow::OnDeviceBusy() {
    busyRetry_.start();
}

void MainWindow::OnUpdateProgress(std::uint32_t percent) {
    // The updater's thread: post only.
    target_.Post(kMsgUpdateProgress, percent, 0);
}

void MainWindow::OnUpdateEnded(bool success, ResultCode) {
    inhibitor_.Release();
    progressPanel_->hide();
    adjustSize();  // the panel's room goes with it
    cancel_->setEnabled(true);
    ShowVersions();
    raise();
    activateWindow();
    SetMessage(success ? kIdsUpdated : kIdsUpdateFailed);
    for (QLabel* box : updatedBox_) {
        box->setEnabled(false);
    }
    cancel_->setText(Text(kIdsClose, language_));
    cancel_->setFocus();
}

// ---- the display -------------------------------------------------------------

void MainWindow::SetMessage(int baseId) {
    messageId_ = baseId;
    SetAlertLook(message_, IsAlert(baseId));
    message_->setText(Text(baseId, language_));
}

void MainWindow::ShowVersions() {
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        currentBox_[slot]->setText(QString::fromStdU16String(controller_.deviceVersion[slot]));
    }
}

void MainWindow::FatalError(int baseId) {
    state_ = WindowState::kQuitting;
    ShowMessageBox(this, QMessageBox::Critical, baseId, language_);
    Quit(3);
}

void MainWindow::Quit(int code) {
    state_ = WindowState::kQuitting;
    if (onQuit) {
        onQuit(code);
    } else {
        QCoreApplication::exit(code);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window stays until the program ends; never while an update runs.
    event->ignore();
    if (state_ != WindowState::kUpdating) {
        Quit(2);
    }
}

void MainWindow::OnCancel() {
    if (cancel_->isEnabled()) {
        Quit(2);
    }
}

// ---- the update run ----------------------------------------------------------

void MainWindow::OnStartClicked() {
    if (state_ != WindowState::kIdle || confirmBox_) {
        return;
    }
    if (controller_.UpdateNeeded(package_)) {
        StartUpdate();
        return;
    }
    QMessageBox* box =
        MakeMessageBox(this, QMessageBox::Information, kIdsNoUpdateNeeded, true, language_);
    box->setWindowModality(Qt::WindowModal);
    confirmBox_ = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        const bool confirmed = box->clickedButton() != nullptr &&
                               box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
        confirmBox_ = nullptr;
        box->deleteLater();
        OnConfirmationClosed(confirmed);
    });
    box->open();
}

void MainWindow::OnConfirmationClosed(bool confirmed) {
    if (confirmed && state_ == WindowState::kIdle) {
        StartUpdate();
        return;
    }
    if (controller_.Mode() == kDeviceModeNone) {
        start_->setEnabled(false);
        cancel_->setFocus();
    }
}

void MainWindow::StartUpdate() {
    if (state_ == WindowState::kQuitting) {
        return;
    }
    start_->setEnabled(false);
    cancel_->setEnabled(false);
    bar_->setValue(0);
    progressPanel_->show();
    inhibitor_.Acquire();
    if (controller_.StartUpdate(package_)) {
        state_ = WindowState::kUpdating;
        SetMessage(kIdsUpdating);
        return;
    }
    inhibitor_.Release();
    progressPanel_->hide();
    adjustSize();
    cancel_->setEnabled(true);
    FatalError(kIdsUpdateFailed);
}

}  // namespace talvo::qt
