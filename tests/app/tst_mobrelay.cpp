#include "app/singleinstance.h"
#include "testhome.h"

#include <QDir>
#include <QLocalServer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QString logText(const TestHome &aHome)
{
    QFile file(aHome.filePath(u"Desktop/KVL/log.txt"_qs));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void startWindow(QProcess &aProcess, const TestHome &aHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_qs, aHome.path());
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    aProcess.setProcessEnvironment(env);
    aProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    aProcess.start(qEnvironmentVariable("MOBRELAY_BINARY_DIR") + u"/src/mobrelay"_qs, {});
}

// What a crashed window leaves: a socket file nobody listens on.
bool leaveStaleSocket(const QString &aName)
{
    const QByteArray path = QFile::encodeName(QDir::tempPath() + u"/"_qs + aName);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound && QFile::exists(QFile::decodeName(path));
}
} // namespace

class TestMobrelay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secondStartRaisesTheFirst();
    void staleNameIsTakenOver();
};

void TestMobrelay::secondStartRaisesTheFirst()
{
    TestHome home;
    QVERIFY(QDir().mkpath(home.filePath(u"Desktop/KVL"_qs)));
    QProcess first;
    startWindow(first, home);
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(logText(home).contains(u">> SyncUi::SyncUi"_qs), 30000);
    const QString firstLog = logText(home);
    QVERIFY(firstLog.contains(u"    VARUZ LOG\r\n"_qs));
    QVERIFY(firstLog.contains(u"argc = 1"_qs));

    QProcess second;
    startWindow(second, home);
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(logText(home).contains(u">> SyncUi::raiseWindow"_qs), 10000);
    QVERIFY(logText(home).startsWith(firstLog));

    // Waiting for a library that is not there is no reason to stay open.
    QCOMPARE(::kill(pid_t(first.processId()), SIGTERM), 0);
    QVERIFY(first.waitForFinished(15000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(logText(home).contains(u"App is not busy - exit now"_qs));
}

void TestMobrelay::staleNameIsTakenOver()
{
    const QString name = u"mobrelay-test-%1"_qs.arg(QCoreApplication::applicationPid());
    QVERIFY(leaveStaleSocket(name));
    SingleInstance first(name);
    QVERIFY(first.claim());
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);
    SingleInstance second(name);
    QVERIFY(!second.claim());
    QVERIFY(raised.wait(5000));
    QLocalServer::removeServer(name);
}

QTEST_GUILESS_MAIN(TestMobrelay)
#include "tst_mobrelay.moc"
