#include "sync/logindpowerinhibitor.h"

#include "core/logger.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

LogindPowerInhibitor::LogindPowerInhibitor() = default;

LogindPowerInhibitor::LogindPowerInhibitor(const QString &aConnectionName)
    : mConnectionName(aConnectionName)
{}

LogindPowerInhibitor::~LogindPowerInhibitor()
{
    release();
}

bool LogindPowerInhibitor::acquire()
{
    LogScope scope("LogindPowerInhibitor::acquire");
    if (isHeld())
        return true;
    mLastError.clear();

    const QDBusConnection bus =
        mConnectionName.isEmpty() ? QDBusConnection::systemBus() : QDBusConnection(mConnectionName);
    if (!bus.isConnected()) {
        const QString why = bus.lastError().message();
        return fail(QStringLiteral("no system bus") +
                    (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Mobrelay")
         << QStringLiteral("Synchronizing music") << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return fail(reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
    const QList<QVariant> values = reply.arguments();
    if (values.isEmpty() || !values.first().canConvert<QDBusUnixFileDescriptor>())
        return fail(QStringLiteral("unexpected reply ") + reply.signature());
    const auto lock = values.first().value<QDBusUnixFileDescriptor>();
    if (!lock.isValid())
        return fail(QStringLiteral("no file descriptor in the reply"));
    // Our own copy: the reply's copy is closed when the message goes away.
    mLockFd = ::fcntl(lock.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (mLockFd < 0)
        return fail(QStringLiteral("cannot keep the lock descriptor"));
    Logger::instance().text("Keeping the machine awake");
    return true;
}

void LogindPowerInhibitor::release()
{
    if (!isHeld())
        return;
    LogScope scope("LogindPowerInhibitor::release");
    ::close(mLockFd);
    mLockFd = -1;
    Logger::instance().text("The machine may sleep again");
}

bool LogindPowerInhibitor::fail(const QString &aReason)
{
    mLastError = aReason;
    Logger::instance().value("Cannot keep the machine awake", aReason);
    return false;
}
