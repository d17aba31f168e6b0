#include "sync/mp3converter.h"
#include "sync/track.h"
#include "testhome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class TestMp3Converter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void bitRate_data();
    void bitRate();
    void convertsWithTagsAndCover_data();
    void convertsWithTagsAndCover();
    void convertsTrackToTempFile();
    void failures_data();
    void failures();
    void cancelStopsConverter();

private:
    static bool runFfmpeg(const QStringList &aArguments);
    static QJsonObject probe(const QString &aPath);
    QString script(const QString &aName, const QByteArray &aBody);

    TestHome mHome;
    QString mWork;
};

bool TestMp3Converter::runFfmpeg(const QStringList &aArguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("ffmpeg"),
            QStringList{QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                        QStringLiteral("error"), QStringLiteral("-y")} +
                aArguments);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QJsonObject TestMp3Converter::probe(const QString &aPath)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_format"),
             QStringLiteral("-show_streams"), QStringLiteral("-of"), QStringLiteral("json"),
             QStringLiteral("file:") + aPath});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QString TestMp3Converter::script(const QString &aName, const QByteArray &aBody)
{
    const QString path = mWork + QLatin1Char('/') + aName;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + aBody + "\n");
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
    return path;
}

void TestMp3Converter::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        QSKIP("ffmpeg and ffprobe are needed (Debian package ffmpeg, see scripts/install-deps)");
    mWork = mHome.filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(mWork));
    const QString base = mWork + QStringLiteral("/base.m4a");
    QVERIFY(runFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("sine=frequency=440:duration=1"), QStringLiteral("-c:a"),
                       QStringLiteral("aac"), QStringLiteral("-b:a"), QStringLiteral("32k"),
                       QStringLiteral("-metadata"), QStringLiteral("title=Tïtle \"quoted\""),
                       QStringLiteral("-metadata"), QStringLiteral("artist=Ärtist"),
                       QStringLiteral("-metadata"), QStringLiteral("album=Album – 日本"),
                       QStringLiteral("-metadata"), QStringLiteral("track=3"), base}));
    for (const char *ext : {"png", "jpg"}) {
        const QString cover = mWork + QStringLiteral("/cover.") + QLatin1String(ext);
        QVERIFY(runFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("testsrc=size=64x48"), QStringLiteral("-frames:v"),
                           QStringLiteral("1"), cover}));
        QVERIFY(runFfmpeg(
            {QStringLiteral("-i"), base, QStringLiteral("-i"), cover, QStringLiteral("-map"),
             QStringLiteral("0"), QStringLiteral("-map"), QStringLiteral("1"), QStringLiteral("-c"),
             QStringLiteral("copy"), QStringLiteral("-disposition:v"),
             QStringLiteral("attached_pic"),
             mWork + QStringLiteral("/cover_") + QLatin1String(ext) + QStringLiteral(".m4a")}));
    }
}

void TestMp3Converter::bitRate_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("used");
    QTest::newRow("unset") << 0 << 192;
    QTest::newRow("negative") << -1 << 192;
    QTest::newRow("ordinary") << 128 << 128;
    QTest::newRow("too low") << 8 << 32;
    QTest::newRow("too high") << 1000 << 320;
}

void TestMp3Converter::bitRate()
{
    QFETCH(int, requested);
    QFETCH(int, used);
    QCOMPARE(Mp3Converter::effectiveBitRate(requested), used);
    const QStringList args =
        Mp3Converter::arguments(QStringLiteral("/a.m4a"), QStringLiteral("/b.mp3"), requested);
    const qsizetype at = args.indexOf(QStringLiteral("-b:a"));
    QVERIFY(at >= 0);
    QCOMPARE(args.value(at + 1), QString::number(used) + QLatin1Char('k'));
}

void TestMp3Converter::convertsWithTagsAndCover_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cover");
    QTest::addColumn<int>("bitRate");
    QTest::newRow("plain") << u"base.m4a"_qs << u"plain.m4a"_qs << QString() << 192;
    QTest::newRow("png cover") << u"cover_png.m4a"_qs << u"with png.m4a"_qs << u"cover.png"_qs
                               << 128;
    QTest::newRow("jpeg cover") << u"cover_jpg.m4a"_qs << u"with jpeg.m4a"_qs << u"cover.jpg"_qs
                                << 192;
    QTest::newRow("quotes") << u"base.m4a"_qs << u"It's \"quoted\" $(touch x) ;.m4a"_qs << QString()
                            << 192;
    QTest::newRow("non-ascii") << u"cover_png.m4a"_qs << u"Ünïcödé – 日本 ♫.m4a"_qs
                               << u"cover.png"_qs << 192;
    QTest::newRow("looks like a protocol")
        << u"base.m4a"_qs << u"pipe:1.m4a"_qs << QString() << 192;
    QTest::newRow("leading dash") << u"base.m4a"_qs << u"-y.m4a"_qs << QString() << 192;
}

void TestMp3Converter::convertsWithTagsAndCover()
{
    QFETCH(QString, input);
    QFETCH(QString, name);
    QFETCH(QString, cover);
    QFETCH(int, bitRate);
    const QString folder = mWork + QStringLiteral("/in dir 'x'");
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QLatin1Char('/') + name;
    QFile::remove(source);
    QVERIFY(QFile::copy(mWork + QLatin1Char('/') + input, source));
    const QString output = folder + QLatin1Char('/') + name + QStringLiteral(" out.mp3");

    Mp3Converter converter;
    QVERIFY2(converter.convert(source, output, bitRate), qPrintable(converter.lastError()));
    QVERIFY(converter.lastError().isEmpty());

    QFile out(output);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.read(4), QByteArray("ID3\x03", 4));
    out.close();

    const QJsonObject info = probe(output);
    const QJsonObject format = info.value(u"format"_qs).toObject();
    QCOMPARE(format.value(u"format_name"_qs).toString(), u"mp3"_qs);
    const QJsonObject tags = format.value(u"tags"_qs).toObject();
    QCOMPARE(tags.value(u"title"_qs).toString(), u"Tïtle \"quoted\""_qs);
    QCOMPARE(tags.value(u"artist"_qs).toString(), u"Ärtist"_qs);
    QCOMPARE(tags.value(u"album"_qs).toString(), u"Album – 日本"_qs);
    QCOMPARE(tags.value(u"track"_qs).toString(), u"3"_qs);

    const QJsonArray streams = info.value(u"streams"_qs).toArray();
    QCOMPARE(streams.size(), cover.isEmpty() ? 1 : 2);
    const QJsonObject audio = streams.at(0).toObject();
    QCOMPARE(audio.value(u"codec_name"_qs).toString(), u"mp3"_qs);
    QCOMPARE(audio.value(u"bit_rate"_qs).toString().toInt(), bitRate * 1000);
    if (cover.isEmpty())
        return;
    const QJsonObject picture = streams.at(1).toObject();
    QCOMPARE(picture.value(u"disposition"_qs).toObject().value(u"attached_pic"_qs).toInt(), 1);

    // The picture must arrive byte for byte, not re-encoded.
    const QString extracted = folder + QStringLiteral("/extracted.") + cover.section(u'.', -1);
    QVERIFY(
        runFfmpeg({QStringLiteral("-i"), QStringLiteral("file:") + output, QStringLiteral("-map"),
                   QStringLiteral("0:v"), QStringLiteral("-c"), QStringLiteral("copy"),
                   QStringLiteral("-f"), QStringLiteral("image2"), extracted}));
    QFile a(extracted), b(mWork + QLatin1Char('/') + cover);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), b.readAll());
}

void TestMp3Converter::convertsTrackToTempFile()
{
    Track track(u"Song"_qs, u"Album"_qs, u"Artist"_qs, 1, mWork + QStringLiteral("/base.m4a"), true,
                false, false, QString());
    track.mConvertToMp3 = true;
    track.mConversionBitRate = 0;
    QVERIFY(track.needsConversion());
    Mp3Converter converter;
    QVERIFY2(converter.convert(track), qPrintable(converter.lastError()));
    QCOMPARE(track.uploadSourcePath(), mHome.path() + QStringLiteral("/VARUZ/temp.mp3"));
    const QJsonObject info = probe(track.uploadSourcePath());
    const QJsonObject audio = info.value(u"streams"_qs).toArray().at(0).toObject();
    QCOMPARE(audio.value(u"bit_rate"_qs).toString().toInt(), Mp3Converter::DefaultBitRate * 1000);
}

void TestMp3Converter::failures_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("sourceBytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("corrupt input") << QString() << QByteArray(4096, 'x') << u"exited with code"_qs;
    QTest::newRow("empty input") << QString() << QByteArray() << u"exited with code"_qs;
    QTest::newRow("missing input") << QString() << QByteArray("-") << u"does not exist"_qs;
    QTest::newRow("missing program")
        << u"/nonexistent/ffmpeg"_qs << QByteArray(16, 'x') << u"cannot start"_qs;
    QTest::newRow("partial output, non-zero exit")
        << u"partial.sh"_qs << QByteArray(16, 'x') << u"exited with code 1"_qs;
    QTest::newRow("no output, zero exit")
        << u"silent.sh"_qs << QByteArray(16, 'x') << u"wrote no output"_qs;
}

void TestMp3Converter::failures()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, sourceBytes);
    QFETCH(QString, reason);
    const QString source = mWork + QStringLiteral("/broken input.m4a");
    QFile::remove(source);
    if (sourceBytes != "-") {
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(sourceBytes);
    }
    const QString output = mWork + QStringLiteral("/stale.mp3");
    {
        QFile stale(output);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("an earlier conversion");
    }
    Mp3Converter converter;
    if (program == u"partial.sh"_qs)
        program =
            script(program, "for a; do last=$a; done; printf half > \"${last#file:}\"; exit 1");
    else if (program == u"silent.sh"_qs)
        program = script(program, "exit 0");
    if (!program.isEmpty())
        converter.setProgram(program);

    QVERIFY(!converter.convert(source, output, 192));
    QVERIFY2(converter.lastError().contains(reason), qPrintable(converter.lastError()));
    QVERIFY(!QFile::exists(output));
}

void TestMp3Converter::cancelStopsConverter()
{
    Mp3Converter converter;
    converter.setProgram(script(u"slow.sh"_qs, "exec sleep 30"));
    int polls = 0;
    converter.setCancelCheck([&polls] { return ++polls >= 2; });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!converter.convert(mWork + QStringLiteral("/base.m4a"),
                               mWork + QStringLiteral("/cancelled.mp3"), 192));
    QVERIFY(timer.elapsed() < 20000);
    QCOMPARE(polls, 2);
    QCOMPARE(converter.lastError(), u"cancelled"_qs);
    QVERIFY(!QFile::exists(mWork + QStringLiteral("/cancelled.mp3")));
}

QTEST_GUILESS_MAIN(TestMp3Converter)
#include "tst_mp3converter.moc"
