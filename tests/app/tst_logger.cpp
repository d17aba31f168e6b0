#include "app/logger.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool hasStamp(const QByteArray &aLine)
{
    static const QRegularExpression stamp(
        QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d:\\d\\d\\d$"));
    return stamp.match(QString::fromLatin1(aLine.left(12))).hasMatch();
}

using Write = std::function<void(Logger &)>;

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { mHome = std::make_unique<TestHome>(); }
    void cleanup() { mHome.reset(); }
    void noFolderMeansNoFile();
    void lineForms_data();
    void lineForms();
    void linesOfTwoThreadsStayWhole();
    void dumpCopiesFileByteForByte();

private:
    std::unique_ptr<TestHome> mHome;
};

void TestLogger::noFolderMeansNoFile()
{
    QDir(mHome->path()).mkdir(QStringLiteral("Desktop"));
    Logger &log = Logger::instance();
    log.openDefault();
    QVERIFY(!log.isOn());
    log.value("n", -6001);
    log.dumpFile(mHome->filePath(QStringLiteral("absent.xml")));
    {
        LogScope scope("A::c");
    }
    QVERIFY(QDir(mHome->filePath(QStringLiteral("Desktop")))
                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                .isEmpty());
}

void TestLogger::lineForms_data()
{
    QTest::addColumn<Write>("write");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("value of string")
        << Write([](Logger &l) { l.value("  mTrackName", QString::fromUtf8("Über 日本")); })
        << QByteArray("      mTrackName = \xc3\x9c"
                      "ber \xe6\x97\xa5\xe6\x9c\xac\r\n");
    QTest::newRow("null texts") << Write([](Logger &l) {
        l.text(static_cast<const char *>(nullptr));
        l.value("name", static_cast<const char *>(nullptr));
    }) << QByteArray("    \r\n    name = \r\n");
    QTest::newRow("scope with return") << Write([](Logger &) {
        LogScope scope("Device::UploadTrack");
        scope.ret(-6005);
    }) << QByteArray(">> Device::UploadTrack\r\n<< Device::UploadTrack\r\nReturns: -6005\r\n");
}

void TestLogger::lineForms()
{
    QFETCH(Write, write);
    QFETCH(QByteArray, expected);
    const QString path = mHome->enableLog();
    write(Logger::instance());
    QByteArray tails;
    for (const QByteArray &line : readAll(path).split('\n')) {
        if (line.isEmpty())
            continue;
        QVERIFY2(hasStamp(line), line.constData());
        tails += line.mid(12) + '\n';
    }
    QCOMPARE(tails, expected);
}

void TestLogger::linesOfTwoThreadsStayWhole()
{
    const QString path = mHome->enableLog();
    constexpr int PerThread = 3000;
    const auto writer = [](char aId) {
        const std::string name = std::string("thread") + aId;
        const std::string text(100, aId);
        for (int i = 0; i < PerThread; ++i)
            Logger::instance().value(name.c_str(), text + std::to_string(i));
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();

    QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), 2 * PerThread);
    static const QRegularExpression whole(
        QStringLiteral("^    thread(a = a{100}|b = b{100})\\d+\\r$"));
    for (const QByteArray &line : lines)
        QVERIFY2(hasStamp(line) && whole.match(QString::fromLatin1(line.mid(12))).hasMatch(),
                 line.constData());
}

void TestLogger::dumpCopiesFileByteForByte()
{
    const QString path = mHome->enableLog();
    QByteArray content;
    for (int i = 0; i < 200000; ++i)
        content.append(char(i * 7 % 256));
    const QString source = mHome->filePath(QString::fromUtf8("messages é.xml"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();

    Logger::instance().dumpFile(source);
    Logger::instance().enter("After::dump");
    const QByteArray written = readAll(path);
    const QByteArray expected = source.toUtf8() + content + "End-of-file\r\n";
    QVERIFY(hasStamp(written));
    QCOMPARE(written.mid(12, expected.size()), expected);
    const QByteArray next = written.mid(12 + expected.size());
    QVERIFY(hasStamp(next));
    QCOMPARE(next.mid(12), QByteArray(">> After::dump\r\n"));
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
