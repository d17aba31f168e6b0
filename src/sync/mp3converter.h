#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Track;

// Turns one audio file into an MP3 with the external "ffmpeg" program. The
// tags and an embedded cover picture are carried over unchanged; a failed
// conversion leaves no output file behind.
class Mp3Converter
{
public:
    static constexpr int DefaultBitRate = 192;

    Mp3Converter();

    // The program to start; "ffmpeg" (found on PATH) unless changed.
    void setProgram(const QString &aProgram) { mProgram = aProgram; }
    QString program() const { return mProgram; }
    // Polled while the converter runs; returning true stops it.
    void setCancelCheck(std::function<bool()> aCheck) { mCancelCheck = std::move(aCheck); }

    // Converts the track's file to Track::conversionOutputPath().
    bool convert(const Track &aTrack);
    bool convert(const QString &aSourcePath, const QString &aOutputPath, int aBitRate);

    // Why the last conversion failed, or empty after a success.
    QString lastError() const { return mLastError; }

    static int effectiveBitRate(int aBitRate);
    static QStringList arguments(const QString &aSourcePath, const QString &aOutputPath,
                                 int aBitRate);

private:
    bool fail(const QString &aOutputPath, const QString &aReason);

    QString mProgram;
    std::function<bool()> mCancelCheck;
    QString mLastError;
};
