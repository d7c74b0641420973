#include "programs/talvo-updater/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
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

#include "programs/talvo-updater/dialogs.h"
#include "programs/talvo-updater/qt_text.h"
#include "resources/resource_ids.h"
#include "shell/platform.h"

namespace talvo::qt {

namespace {

// A word-wrapped label that keeps the room its text needs at the width it
// is given: a top-level layout sized to its minimum does not follow a
// label's height for its width by itself, and would cut the second line.
// When the room it needs changes, the window is fitted to it again (also
// smaller: the first layout may have tried it narrower than it ends up).
class WrappedLabel final : public QLabel {
  public:
    WrappedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        // A label's height for a width is never below its minimum height:
        // the text's own comes without it.
        const int kept = minimumHeight();
        setMinimumHeight(0);
        const int needed = heightForWidth(width());
        setMinimumHeight(needed > 0 ? needed : kept);
        if (needed > 0 && needed != kept) {
            QMetaObject::invokeMethod(window(), &QWidget::adjustSize, Qt::QueuedConnection);
        }
    }
};

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

QString Latin1(const char* text) {
    return QString::fromLatin1(text);
}

}  // namespace

MainWindow::MainWindow(const AppData& app, IKeepAwake& keepAwake, IHidPlatform& platform,
                       PackageLoader loader)
    : app_(app),
      language_(app.languageIndex),
      target_([this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
          presenter_.Handle(message, wParam, lParam);
      }),
      presenter_(*this, PresenterPolicy::Desktop(), platform, keepAwake, loader) {
    setWindowTitle(ProductTitle(language_));
    setWindowIcon(ApplicationIcon());
    for (std::uint32_t i = 0; i < kPresenterTimerCount; ++i) {
        connect(&timers_[i], &QTimer::timeout, this,
                [this, i] { presenter_.OnTimer(static_cast<PresenterTimer>(i + 1)); });
    }
    BuildWidgets();
}

MainWindow::~MainWindow() {
    // No news after this point, and no thread left that could bring any.
    target_.Close();
    presenter_.Shutdown();
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
        const QString type = Latin1(ImageTypeLabel(slot));
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

    problem_ = new WrappedLabel(QString(), this);
    problem_->hide();

    units_ = new QComboBox(this);
    units_->setAccessibleName(Text(kIdsSeveralUnits, language_));
    units_->hide();
    connect(units_, &QComboBox::activated, this, [this](int index) {
        const QString location = units_->itemData(index).toString();
        if (!location.isEmpty()) {
            presenter_.ChooseUnit(location.toStdString());
        }
    });

    progressPanel_ = new QGroupBox(Text(kIdsProgressCaption, language_), this);
    auto* warning = new WrappedLabel(Text(kIdsDontDisconnect, language_), progressPanel_);
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
    connect(start_, &QPushButton::clicked, this, [this] { presenter_.OnStartClicked(); });
    cancel_ = new QPushButton(Text(kIdsCancel, language_), this);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] { presenter_.OnCancelClicked(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(about_);
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);

    // Esc: only while Cancel can be pressed.
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(shortcut, &QShortcut::activated, this, [this] {
        if (cancel_->isEnabled()) {
            presenter_.OnCancelClicked();
        }
    });

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addWidget(heading_);
    layout->addLayout(grid);
    layout->addWidget(message_);
    layout->addWidget(problem_);
    layout->addWidget(units_);
    layout->addWidget(progressPanel_);
    layout->addLayout(buttons);
    setTabOrder(start_, cancel_);
    setTabOrder(cancel_, about_);
}

// ---- start-up ----------------------------------------------------------------

int MainWindow::Start(bool askAgreement) {
    askAgreement_ = askAgreement;
    if (presenter_.Start(&target_)) {
        return 0;
    }
    return presenter_.Result().ExitCode();
}

bool MainWindow::AskAgreement() {
    if (!askAgreement_) {
        return true;
    }
    AgreementDialog agreement(nullptr, language_);
    return agreement.exec() == QDialog::Accepted;
}

void MainWindow::ShowPackage(const FirmwarePackage& package) {
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        const bool shown = package.HasImage(slot);
        typeLabel_[slot]->setVisible(shown);
        currentBox_[slot]->setVisible(shown);
        updatedBox_[slot]->setVisible(shown);
        updatedBox_[slot]->setText(QString::fromStdU16String(package.imageVersion[slot]));
    }
}

void MainWindow::ShowStarted() {
    show();
    cancel_->setFocus();
}

// ---- the display -------------------------------------------------------------

void MainWindow::ShowOpening(bool opening) {
    if (opening && !waitCursor_) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (!opening && waitCursor_) {
        QGuiApplication::restoreOverrideCursor();
    }
    waitCursor_ = opening;
}

void MainWindow::ShowMessage(int baseId, bool alert) {
    SetAlertLook(message_, alert);
    message_->setText(Text(baseId, language_));
}

void MainWindow::ShowDevice(const DeviceFacts& facts) {
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        currentBox_[slot]->setText(QString::fromStdU16String(facts.versions[slot]));
    }
}

// One line per unit: its port, its mode and its versions.
void MainWindow::ShowUnits(const std::vector<UnitChoice>& units, const std::string& chosen) {
    units_->clear();
    if (chosen.empty()) {
        units_->addItem(Text(kIdsSeveralUnits, language_), QString());
    }
    for (const UnitChoice& choice : units) {
        QString line = QString::fromStdString(choice.unit.location) + QStringLiteral("  ") +
                       QLatin1String(choice.unit.mode == kDeviceModeUpdate ? "update" : "normal");
        for (int slot = 1; slot < kImageTypeCount; ++slot) {
            if (!choice.versions[slot].empty()) {
                line += QStringLiteral("  ") + Latin1(ImageTypeLabel(slot)) + QLatin1Char(' ') +
                        QString::fromStdU16String(choice.versions[slot]);
            }
        }
        units_->addItem(line, QString::fromStdString(choice.unit.location));
        if (choice.unit.location == chosen) {
            units_->setCurrentIndex(units_->count() - 1);
        }
    }
    units_->setVisible(units.size() > 1);
    adjustSize();
}

void MainWindow::ShowDeviceProblem(const std::string& path) {
    const QString text = path.empty()
                             ? QString()
                             : Text(NoAccessMessageId(), language_) + QStringLiteral("\n(") +
                                   QString::fromStdString(path) + QStringLiteral(")");
    if (text == problem_->text() && problem_->isVisible() == !text.isEmpty()) {
        return;
    }
    problem_->setText(text);
    problem_->setVisible(!text.isEmpty());
    adjustSize();
}

void MainWindow::EnableButton(Button button, bool enable) {
    ButtonOf(button)->setEnabled(enable);
}

void MainWindow::Focus(Button button) {
    ButtonOf(button)->setFocus();
}

void MainWindow::StartTimer(PresenterTimer timer, std::uint32_t ms) {
    timers_[static_cast<std::size_t>(timer) - 1].start(static_cast<int>(ms));
}

void MainWindow::StopTimer(PresenterTimer timer) {
    timers_[static_cast<std::size_t>(timer) - 1].stop();
}

// ---- boxes and the end -----------------------------------------------------------

void MainWindow::OpenConfirmation(Confirmation) {
    QMessageBox* box =
        MakeMessageBox(this, QMessageBox::Information, kIdsNoUpdateNeeded, true, language_);
    box->setWindowModality(Qt::WindowModal);
    confirmBox_ = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        const bool confirmed = box->clickedButton() != nullptr &&
                               box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
        confirmBox_ = nullptr;
        box->deleteLater();
        presenter_.OnConfirmationClosed(confirmed);
    });
    box->open();
}

void MainWindow::CloseConfirmation() {
    if (confirmBox_) {
        confirmBox_->reject();
    }
}

void MainWindow::ShowFatal(int baseId) {
    ShowMessageBox(isVisible() ? this : nullptr, QMessageBox::Critical, baseId, language_);
}

void MainWindow::EndProgram(const EndResult& result) {
    if (onQuit) {
        onQuit(result.ExitCode());
    } else {
        QCoreApplication::exit(result.ExitCode());
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window stays until the program ends; the presenter decides when.
    event->ignore();
    presenter_.OnCloseCommand();
}

// ---- the update run ----------------------------------------------------------

bool MainWindow::OpenProgress(IMessageTarget**) {
    bar_->setValue(0);
    progressPanel_->show();
    return true;
}

void MainWindow::ShowProgress(std::uint32_t percent, std::uint32_t) {
    bar_->setValue(static_cast<int>(percent));
}

void MainWindow::CloseProgress() {
    progressPanel_->hide();
    adjustSize();  // the panel's room goes with it
}

void MainWindow::BringToFront() {
    raise();
    activateWindow();
}

void MainWindow::ShowUpdateEnded() {
    for (QLabel* box : updatedBox_) {
        box->setEnabled(false);
    }
    cancel_->setText(Text(kIdsClose, language_));
    cancel_->setFocus();
}

}  // namespace talvo::qt
