#include "sync/fakepowerinhibitor.h"
#include "sync/logindpowerinhibitor.h"
#include "testhome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

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
    void setRefuse(bool aRefuse)
    {
        QMutexLocker lock(&mMutex);
        mRefuse = aRefuse;
    }
    QStringList lastArguments()
    {
        QMutexLocker lock(&mMutex);
        return mArguments;
    }
    int calls()
    {
        QMutexLocker lock(&mMutex);
        return mCalls;
    }
    // True when no process holds the lock any more.
    bool lockEnded(int aWaitMs)
    {
        QMutexLocker lock(&mMutex);
        pollfd fd{mReadEnd, POLLIN, 0};
        return ::poll(&fd, 1, aWaitMs) > 0 && (fd.revents & POLLHUP);
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString &aWhat, const QString &aWho, const QString &aWhy,
                                    const QString &aMode)
    {
        QMutexLocker lock(&mMutex);
        ++mCalls;
        mArguments = {aWhat, aWho, aWhy, aMode};
        if (mRefuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied"));
            return {};
        }
        int ends[2];
        if (::pipe(ends) != 0)
            return {};
        if (mReadEnd >= 0)
            ::close(mReadEnd);
        mReadEnd = ends[0];
        QDBusUnixFileDescriptor result(ends[1]);
        ::close(ends[1]);
        return result;
    }

private:
    QMutex mMutex;
    bool mRefuse = false;
    int mCalls = 0;
    int mReadEnd = -1;
    QStringList mArguments;
};

} // namespace

class TestPowerInhibitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void systemBusFailsSoftly();
    void holdsLockUntilRelease();
    void refusals_data();
    void refusals();
    void fakeCounts();
    void cleanupTestCase();

private:
    bool startPrivateBus();
    static QByteArray readLog(const QString &aPath);

    TestHome mHome;
    QProcess mDaemon;
    QThread mServiceThread;
    FakeLogind *mLogind = nullptr;
};

QByteArray TestPowerInhibitor::readLog(const QString &aPath)
{
    QFile f(aPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TestPowerInhibitor::startPrivateBus()
{
    if (mLogind)
        return true;
    const QString config = mHome.filePath(QStringLiteral("bus.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly))
        return false;
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
    if (!mDaemon.waitForStarted() || !mDaemon.waitForReadyRead(10000))
        return false;
    const QString address = QString::fromUtf8(mDaemon.readLine()).trimmed();
    QDBusConnection client = QDBusConnection::connectToBus(address, BusName);
    QDBusConnection service = QDBusConnection::connectToBus(address, ServiceBusName);
    if (!client.isConnected() || !service.isConnected())
        return false;
    // The inhibitor blocks its thread while it waits, so the fake answers from another.
    mLogind = new FakeLogind;
    mLogind->moveToThread(&mServiceThread);
    connect(&mServiceThread, &QThread::finished, mLogind, &QObject::deleteLater);
    mServiceThread.start();
    return service.registerObject(QStringLiteral("/org/freedesktop/login1"), mLogind,
                                  QDBusConnection::ExportAllSlots) &&
           service.registerService(QStringLiteral("org.freedesktop.login1"));
}

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

void TestPowerInhibitor::systemBusFailsSoftly()
{
    const QString log = mHome.enableLog();
    LogindPowerInhibitor inhibitor;
    const bool held = inhibitor.acquire();
    QCOMPARE(inhibitor.isHeld(), held);
    QCOMPARE(inhibitor.lastError().isEmpty(), held);
    inhibitor.release();
    QVERIFY(!inhibitor.isHeld());
    mHome.disableLog();
    const QByteArray text = readLog(log);
    QVERIFY2(text.contains(held ? "Keeping the machine awake" : "Cannot keep the machine awake"),
             text.constData());
}

void TestPowerInhibitor::holdsLockUntilRelease()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is needed for a private bus (Debian package dbus-daemon)");
    QVERIFY(startPrivateBus());
    mLogind->setRefuse(false);
    const int callsBefore = mLogind->calls();

    LogindPowerInhibitor inhibitor(BusName);
    QVERIFY2(inhibitor.acquire(), qPrintable(inhibitor.lastError()));
    QVERIFY(inhibitor.isHeld());
    QVERIFY(inhibitor.acquire());
    QCOMPARE(mLogind->calls(), callsBefore + 1);
    QCOMPARE(mLogind->lastArguments(), QStringList({u"sleep:idle"_qs, u"Mobrelay"_qs,
                                                    u"Synchronizing music"_qs, u"block"_qs}));
    QVERIFY(!mLogind->lockEnded(100));

    inhibitor.release();
    QVERIFY(!inhibitor.isHeld());
    QVERIFY(mLogind->lockEnded(5000));
    inhibitor.release();

    {
        LogindPowerInhibitor dropped(BusName);
        QVERIFY(dropped.acquire());
        QVERIFY(!mLogind->lockEnded(100));
    }
    QVERIFY(mLogind->lockEnded(5000));
}

void TestPowerInhibitor::refusals_data()
{
    QTest::addColumn<bool>("serviceRunning");
    QTest::addColumn<QString>("error");
    QTest::newRow("logind refuses") << true << u"AccessDenied"_qs;
    QTest::newRow("no logind on the bus") << false << u"ServiceUnknown"_qs;
}

void TestPowerInhibitor::refusals()
{
    QFETCH(bool, serviceRunning);
    QFETCH(QString, error);
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is needed for a private bus (Debian package dbus-daemon)");
    QVERIFY(startPrivateBus());
    mLogind->setRefuse(true);
    QDBusConnection service(ServiceBusName);
    if (!serviceRunning)
        QVERIFY(service.unregisterService(QStringLiteral("org.freedesktop.login1")));
    const QString log = mHome.enableLog();

    LogindPowerInhibitor inhibitor(BusName);
    QVERIFY(!inhibitor.acquire());
    QVERIFY(!inhibitor.isHeld());
    QVERIFY2(inhibitor.lastError().contains(error), qPrintable(inhibitor.lastError()));
    mHome.disableLog();
    QVERIFY(readLog(log).contains("Cannot keep the machine awake"));
    if (!serviceRunning)
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));
    mLogind->setRefuse(false);
}

void TestPowerInhibitor::fakeCounts()
{
    FakePowerInhibitor fake;
    QVERIFY(fake.acquire());
    QVERIFY(fake.isHeld());
    fake.release();
    QVERIFY(!fake.isHeld());
    fake.setFailAcquire(true);
    QVERIFY(!fake.acquire());
    QVERIFY(!fake.isHeld());
    fake.release();
    QCOMPARE(fake.acquireCount(), 2);
    QCOMPARE(fake.releaseCount(), 2);
}

QTEST_GUILESS_MAIN(TestPowerInhibitor)
#include "tst_powerinhibitor.moc"
