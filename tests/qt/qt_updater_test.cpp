// The desktop program's window against an emulated TALVO in this process,
// under the offscreen platform: the whole path, a failed update, the device
// leaving while the confirmation box is open, the agreement's default, and
// a second instance. The run leaves screenshots of the main states.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "programs/talvo-updater/dialogs.h"
#include "programs/talvo-updater/main_window.h"
#include "programs/talvo-updater/sleep_inhibitor.h"
#include "programs/talvo-updater/qt_text.h"
#include "programs/talvo-updater/updater_run.h"
#include "shell/version_block.h"
#include "base/clock.h"
#include "emulator/emulated_setup.h"
#include "hid/emulated_bus.h"
#include "hid/talvo_ids.h"
#include "resources/resource_ids.h"
#include "shell/platform.h"

namespace talvo::qt {
namespace {

constexpr double kSpeedup = 50.0;
const char* const kLanguageNames[] = {"en", "ja", "zh"};

// Sees what the window asks of the system's sleep.
class RecordingInhibitor final : public IKeepAwake {
  public:
    bool Begin() override {
        ++acquired;
        held = true;
        return true;
    }
    void End() override { held = false; }
    int acquired = 0;
    bool held = false;
};

// Runs the event loop until `done` holds or `ms` of real time have passed.
bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Calls `act` with the first modal window of type W that comes up (from
// inside the modal loop that shows it).
template <class W>
void WhenModal(std::function<void(W*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* window = dynamic_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(window);
        }
    });
    timer->start();
}

// <name>.png, or <name>@2x.png and so on under a scale factor.
void Screenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(QStringLiteral(TALVO_SCREENSHOT_DIR));
    const qreal scale = widget->devicePixelRatioF();
    const QString suffix = scale > 1 ? QStringLiteral("@%1x").arg(scale) : QString();
    const QString path =
        QStringLiteral(TALVO_SCREENSHOT_DIR "/") + name + suffix + QStringLiteral(".png");
    EXPECT_TRUE(widget->grab().save(path)) << path.toStdString();
}

bool IsBoldRed(const QLabel* label) {
    return label->font().bold() &&
           label->palette().color(QPalette::WindowText) == QColor(255, 0, 0);
}

struct Rig {
    explicit Rig(const char* scenario, LanguageIndex language = kLanguageEnglish)
        : device(Scenario::Named(scenario), kSpeedup) {
        app.languageIndex = language;
        ReadVersionBlock(app);
        window = std::make_unique<MainWindow>(app, inhibitor, device.Platform());
        window->onQuit = [this](int code) { quitCode = code; };
    }
    ~Rig() { window.reset(); }  // before the device and its clock

    bool Ready() const { return window->StartButton()->isEnabled(); }

    EmulatedSetup device;
    AppData app;
    RecordingInhibitor inhibitor;
    std::unique_ptr<MainWindow> window;
    int quitCode = -1;
};

// The whole path in each language. Catches: the agreement letting OK through
// before "accept"; the display not following the device; progress that never
// reaches the bar or does not end at 100; the window closable (or Esc
// quitting) during the update; sleep not held during the run or left held
// after it; the outcome text, the Close label or the updated-version boxes
// left as they were.
class WholePath : public ::testing::TestWithParam<LanguageIndex> {};

TEST_P(WholePath, AgreementStartProgressSuccess) {
    const LanguageIndex language = GetParam();
    const QString tag = QString::fromLatin1(kLanguageNames[language]);
    Rig rig("absent", language);

    bool agreementSeen = false;
    WhenModal<AgreementDialog>([&](AgreementDialog* dialog) {
        agreementSeen = true;
        EXPECT_EQ(dialog->windowTitle(), Text(kIdsAgreementCaption, language));
        EXPECT_FALSE(dialog->OkButton()->isEnabled());
        EXPECT_FALSE(dialog->TextArea()->toPlainText().isEmpty());
        Screenshot(dialog, tag + QStringLiteral("-agreement"));
        dialog->AcceptButton()->click();
        EXPECT_TRUE(dialog->OkButton()->isEnabled());
        dialog->OkButton()->click();
    });
    ASSERT_EQ(rig.window->Start(), 0);
    EXPECT_TRUE(agreementSeen);

    // No device yet.
    ASSERT_TRUE(WaitFor([&] { return rig.window->MessageId() == kIdsConnectDevice; }));
    EXPECT_EQ(rig.window->MessageArea()->text(), Text(kIdsConnectDevice, language));
    EXPECT_TRUE(IsBoldRed(rig.window->MessageArea()));
    EXPECT_FALSE(rig.window->StartButton()->isEnabled());
    Screenshot(rig.window.get(), tag + QStringLiteral("-no-device"));

    rig.device.Talvo().PlugIn();
    ASSERT_TRUE(WaitFor([&] { return rig.Ready(); }));
    EXPECT_EQ(rig.window->MessageArea()->text(), Text(kIdsPressStart, language));
    EXPECT_EQ(rig.window->DeviceVersionBox(1)->text(), QStringLiteral("1.05"));
    EXPECT_EQ(rig.window->PackageVersionBox(1)->text(), QStringLiteral("1.07"));
    Screenshot(rig.window.get(), tag + QStringLiteral("-ready"));

    rig.window->StartButton()->click();
    ASSERT_EQ(rig.window->State(), MainDialogState::Updating);
    EXPECT_TRUE(rig.inhibitor.held);
    EXPECT_EQ(rig.window->MessageArea()->text(), Text(kIdsUpdating, language));
    EXPECT_FALSE(IsBoldRed(rig.window->MessageArea()));
    ASSERT_TRUE(WaitFor([&] { return rig.window->Bar()->value() > 0; }));
    // Catches the warning line cut: wrapped to two lines in a window sized
    // for one (the layout does not follow a label's height for its width).
    QCoreApplication::processEvents();
    const auto* warning = rig.window->ProgressPanel()->findChild<QLabel*>();
    ASSERT_NE(warning, nullptr);
    EXPECT_GE(warning->height(), warning->heightForWidth(warning->width()))
        << "the warning line is clipped";
    rig.window->close();
    QTest::keyClick(rig.window.get(), Qt::Key_Escape);
    EXPECT_EQ(rig.quitCode, -1) << "the window let itself be closed during the update";
    Screenshot(rig.window.get(), tag + QStringLiteral("-updating"));

    int lastBar = 0;
    bool barWentBack = false;
    ASSERT_TRUE(WaitFor([&] {
        const int bar = rig.window->Bar()->value();
        barWentBack = barWentBack || bar < lastBar;
        lastBar = bar;
        return rig.window->State() == MainDialogState::UpdateEnded;
    }));
    EXPECT_FALSE(barWentBack);
    EXPECT_EQ(rig.window->Bar()->value(), 100);
    EXPECT_FALSE(rig.window->ProgressPanel()->isVisible());
    EXPECT_EQ(rig.window->MessageArea()->text(), Text(kIdsUpdated, language));
    EXPECT_EQ(rig.window->CancelButton()->text(), Text(kIdsClose, language));
    EXPECT_TRUE(rig.window->CancelButton()->isEnabled());
    EXPECT_FALSE(rig.window->StartButton()->isEnabled());
    EXPECT_FALSE(rig.window->PackageVersionBox(1)->isEnabled());
    EXPECT_FALSE(rig.inhibitor.held) << "sleep is still held after the update";
    EXPECT_EQ(rig.inhibitor.acquired, 1);
    // The device comes back with the package's firmware.
    EXPECT_TRUE(
        WaitFor([&] { return rig.window->DeviceVersionBox(1)->text() == QStringLiteral("1.07"); }));
    Screenshot(rig.window.get(), tag + QStringLiteral("-updated"));

    QTest::keyClick(rig.window.get(), Qt::Key_Escape);
    EXPECT_EQ(rig.quitCode, 2);
}

INSTANTIATE_TEST_SUITE_P(Languages, WholePath,
                         ::testing::Values(kLanguageEnglish, kLanguageJapanese, kLanguageChinese),
                         [](const auto& p) { return std::string(kLanguageNames[p.param]); });

// Catches a failure shown as success (or not as the alert) and a window that
// stays unclosable after a failed run.
TEST(QtUpdater, FailedUpdateShowsTheFailureAndLetsTheWindowClose) {
    Rig rig("setinfo-error");
    ASSERT_EQ(rig.window->Start(false), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.Ready(); }));
    rig.window->StartButton()->click();
    ASSERT_TRUE(WaitFor([&] { return rig.window->State() == MainDialogState::UpdateEnded; }));
    EXPECT_EQ(rig.window->MessageId(), kIdsUpdateFailed);
    EXPECT_TRUE(IsBoldRed(rig.window->MessageArea()));
    EXPECT_EQ(rig.window->CancelButton()->text(), Text(kIdsClose, kLanguageEnglish));
    EXPECT_FALSE(rig.inhibitor.held);
    Screenshot(rig.window.get(), QStringLiteral("en-failed"));
    rig.window->close();
    EXPECT_EQ(rig.quitCode, 2);
}

// A bus with no TALVO on it whose platform reports a TALVO node that
// refuses this user, as hidraw does for a 0600 root node.
class RefusingPlatform final : public IHidPlatform {
  public:
    std::unique_ptr<IHidInterfaceList> ListInterfaces() override { return bus.ListInterfaces(); }
    std::vector<HidDeniedInterface> DeniedInterfaces(std::uint16_t vendorId) override {
        return {{"/dev/hidraw7", vendorId, kTalvoNormalProductId}};
    }
    EmulatedBus bus;
};

// Catches a TALVO the user may not open left as "Connect TALVO" with no word
// of why: the window must say so in the user's language and name the rule.
TEST(QtUpdater, TalvoTheUserMayNotOpenIsDiagnosedInTheWindow) {
    ScaledClock clock(kSpeedup);
    ScopedClock scopedClock(clock);
    RefusingPlatform platform;
    AppData app;
    app.languageIndex = kLanguageJapanese;
    ReadVersionBlock(app);
    RecordingInhibitor inhibitor;
    MainWindow window(app, inhibitor, platform);
    window.onQuit = [](int) {};
    ASSERT_EQ(window.Start(false), 0);
    ASSERT_TRUE(WaitFor([&] { return window.ProblemNote()->isVisible(); }));
    const QString note = window.ProblemNote()->text();
    EXPECT_TRUE(note.contains(QStringLiteral("70-talvo.rules")));
    EXPECT_TRUE(note.contains(QStringLiteral("/dev/hidraw7")));
    EXPECT_TRUE(note.startsWith(Text(kIdsNoAccess, kLanguageJapanese).left(10)));
    EXPECT_EQ(window.MessageId(), kIdsConnectDevice);
    EXPECT_FALSE(window.StartButton()->isEnabled());
    QCoreApplication::processEvents();  // the window grows to hold the note
    Screenshot(&window, QStringLiteral("ja-no-access"));
}

// Catches a window that, with two units attached, updates whichever it saw
// first: it says there are several, offers both by port, and Start updates
// the chosen one only.
TEST(QtUpdater, SeveralUnitsAreOfferedAndTheChosenOneIsUpdated) {
    ScaledClock clock(kSpeedup);
    ScopedClock scopedClock(clock);
    EmulatedBus bus;
    EmulatedBus port1(bus, EmulatedBus::PortName(1));
    EmulatedBus port2(bus, EmulatedBus::PortName(2));
    EmulatedTalvo unit1(port1, Scenario::Named("outdated"));
    EmulatedTalvo unit2(port2, Scenario::Named("outdated"));
    AppData app;
    app.languageIndex = kLanguageEnglish;
    ReadVersionBlock(app);
    RecordingInhibitor inhibitor;
    MainWindow window(app, inhibitor, bus);
    window.onQuit = [](int) {};
    ASSERT_EQ(window.Start(false), 0);
    ASSERT_TRUE(WaitFor([&] { return window.UnitChooser()->isVisible(); }));
    ASSERT_EQ(window.UnitChooser()->count(), 3);  // the prompt and the two units
    EXPECT_TRUE(window.UnitChooser()->itemText(2).startsWith(QStringLiteral("emulated-2")));
    EXPECT_EQ(window.MessageId(), kIdsSeveralUnits);
    EXPECT_FALSE(window.StartButton()->isEnabled());
    window.UnitChooser()->setCurrentIndex(2);
    emit window.UnitChooser()->activated(2);
    ASSERT_TRUE(WaitFor([&] { return window.StartButton()->isEnabled(); }));
    window.StartButton()->click();
    ASSERT_TRUE(WaitFor([&] { return window.State() == MainDialogState::UpdateEnded; }, 60000));
    EXPECT_EQ(window.MessageId(), kIdsUpdated);
    EXPECT_EQ(unit2.Version(1), "1.07");
    EXPECT_EQ(unit1.ImagesAccepted(), 0);
    EXPECT_EQ(unit1.Arrivals(), 1) << "the other unit was restarted";
    Screenshot(&window, QStringLiteral("en-two-units"));
}

// Catches a confirmation box left open after the device went, from which
// OK would start an update with no device.
TEST(QtUpdater, DeviceLeavingClosesTheConfirmationBox) {
    Rig rig("up-to-date");
    ASSERT_EQ(rig.window->Start(false), 0);
    ASSERT_TRUE(WaitFor([&] { return rig.Ready(); }));
    rig.window->StartButton()->click();
    QMessageBox* box = rig.window->ConfirmationBox();
    ASSERT_NE(box, nullptr) << "an update that is not needed started without asking";
    EXPECT_EQ(box->text(), Text(kIdsNoUpdateNeeded, kLanguageEnglish));
    EXPECT_EQ(box->windowTitle(), ProductTitle(kLanguageEnglish));
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->defaultButton()->text(), Text(kIdsCancel, kLanguageEnglish));

    rig.device.Talvo().Unplug();
    ASSERT_TRUE(WaitFor([&] { return rig.window->ConfirmationBox() == nullptr; }));
    EXPECT_EQ(rig.window->State(), MainDialogState::Idle);
    EXPECT_EQ(rig.window->MessageId(), kIdsConnectDevice);
    EXPECT_FALSE(rig.window->StartButton()->isEnabled());
    EXPECT_EQ(rig.inhibitor.acquired, 0);
}

// Catches Enter accepting the agreement unseen (OK as the default from the
// start) and OK staying enabled after "accept" was taken back.
TEST(QtUpdater, AgreementDefaultsToDecline) {
    Rig rig("current");
    WhenModal<AgreementDialog>([](AgreementDialog* dialog) {
        dialog->AcceptButton()->click();
        dialog->DeclineButton()->click();
        EXPECT_FALSE(dialog->OkButton()->isEnabled());
        EXPECT_TRUE(dialog->CancelButton()->isDefault());
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(rig.window->Start(), 2);
    EXPECT_FALSE(rig.window->isVisible());
}

// Catches a second run that opens its own window (two programs on one
// device) or says nothing, in the user's language.
TEST(QtUpdater, SecondInstanceSaysAlreadyRunningAndEnds) {
    std::optional<NamedMutex> first(std::in_place);
    ASSERT_EQ(first->Create(kInstanceLockName), NamedMutex::Result::Created);

    AppData app;
    app.languageIndex = kLanguageJapanese;
    RecordingInhibitor inhibitor;
    QString text;
    QString title;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        title = box->windowTitle();
        box->defaultButton()->click();
    });
    EXPECT_EQ(RunUpdater(UpdaterOptions{}, app, inhibitor), 0);
    EXPECT_EQ(text, Text(kIdsAlreadyRunning, kLanguageJapanese));
    EXPECT_EQ(title, ProductTitle(kLanguageJapanese));

    // The lock is the kernel's: it goes with its holder.
    first.reset();
    NamedMutex later;
    EXPECT_EQ(later.Create(kInstanceLockName), NamedMutex::Result::Created);
}

// A logind stand-in on a bus of the test's own: answers Inhibit with the
// write end of a pipe, so the read end shows whether anyone still holds it.
class FakeLogind final : public QDBusVirtualObject {
  public:
    FakeLogind() {
        int fds[2];
        if (pipe(fds) == 0) {
            readEnd = fds[0];
            writeEnd = fds[1];
        }
    }
    ~FakeLogind() override {
        close(readEnd);
        if (writeEnd >= 0) {
            close(writeEnd);
        }
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Inhibit")) {
            return false;
        }
        arguments = message.arguments();
        QDBusMessage reply =
            message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(writeEnd)));
        connection.send(reply);
        // Only the caller's copy is left.
        close(writeEnd);
        writeEnd = -1;
        return true;
    }
    // Whether some process still holds the write end (the block is on).
    bool Held() const {
        pollfd p{readEnd, POLLIN, 0};
        return poll(&p, 1, 0) == 0;
    }

    QVariantList arguments;
    int readEnd = -1;
    int writeEnd = -1;
};

// Catches a sleep block that ends as soon as it was granted (the reply's
// descriptor closed with the reply), one that outlives End, and a wrong
// kind of block asked for.
TEST(QtUpdater, LogindBlockIsHeldFromBeginToEnd) {
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000)) {
        GTEST_SKIP() << "no dbus-daemon here";
    }
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    {
        QDBusConnection service =
            QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
        ASSERT_TRUE(service.isConnected());
        FakeLogind logind;
        ASSERT_TRUE(
            service.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.login1")));
        // The inhibitor asks "the system bus": here the test's own.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

        LogindInhibitor inhibitor(QStringLiteral("TALVO FW-Updater"),
                                  QStringLiteral("Updating..."));
        // The stand-in answers through this thread's event loop, so the
        // blocking call is made from another thread meanwhile.
        std::atomic<int> acquired{-1};
        std::thread caller([&] { acquired = inhibitor.Begin() ? 1 : 0; });
        WaitFor([&] { return acquired.load() != -1; }, 10000);
        caller.join();
        ASSERT_EQ(acquired.load(), 1);
        ASSERT_EQ(logind.arguments.size(), 4);
        EXPECT_EQ(logind.arguments[0].toString(), QStringLiteral("sleep:idle"));
        EXPECT_EQ(logind.arguments[1].toString(), QStringLiteral("TALVO FW-Updater"));
        EXPECT_EQ(logind.arguments[3].toString(), QStringLiteral("block"));
        EXPECT_TRUE(WaitFor([&] { return logind.Held(); }, 1000));
        QTest::qWait(100);
        EXPECT_TRUE(logind.Held()) << "the block ended while the update would still run";
        inhibitor.End();
        EXPECT_FALSE(logind.Held()) << "the block outlived End";
        service.unregisterService(QStringLiteral("org.freedesktop.login1"));
        service.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    daemon.kill();
    daemon.waitForFinished(5000);
}

}  // namespace
}  // namespace talvo::qt

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A runtime directory of this run's own: its lock file is the test's.
    QByteArray runtime = QDir::tempPath().toUtf8() + "/talvo-qt-test-XXXXXX";
    if (mkdtemp(runtime.data()) != nullptr) {
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int result = RUN_ALL_TESTS();
    QDir(QString::fromUtf8(runtime)).removeRecursively();
    return result;
}
