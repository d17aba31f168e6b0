#include "sync/logindpowerinhibitor.h"
#include "testhome.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <atomic>
#include <poll.h>
#include <unistd.h>

namespace {

const QString BusName = QStringLiteral("mobrelay-test-bus");
const QString ServiceBusName = QStringLiteral("mobrelay-test-service");

// Stands in for systemd-logind on a private bus: hands out the write end of a
// pipe, so the test sees the lock end when every copy of it is closed.
class FakeLogind : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogind() override
    {
        if (mReadEnd >= 0)
            ::close(mReadEnd);
    }
    bool lockEnded(int aWaitMs) const
    {
        pollfd fd{mReadEnd, POLLIN, 0};
        return ::poll(&fd, 1, aWaitMs) > 0 && (fd.revents & POLLHUP);
    }
    std::atomic<bool> mRefuse = false;

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString &, const QString &, const QString &,
                                    const QString &)
    {
        int ends[2];
        if (mRefuse || ::pipe(ends) != 0) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied"));
            return {};
        }
        if (mReadEnd >= 0)
            ::close(mReadEnd);
        mReadEnd = ends[0];
        QDBusUnixFileDescriptor result(ends[1]);
        ::close(ends[1]);
        return result;
    }

private:
    std::atomic<int> mReadEnd = -1;
};

} // namespace

class TestPowerInhibitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void systemBusFailsSoftly();
    void privateBus();
    void cleanupTestCase();

private:
    TestHome mHome;
    QProcess mDaemon;
    QThread mServiceThread;
};

void TestPowerInhibitor::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(BusName);
    QDBusConnection::disconnectFromBus(ServiceBusName);
    mServiceThread.quit();
    mServiceThread.wait();
    if (mDaemon.state() != QProcess::NotRunning) {
        mDaemon.kill();
        mDaemon.waitForFinished();
    }
}

// Whatever the machine offers, a missing or refusing bus is a log line, not a failure.
void TestPowerInhibitor::systemBusFailsSoftly()
{
    const QString log = mHome.enableLog();
    LogindPowerInhibitor inhibitor;
    const bool held = inhibitor.acquire();
    QCOMPARE(inhibitor.isHeld(), held);
    inhibitor.release();
    QVERIFY(!inhibitor.isHeld());
    mHome.disableLog();
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains(held ? "Keeping the machine awake"
                                         : "Cannot keep the machine awake"));
}

void TestPowerInhibitor::privateBus()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is needed for a private bus (Debian package dbus-daemon)");
    const QString config = mHome.filePath(QStringLiteral("bus.conf"));
    QFile f(config);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir=" +
            QFile::encodeName(mHome.path()) +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n");
    f.close();
    mDaemon.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    QVERIFY(mDaemon.waitForStarted() && mDaemon.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(mDaemon.readLine()).trimmed();
    QVERIFY(QDBusConnection::connectToBus(address, BusName).isConnected());
    QDBusConnection service = QDBusConnection::connectToBus(address, ServiceBusName);
    // The inhibitor blocks its thread while it waits, so the fake answers from another.
    auto *logind = new FakeLogind;
    logind->moveToThread(&mServiceThread);
    connect(&mServiceThread, &QThread::finished, logind, &QObject::deleteLater);
    mServiceThread.start();
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/login1"), logind,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));

    LogindPowerInhibitor inhibitor(BusName);
    QVERIFY2(inhibitor.acquire(), qPrintable(inhibitor.lastError()));
    QVERIFY(inhibitor.acquire());
    QVERIFY(!logind->lockEnded(100));
    inhibitor.release();
    QVERIFY(!inhibitor.isHeld());
    QVERIFY(logind->lockEnded(5000));
    {
        LogindPowerInhibitor dropped(BusName);
        QVERIFY(dropped.acquire());
        QVERIFY(!logind->lockEnded(100));
    }
    QVERIFY(logind->lockEnded(5000));

    logind->mRefuse = true;
    QVERIFY(!inhibitor.acquire());
    QVERIFY(!inhibitor.isHeld());
    QVERIFY(!inhibitor.lastError().isEmpty());
}

QTEST_GUILESS_MAIN(TestPowerInhibitor)
#include "tst_powerinhibitor.moc"
