#include "core/logger.h"
#include "testhome.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

static QByteArray unstamped(const QString &aPath)
{
    static const QRegularExpression stamp(u"^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d:\\d\\d\\d$"_qs);
    QFile file(aPath);
    QByteArray result;
    for (const QByteArray &line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>())
        result += line.isEmpty() ? QByteArray()
                  : stamp.match(QString::fromLatin1(line.left(12))).hasMatch()
                      ? QByteArray(line.mid(12) + '\n')
                      : QByteArray("no stamp: " + line + '\n');
    return result;
}

using Write = std::function<void(Logger &)>;

class TestLogger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noFolderMeansNoFile();
    void lineForms_data();
    void lineForms();
    void linesOfTwoThreadsStayWhole();
    void fileOfAnotherProgramIsLeftAlone();
};

void TestLogger::noFolderMeansNoFile()
{
    TestHome home;
    QVERIFY(QDir(home.path()).mkdir(u"Desktop"_qs));
    Logger::instance().openDefault();
    LogScope("A::c").ret(1);
    QVERIFY(QDir(home.filePath(u"Desktop"_qs)).isEmpty());
}

void TestLogger::lineForms_data()
{
    QTest::addColumn<Write>("write");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("value of string")
        << Write([](Logger &l) { l.value("  mTrackName", QString::fromUtf8("Über 日本")); })
        << QByteArray("      mTrackName = \xc3\x9c"
                      "ber \xe6\x97\xa5\xe6\x9c\xac\r\n");
    QTest::newRow("scope with return")
        << Write([](Logger &) { LogScope("Device::UploadTrack").ret(-6005); })
        << QByteArray(">> Device::UploadTrack\r\n<< Device::UploadTrack\r\nReturns: -6005\r\n");
}

void TestLogger::lineForms()
{
    QFETCH(Write, write);
    TestHome home;
    const QString path = home.enableLog();
    write(Logger::instance());
    QTEST(unstamped(path), "expected");
}

void TestLogger::linesOfTwoThreadsStayWhole()
{
    TestHome home;
    const QString path = home.enableLog();
    constexpr int PerThread = 3000;
    const auto writer = [](char aId) {
        for (int i = 0; i < PerThread; ++i)
            Logger::instance().value(aId == 'a' ? "threada" : "threadb",
                                     std::string(100, aId) + std::to_string(i));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const QList<QByteArray> lines = unstamped(path).split('\n');
    QCOMPARE(lines.size(), 2 * PerThread + 1);
    static const QRegularExpression whole(u"^    thread(a = a{100}|b = b{100})\\d+\\r$"_qs);
    for (const QByteArray &line : lines.first(2 * PerThread))
        QVERIFY2(whole.match(QString::fromLatin1(line)).hasMatch(), line.constData());
}

void TestLogger::fileOfAnotherProgramIsLeftAlone()
{
    TestHome home;
    const QString path = home.enableLog();
    Logger::instance().text("earlier");
    Logger::instance().close();
    const QByteArray before = unstamped(path);
    const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(holder >= 0);
    QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
    Logger::instance().openDefault();
    Logger::instance().text("second program");
    QVERIFY(!Logger::instance().isOn());
    QCOMPARE(unstamped(path), before);
    ::close(holder);
    Logger::instance().openDefault();
    QVERIFY(Logger::instance().isOn());
    QCOMPARE(unstamped(path), QByteArray());
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
