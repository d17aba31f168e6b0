#include "sync/mp3converter.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

// Runs a command line split at spaces plus aMore, keeping its output in aOutput.
bool run(const QString &aCommand, const QStringList &aMore = {}, QByteArray *aOutput = nullptr)
{
    QStringList arguments = aCommand.split(u' ') + aMore;
    QProcess p;
    p.start(arguments.takeFirst(), arguments);
    const bool ok =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (aOutput)
        *aOutput = p.readAllStandardOutput();
    return ok;
}

// Writes an executable file into the current folder.
QString script(const QString &aName, const QByteArray &aBody)
{
    QFile f(aName);
    if (f.open(QIODevice::WriteOnly))
        f.write("#!/bin/sh\n" + aBody + "\n");
    f.close();
    f.setPermissions(f.permissions() | QFile::ExeOwner);
    return f.fileName();
}

} // namespace

class TestMp3Converter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void convertsWithTagsAndCover();
    void failures_data();
    void failures();

private:
    TestHome mHome;
    bool mInHome = QDir::setCurrent(mHome.path());
};

// Each name is one argument: no quoting, shell or option parsing may touch it.
void TestMp3Converter::convertsWithTagsAndCover()
{
    if (QStandardPaths::findExecutable(u"ffprobe"_qs).isEmpty())
        QSKIP("ffmpeg and ffprobe are needed (Debian package ffmpeg, see scripts/install-deps)");
    const QString ffmpeg = u"ffmpeg -nostdin -loglevel error -y "_qs;
    QVERIFY(run(ffmpeg + u"-f lavfi -i testsrc=size=64x48 -frames:v 1 c.jpg"_qs));
    QVERIFY(run(ffmpeg + u"-f lavfi -i sine=duration=1 -i c.jpg -map 0 -map 1 -c:a aac -c:v copy "
                         "-disposition:v attached_pic -metadata album=Älbum–日本♫ cover.m4a"_qs));
    const QString source = mHome.filePath(u"-y It's \"quoted\" $(touch x) pipe:1 Ünï ♫.m4a"_qs);
    QVERIFY(QFile::copy(mHome.filePath(u"cover.m4a"_qs), source));
    const QString output = source + u" out.mp3"_qs;

    Mp3Converter converter;
    QVERIFY2(converter.convert(source, output, 128), qPrintable(converter.lastError()));
    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(4), QByteArray("ID3\x03", 4));
    QByteArray probe;
    QVERIFY(run(u"ffprobe -v error -show_entries stream=codec_name,bit_rate:stream_disposition="
                "attached_pic:format_tags=album -of csv=p=0"_qs,
                {u"file:"_qs + output}, &probe));
    QCOMPARE(QString::fromUtf8(probe), u"mp3,128000,0\nmjpeg,N/A,1\nÄlbum–日本♫\n"_qs);
}

void TestMp3Converter::failures_data()
{
    QTest::addColumn<QByteArray>("program"); // empty: the real ffmpeg
    QTest::newRow("corrupt input") << QByteArray();
    QTest::newRow("partial output, non-zero exit")
        << QByteArray("for a; do last=$a; done; printf half > \"${last#file:}\"; exit 1");
    QTest::newRow("no output, zero exit") << QByteArray("exit 0");
    QTest::newRow("cancelled") << QByteArray("exec sleep 30");
}

// A failed conversion leaves no output, not even an earlier one, so nothing is uploaded.
void TestMp3Converter::failures()
{
    QFETCH(QByteArray, program);
    const bool cancel = QTest::currentDataTag() == QByteArrayView("cancelled");
    const QString source = script(u"broken input.m4a"_qs, QByteArray(4096, 'x'));
    const QString output = script(u"stale.mp3"_qs, "an earlier conversion");
    Mp3Converter converter;
    if (!program.isEmpty())
        converter.setProgram(script(u"fake.sh"_qs, program));
    converter.setCancelCheck([cancel] { return cancel; });

    QVERIFY(!converter.convert(source, output, 192));
    QVERIFY(!QFile::exists(output));
}

QTEST_GUILESS_MAIN(TestMp3Converter)
#include "tst_mp3converter.moc"
