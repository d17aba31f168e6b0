#include "sync/mp3converter.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

QStringList words(const QString &aText)
{
    return aText.split(u' ');
}

bool runFfmpeg(const QStringList &aArguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(u"ffmpeg"_qs, words(u"-nostdin -loglevel error -y"_qs) + aArguments);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray readAll(const QString &aPath)
{
    QFile f(aPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestMp3Converter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void bitRate();
    void convertsWithTagsAndCover();
    void failures_data();
    void failures();

private:
    QString script(const QString &aName, const QByteArray &aBody);

    TestHome mHome;
    QString mWork;
};

QString TestMp3Converter::script(const QString &aName, const QByteArray &aBody)
{
    const QString path = mWork + u'/' + aName;
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write("#!/bin/sh\n" + aBody + "\n");
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
    return path;
}

void TestMp3Converter::initTestCase()
{
    if (QStandardPaths::findExecutable(u"ffmpeg"_qs).isEmpty() ||
        QStandardPaths::findExecutable(u"ffprobe"_qs).isEmpty())
        QSKIP("ffmpeg and ffprobe are needed (Debian package ffmpeg, see scripts/install-deps)");
    mWork = mHome.filePath(u"work"_qs);
    QVERIFY(QDir().mkpath(mWork));
    QDir::setCurrent(mWork);
    QVERIFY(runFfmpeg(words(u"-f lavfi -i sine=frequency=440:duration=1 -c:a aac -b:a 32k"_qs) +
                      QStringList{u"-metadata"_qs, u"title=Tïtle \"quoted\""_qs, u"-metadata"_qs,
                                  u"album=Album – 日本"_qs, u"base.m4a"_qs}));
    QVERIFY(runFfmpeg(words(u"-f lavfi -i testsrc=size=64x48 -frames:v 1 cover.jpg"_qs)));
    QVERIFY(runFfmpeg(words(u"-i base.m4a -i cover.jpg -map 0 -map 1 -c copy "
                            "-disposition:v attached_pic cover.m4a"_qs)));
}

void TestMp3Converter::bitRate()
{
    QCOMPARE(Mp3Converter::effectiveBitRate(0), 192);
    QCOMPARE(Mp3Converter::effectiveBitRate(128), 128);
    QCOMPARE(Mp3Converter::effectiveBitRate(8), 32);
    QCOMPARE(Mp3Converter::effectiveBitRate(1000), 320);
}

// Each name is one argument: no quoting, shell or option parsing may touch it.
void TestMp3Converter::convertsWithTagsAndCover()
{
    const QString name = u"-y It's \"quoted\" $(touch x) pipe:1 Ünï 日本 ♫.m4a"_qs;
    const QString folder = mWork + u"/in dir 'x'"_qs;
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + u'/' + name;
    QVERIFY(QFile::copy(mWork + u"/cover.m4a"_qs, source));
    const QString output = source + u" out.mp3"_qs;

    Mp3Converter converter;
    QVERIFY2(converter.convert(source, output, 128), qPrintable(converter.lastError()));
    QCOMPARE(readAll(output).left(4), QByteArray("ID3\x03", 4));

    QProcess probe;
    probe.start(u"ffprobe"_qs, words(u"-v error -show_format -show_streams -of json"_qs) +
                                   QStringList{u"file:"_qs + output});
    QVERIFY(probe.waitForFinished(60000) && probe.exitCode() == 0);
    const QJsonObject info = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    const QJsonObject tags = info[u"format"_qs][u"tags"_qs].toObject();
    QCOMPARE(tags[u"title"_qs].toString(), u"Tïtle \"quoted\""_qs);
    QCOMPARE(tags[u"album"_qs].toString(), u"Album – 日本"_qs);
    const QJsonArray streams = info[u"streams"_qs].toArray();
    QCOMPARE(streams.size(), 2);
    QCOMPARE(streams[0][u"codec_name"_qs].toString(), u"mp3"_qs);
    QCOMPARE(streams[0][u"bit_rate"_qs].toString().toInt(), 128000);
    QCOMPARE(streams[1][u"disposition"_qs][u"attached_pic"_qs].toInt(), 1);
    // The picture must arrive byte for byte, not re-encoded.
    const QString extracted = folder + u"/extracted.jpg"_qs;
    QVERIFY(runFfmpeg({u"-i"_qs, u"file:"_qs + output, u"-map"_qs, u"0:v"_qs, u"-c"_qs, u"copy"_qs,
                       u"-f"_qs, u"image2"_qs, extracted}));
    QCOMPARE(readAll(extracted), readAll(mWork + u"/cover.jpg"_qs));
}

void TestMp3Converter::failures_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("sourceBytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("corrupt input") << QString() << QByteArray(4096, 'x') << u"exited with code"_qs;
    QTest::newRow("missing input") << QString() << QByteArray() << u"does not exist"_qs;
    QTest::newRow("missing program")
        << u"/nonexistent/ffmpeg"_qs << QByteArray(16, 'x') << u"cannot start"_qs;
    QTest::newRow("partial output, non-zero exit")
        << u"partial.sh"_qs << QByteArray(16, 'x') << u"exited with code 1"_qs;
    QTest::newRow("no output, zero exit")
        << u"true"_qs << QByteArray(16, 'x') << u"wrote no output"_qs;
    QTest::newRow("cancelled") << u"slow.sh"_qs << QByteArray(16, 'x') << u"cancelled"_qs;
}

// A failed conversion leaves no output, not even an earlier one, so nothing is uploaded.
void TestMp3Converter::failures()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, sourceBytes);
    QFETCH(QString, reason);
    const QString source = mWork + u"/broken input.m4a"_qs;
    QFile::remove(source);
    QFile input(source);
    if (!sourceBytes.isEmpty())
        QVERIFY(input.open(QIODevice::WriteOnly) && input.write(sourceBytes) > 0);
    input.close();
    const QString output = mWork + u"/stale.mp3"_qs;
    QFile stale(output);
    QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("an earlier conversion") > 0);
    stale.close();
    Mp3Converter converter;
    if (program == u"partial.sh")
        program =
            script(program, "for a; do last=$a; done; printf half > \"${last#file:}\"; exit 1");
    if (program == u"slow.sh") {
        program = script(program, "exec sleep 30");
        converter.setCancelCheck([] { return true; });
    }
    if (!program.isEmpty())
        converter.setProgram(program);

    QVERIFY(!converter.convert(source, output, 192));
    QVERIFY2(converter.lastError().contains(reason), qPrintable(converter.lastError()));
    QVERIFY(!QFile::exists(output));
}

QTEST_GUILESS_MAIN(TestMp3Converter)
#include "tst_mp3converter.moc"
