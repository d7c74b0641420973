// Figures of the desktop program under the offscreen platform, printed,
// never asserted: time from process start to the first painted window (the
// agreement) and to the painted main window, CPU while the window is idle
// with no device attached (the watcher's 200 ms probes of the system's HID
// devices included), and peak resident memory.
//
// The program starts itself again as the measured process, so that the
// start-up time includes loading the program and its libraries.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "programs/talvo-updater/dialogs.h"
#include "programs/talvo-updater/main_window.h"
#include "programs/talvo-updater/sleep_inhibitor.h"
#include "hid/hid_platform.h"
#include "shell/version_block.h"

extern char** environ;

namespace {

constexpr int kIdleSeconds = 10;

std::int64_t NowNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Notes the time of the first paint of a widget.
class FirstPaint final : public QObject {
  public:
    std::int64_t at = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && at == 0) {
            at = NowNs(CLOCK_MONOTONIC);
        }
        return QObject::eventFilter(watched, event);
    }
};

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

int Child(std::int64_t spawnedAt, int argc, char** argv) {
    using namespace talvo;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    AppData app;
    ReadVersionBlock(app);

    FirstPaint agreementPaint;
    FirstPaint windowPaint;
    qt::LogindInhibitor inhibitor(QStringLiteral("benchmark"), QStringLiteral("idle"));
    qt::MainWindow window(app, inhibitor, HidPlatform::Native());
    window.installEventFilter(&windowPaint);
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<qt::AgreementDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            std::fprintf(stderr, "no agreement dialog\n");
            std::exit(1);
        }
        dialog->installEventFilter(&agreementPaint);
        WaitUntil([&] { return agreementPaint.at != 0; }, 5000);
        dialog->AcceptButton()->click();
        dialog->OkButton()->click();
    });
    if (window.Start(true) != 0) {
        std::fprintf(stderr, "the window did not start\n");
        return 1;
    }
    WaitUntil([&] { return windowPaint.at != 0; }, 5000);
    // Settle: the watcher's first report and the message it brings.
    WaitUntil([] { return false; }, 1000);

    const std::int64_t cpu0 = NowNs(CLOCK_PROCESS_CPUTIME_ID);
    const std::int64_t wall0 = NowNs(CLOCK_MONOTONIC);
    QTimer::singleShot(kIdleSeconds * 1000, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const std::int64_t cpu = NowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const std::int64_t wall = NowNs(CLOCK_MONOTONIC) - wall0;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("start to first painted window (agreement): %.1f ms\n",
                (agreementPaint.at - spawnedAt) / 1e6);
    std::printf("start to painted main window (agreement accepted at once): %.1f ms\n",
                (windowPaint.at - spawnedAt) / 1e6);
    std::printf("idle CPU, no device, over %.1f s: %.3f %% of one core (%.1f ms CPU)\n", wall / 1e9,
                100.0 * static_cast<double>(cpu) / static_cast<double>(wall), cpu / 1e6);
    std::printf("peak resident memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    std::printf("message shown while idle: %d\n", window.MessageId());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        return Child(std::strtoll(argv[2], nullptr, 10), argc, argv);
    }
    const std::string spawnedAt = std::to_string(NowNs(CLOCK_MONOTONIC));
    char child[] = "--child";
    char* args[] = {argv[0], child, const_cast<char*>(spawnedAt.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0) {
        std::perror("posix_spawn");
        return 1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
