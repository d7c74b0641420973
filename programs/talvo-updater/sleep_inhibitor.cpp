#include "programs/talvo-updater/sleep_inhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

namespace talvo::qt {

namespace {
// A logind that does not answer in this time is taken as absent: the update
// must not wait for it.
constexpr int kCallTimeoutMs = 2000;
}  // namespace

bool LogindInhibitor::Begin() {
    if (fd_ >= 0) {
        return true;
    }
    if (Inhibit()) {
        return true;
    }
    if (!failureSaid_ && !failureNote_.isEmpty()) {
        failureSaid_ = true;
        std::fprintf(stderr, "talvo-updater: %s\n", failureNote_.toUtf8().constData());
    }
    return false;
}

bool LogindInhibitor::Inhibit() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << who_ << why_ << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    const auto descriptor = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) {
        return false;
    }
    // The reply's descriptor closes with the message: keep a copy of our own.
    fd_ = fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    return fd_ >= 0;
}

void LogindInhibitor::End() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace talvo::qt
