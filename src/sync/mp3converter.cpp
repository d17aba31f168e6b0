#include "sync/mp3converter.h"

#include "core/logger.h"
#include "core/track.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

constexpr int PollMilliseconds = 200;
constexpr qsizetype KeptOutputBytes = 2000;

// The "file:" prefix keeps ffmpeg from reading a name such as "pipe:1" as a protocol.
QString fileUrl(const QString &aPath)
{
    return QStringLiteral("file:") + QFileInfo(aPath).absoluteFilePath();
}

} // namespace

Mp3Converter::Mp3Converter() : mProgram(QStringLiteral("ffmpeg")) {}

int Mp3Converter::effectiveBitRate(int aBitRate)
{
    if (aBitRate <= 0)
        return DefaultBitRate;
    return qBound(32, aBitRate, 320);
}

QStringList Mp3Converter::arguments(const QString &aSourcePath, const QString &aOutputPath,
                                    int aBitRate)
{
    const QString bitRate = QString::number(effectiveBitRate(aBitRate)) + QLatin1Char('k');
    // Every video stream that is not a cover picture is dropped ("-0:V"); the
    // cover is copied as it is and written as an attached picture.
    return {QStringLiteral("-nostdin"),
            QStringLiteral("-hide_banner"),
            QStringLiteral("-loglevel"),
            QStringLiteral("error"),
            QStringLiteral("-y"),
            QStringLiteral("-i"),
            fileUrl(aSourcePath),
            QStringLiteral("-map"),
            QStringLiteral("0:a:0"),
            QStringLiteral("-map"),
            QStringLiteral("0:v?"),
            QStringLiteral("-map"),
            QStringLiteral("-0:V?"),
            QStringLiteral("-map_metadata"),
            QStringLiteral("0"),
            QStringLiteral("-c:a"),
            QStringLiteral("libmp3lame"),
            QStringLiteral("-b:a"),
            bitRate,
            QStringLiteral("-c:v"),
            QStringLiteral("copy"),
            QStringLiteral("-disposition:v"),
            QStringLiteral("attached_pic"),
            QStringLiteral("-id3v2_version"),
            QStringLiteral("3"),
            QStringLiteral("-f"),
            QStringLiteral("mp3"),
            fileUrl(aOutputPath)};
}

bool Mp3Converter::convert(const Track &aTrack)
{
    return convert(aTrack.mPath, Track::conversionOutputPath(), aTrack.mConversionBitRate);
}

bool Mp3Converter::convert(const QString &aSourcePath, const QString &aOutputPath, int aBitRate)
{
    LogScope scope("Mp3Converter::convert");
    Logger &log = Logger::instance();
    log.text("Coverting to MP3");
    log.value("source", aSourcePath);
    log.value("output", aOutputPath);
    mLastError.clear();

    if (QFileInfo::exists(aOutputPath) && !QFile::remove(aOutputPath))
        return fail(aOutputPath, QStringLiteral("cannot remove the old output file"));
    if (!QFileInfo(aSourcePath).isFile())
        return fail(aOutputPath, QStringLiteral("the source file does not exist"));
    QDir().mkpath(QFileInfo(aOutputPath).absolutePath());

    QProcess process;
    process.setProgram(mProgram);
    process.setArguments(arguments(aSourcePath, aOutputPath, aBitRate));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (log.isOn())
        log.value("arguments", process.arguments().join(QLatin1Char(' ')));
    process.start();
    if (!process.waitForStarted(-1))
        return fail(aOutputPath, QStringLiteral("cannot start ") + mProgram + QStringLiteral(": ") +
                                     process.errorString());

    bool cancelled = false;
    while (!process.waitForFinished(PollMilliseconds)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (mCancelCheck && mCancelCheck()) {
            cancelled = true;
            process.kill();
            process.waitForFinished(-1);
            break;
        }
    }
    QByteArray output = process.readAll();
    if (output.size() > KeptOutputBytes)
        output = output.right(KeptOutputBytes);
    const QString details = QString::fromLocal8Bit(output).trimmed();
    if (!details.isEmpty())
        log.value("converter output", details);

    if (cancelled)
        return fail(aOutputPath, QStringLiteral("cancelled"));
    if (process.exitStatus() != QProcess::NormalExit)
        return fail(aOutputPath, mProgram + QStringLiteral(" crashed"));
    if (process.exitCode() != 0)
        return fail(aOutputPath,
                    mProgram + QStringLiteral(" exited with code ") +
                        QString::number(process.exitCode()) +
                        (details.isEmpty() ? QString() : QStringLiteral(": ") + details));
    if (QFileInfo(aOutputPath).size() <= 0)
        return fail(aOutputPath, mProgram + QStringLiteral(" wrote no output"));
    log.text("Converted to MP3");
    return true;
}

bool Mp3Converter::fail(const QString &aOutputPath, const QString &aReason)
{
    mLastError = aReason;
    QFile::remove(aOutputPath);
    Logger::instance().value("Conversion failed", aReason);
    return false;
}
