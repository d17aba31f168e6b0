#include "app/logger.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTime>

#include <memory>
#include <string>
#include <thread>

namespace {

const QRegularExpression Stamp(QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d):(\\d\\d\\d)"));

QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Seconds since midnight of a log line's timestamp, or -1 when it is malformed.
int stampSeconds(const QByteArray &aLine)
{
    const QRegularExpressionMatch m = Stamp.match(QString::fromLatin1(aLine.left(12)));
    if (!m.hasMatch())
        return -1;
    const int h = m.captured(1).toInt();
    const int min = m.captured(2).toInt();
    const int s = m.captured(3).toInt();
    if (h > 23 || min > 59 || s > 59)
        return -1;
    return h * 3600 + min * 60 + s;
}

enum Form
{
    Enter,
    Leave,
    Returns,
    Text,
    QText,
    CharValue,
    IntValue,
    StdValue,
    BytesValue,
    QValue
};

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void noFolderMeansNoFileAndNoFailure();
    void lineForms_data();
    void lineForms();
    void nullTextsAreWrittenEmpty();
    void scopeWritesEntryExitAndReturn();
    void reopeningTruncates();
    void linesOfTwoThreadsStayWhole();
    void dumpOfMissingFileHasNoLineEnd();
    void dumpCopiesFileByteForByte();

private:
    std::unique_ptr<TestHome> mHome;
};

void TestLogger::init()
{
    mHome = std::make_unique<TestHome>();
}

void TestLogger::cleanup()
{
    mHome.reset();
}

void TestLogger::noFolderMeansNoFileAndNoFailure()
{
    QDir(mHome->path()).mkdir(QStringLiteral("Desktop"));
    Logger &log = Logger::instance();
    log.openDefault();
    QVERIFY(!log.isOn());
    log.enter("A::b");
    log.value("n", -6001);
    log.text(QStringLiteral("nothing"));
    log.dumpFile(mHome->filePath(QStringLiteral("absent.xml")));
    {
        LogScope scope("A::c");
    }
    QVERIFY(!QFileInfo::exists(mHome->filePath(QStringLiteral("Desktop/KVL"))));
    QCOMPARE(QDir(mHome->filePath(QStringLiteral("Desktop")))
                 .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

void TestLogger::lineForms_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("enter") << int(Enter) << QByteArray(">> TrackCache::open");
    QTest::newRow("leave") << int(Leave) << QByteArray("<< TrackCache::open");
    QTest::newRow("returns") << int(Returns) << QByteArray("Returns: -6001");
    QTest::newRow("text") << int(Text) << QByteArray("    Track already exists");
    QTest::newRow("string text") << int(QText) << QByteArray("    Caf\xc3\xa9 \xe2\x99\xab");
    QTest::newRow("value of text") << int(CharValue) << QByteArray("    mode = copy");
    QTest::newRow("value of -6001") << int(IntValue) << QByteArray("    code = -6001");
    QTest::newRow("value of std::string") << int(StdValue) << QByteArray("    raw = a\tb");
    QTest::newRow("value of bytes") << int(BytesValue) << QByteArray("    bytes = x\xff");
    QTest::newRow("value of string, indented name") << int(QValue)
                                                    << QByteArray("      mTrackName = \xc3\x9c"
                                                                  "ber \xe6\x97\xa5\xe6\x9c\xac");
}

void TestLogger::lineForms()
{
    QFETCH(int, form);
    QFETCH(QByteArray, expected);
    const QString path = mHome->enableLog();
    Logger &log = Logger::instance();
    QVERIFY(log.isOn());
    const int before = QTime::currentTime().msecsSinceStartOfDay() / 1000;
    switch (Form(form)) {
    case Enter:
        log.enter("TrackCache::open");
        break;
    case Leave:
        log.leave("TrackCache::open");
        break;
    case Returns:
        log.returns(-6001);
        break;
    case Text:
        log.text("Track already exists");
        break;
    case QText:
        log.text(QString::fromUtf8("Café ♫"));
        break;
    case CharValue:
        log.value("mode", "copy");
        break;
    case IntValue:
        log.value("code", -6001);
        break;
    case StdValue:
        log.value("raw", std::string("a\tb"));
        break;
    case BytesValue:
        log.value("bytes", QByteArray("x\xff"));
        break;
    case QValue:
        log.value("  mTrackName", QString::fromUtf8("Über 日本"));
        break;
    }
    const QByteArray written = readAll(path);
    QCOMPARE(written.mid(12), expected + "\r\n");
    const int seconds = stampSeconds(written);
    QVERIFY2(seconds >= 0, written.constData());
    QVERIFY((seconds - before + 86400) % 86400 <= 2);
}

void TestLogger::nullTextsAreWrittenEmpty()
{
    const QString path = mHome->enableLog();
    Logger &log = Logger::instance();
    log.text(static_cast<const char *>(nullptr));
    log.value("name", static_cast<const char *>(nullptr));
    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0].mid(12), QByteArray("    \r"));
    QCOMPARE(lines[1].mid(12), QByteArray("    name = \r"));
}

void TestLogger::scopeWritesEntryExitAndReturn()
{
    const QString path = mHome->enableLog();
    const auto traced = [](bool aFail) {
        LogScope scope("Device::UploadTrack");
        if (aFail)
            return scope.ret(-6005);
        return 0;
    };
    QCOMPARE(traced(true), -6005);
    traced(false);
    QList<QByteArray> tails;
    for (const QByteArray &line : readAll(path).split('\n')) {
        if (!line.isEmpty())
            tails.append(line.mid(12));
    }
    QCOMPARE(tails, (QList<QByteArray>{">> Device::UploadTrack\r", "<< Device::UploadTrack\r",
                                       "Returns: -6005\r", ">> Device::UploadTrack\r",
                                       "<< Device::UploadTrack\r"}));
}

void TestLogger::reopeningTruncates()
{
    const QString path = mHome->enableLog();
    Logger::instance().text("first run");
    QVERIFY(readAll(path).endsWith("first run\r\n"));
    mHome->enableLog();
    QCOMPARE(readAll(path), QByteArray());
    Logger::instance().text("second run");
    QVERIFY(!readAll(path).contains("first run"));
}

void TestLogger::linesOfTwoThreadsStayWhole()
{
    const QString path = mHome->enableLog();
    constexpr int PerThread = 3000;
    const auto writer = [](char aId) {
        const std::string name = std::string("thread") + aId;
        const std::string text(100, aId);
        for (int i = 0; i < PerThread; ++i) {
            Logger::instance().value(name.c_str(), text + std::to_string(i));
            Logger::instance().returns(i);
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();

    const QByteArray written = readAll(path);
    QList<QByteArray> lines = written.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), 4 * PerThread);
    static const QRegularExpression valueLine(
        QStringLiteral("^    thread([ab]) = (a{100}|b{100})(\\d+)\\r$"));
    static const QRegularExpression returnsLine(QStringLiteral("^Returns: \\d+\\r$"));
    int next[2] = {0, 0};
    for (const QByteArray &line : lines) {
        QVERIFY2(stampSeconds(line) >= 0, line.constData());
        const QString tail = QString::fromLatin1(line.mid(12));
        if (returnsLine.match(tail).hasMatch())
            continue;
        const QRegularExpressionMatch m = valueLine.match(tail);
        QVERIFY2(m.hasMatch(), line.constData());
        const int id = m.captured(1) == u"a" ? 0 : 1;
        QCOMPARE(m.captured(2).at(0), m.captured(1).at(0));
        QCOMPARE(m.captured(3).toInt(), next[id]++);
    }
    QCOMPARE(next[0], PerThread);
    QCOMPARE(next[1], PerThread);
}

void TestLogger::dumpOfMissingFileHasNoLineEnd()
{
    const QString path = mHome->enableLog();
    const QString missing = mHome->filePath(QString::fromUtf8("gone/exporté.xml"));
    Logger::instance().dumpFile(missing);
    Logger::instance().text("next");
    const QByteArray written = readAll(path);
    QVERIFY(stampSeconds(written) >= 0);
    const QByteArray afterStamp = written.mid(12);
    QVERIFY(afterStamp.startsWith(missing.toUtf8()));
    const QByteArray rest = afterStamp.mid(missing.toUtf8().size());
    QVERIFY(stampSeconds(rest) >= 0);
    QCOMPARE(rest.mid(12), QByteArray("    next\r\n"));
}

void TestLogger::dumpCopiesFileByteForByte()
{
    const QString path = mHome->enableLog();
    QByteArray content;
    for (int i = 0; i < 200000; ++i)
        content.append(char(i * 7 % 256));
    content.append("\r\nlast line without end");
    const QString source = mHome->filePath(QString::fromUtf8("messages é.xml"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();

    Logger::instance().dumpFile(source);
    Logger::instance().enter("After::dump");
    const QByteArray written = readAll(path);
    QVERIFY(stampSeconds(written) >= 0);
    const QByteArray expected = source.toUtf8() + content + "End-of-file\r\n";
    QCOMPARE(written.mid(12, expected.size()), expected);
    const QByteArray next = written.mid(12 + expected.size());
    QVERIFY(stampSeconds(next) >= 0);
    QCOMPARE(next.mid(12), QByteArray(">> After::dump\r\n"));
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
