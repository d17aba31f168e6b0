#pragma once

// Shared by the end-to-end tests of mobrelay-sync: finds the program, runs it
// with HOME pointed at the test's home, and writes a small music library of
// real audio files made with ffmpeg plus the library file that refers to them.

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <QXmlStreamWriter>

#include <sys/stat.h>

namespace e2e {

struct LibraryTrack
{
    QString mName;
    QString mArtist;
    QString mAlbum;
    int mNumber = 0;
    // "mp3", "m4a", or "bin" / "junk" / "m4p" (made-up bytes named .mp3 / .m4a / .m4p)
    QString mFormat;
    QString mCover; // colour of an embedded cover, empty for none
    bool mPodcast = false;
    QString mDateAdded;
    qint64 mBytes = 0; // size of a "bin" track
    QString mPath;     // filled by writeLibrary
};

struct LibraryPlaylist
{
    QString mName;
    QList<int> mTracks;
};

struct RunResult
{
    int mExitCode = -1;
    bool mCrashed = false;
    QString mOut;
    QString mErr;

    QStringList lines() const { return mOut.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QStringList stateLines() const { return lines().filter(QRegularExpression(u"^state "_qs)); }
    // The numbers of the "state N" lines, in order.
    QList<int> states() const
    {
        QList<int> result;
        for (const QString &line : stateLines())
            result.append(line.section(QLatin1Char(' '), 1, 1).toInt());
        return result;
    }
    bool copiedSomething() const { return mOut.contains(u"progress 13 "_qs); }
};

inline QString binary()
{
    const QString dir = qEnvironmentVariable("MOBRELAY_BINARY_DIR");
    const QStringList candidates{dir + u"/src/mobrelay-sync"_qs, dir + u"/mobrelay-sync"_qs};
    for (const QString &candidate : candidates) {
        if (!dir.isEmpty() && QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return QString();
}

inline QProcessEnvironment environment(const QString &aHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_qs, aHome);
    return env;
}

inline void start(QProcess &aProcess, const QString &aHome, const QStringList &aArguments)
{
    aProcess.setProcessEnvironment(environment(aHome));
    aProcess.setProgram(binary());
    aProcess.setArguments(aArguments);
    aProcess.start();
}

inline RunResult finish(QProcess &aProcess, int aTimeoutMs = 60000)
{
    RunResult result;
    if (!aProcess.waitForFinished(aTimeoutMs)) {
        aProcess.kill();
        aProcess.waitForFinished();
    }
    result.mCrashed = aProcess.exitStatus() != QProcess::NormalExit;
    result.mExitCode = result.mCrashed ? -1 : aProcess.exitCode();
    result.mOut += QString::fromUtf8(aProcess.readAllStandardOutput());
    result.mErr += QString::fromUtf8(aProcess.readAllStandardError());
    return result;
}

inline RunResult run(const QString &aHome, const QStringList &aArguments, int aTimeoutMs = 60000)
{
    QProcess process;
    start(process, aHome, aArguments);
    return finish(process, aTimeoutMs);
}

inline bool ffmpeg(const QStringList &aArguments)
{
    QProcess process;
    process.start(u"ffmpeg"_qs, QStringList{u"-v"_qs, u"error"_qs, u"-y"_qs} + aArguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

inline bool makeAudio(LibraryTrack &aTrack, const QString &aFolder, int aIndex)
{
    const bool aac = aTrack.mFormat == u"m4a"_qs || aTrack.mFormat == u"junk"_qs;
    const bool protectedAac = aTrack.mFormat == u"m4p"_qs;
    const QString ext = protectedAac ? u"m4p"_qs : aac ? u"m4a"_qs : u"mp3"_qs;
    const QString dir =
        aFolder + QLatin1Char('/') + aTrack.mArtist + QLatin1Char('/') + aTrack.mAlbum;
    QDir().mkpath(dir);
    aTrack.mPath = u"%1/%2 %3.%4"_qs.arg(dir)
                       .arg(aTrack.mNumber, 2, 10, QLatin1Char('0'))
                       .arg(aTrack.mName, ext);
    if (aTrack.mFormat == u"junk"_qs || protectedAac) {
        // An MPEG-4 file cut off after its first box: no decoder can read it.
        QFile file(aTrack.mPath);
        return file.open(QIODevice::WriteOnly) &&
               file.write(QByteArray::fromHex("0000001866747970") + "M4A " +
                          QByteArray(aTrack.mBytes, '\0')) > 0;
    }
    if (aTrack.mFormat == u"bin"_qs) {
        QFile file(aTrack.mPath);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        QByteArray block(1 << 20, '\0');
        for (qint64 done = 0; done < aTrack.mBytes; done += block.size()) {
            for (qsizetype i = 0; i < block.size(); ++i)
                block[i] = char((i * 131 + done / block.size() * 7 + aIndex) & 0xFF);
            if (file.write(block.constData(), qMin<qint64>(block.size(), aTrack.mBytes - done)) < 0)
                return false;
        }
        return true;
    }
    QStringList args{u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
                     u"sine=frequency=%1:duration=0.4"_qs.arg(220 + 110 * aIndex)};
    if (!aTrack.mCover.isEmpty()) {
        const QString cover = aFolder + u"/cover-%1.jpg"_qs.arg(aTrack.mCover);
        if (!QFileInfo::exists(cover) &&
            !ffmpeg({u"-f"_qs, u"lavfi"_qs, u"-i"_qs, u"color=c=%1:s=96x64"_qs.arg(aTrack.mCover),
                     u"-frames:v"_qs, u"1"_qs, cover}))
            return false;
        args +=
            {u"-i"_qs,   cover,      u"-map"_qs,           u"0:a"_qs,         u"-map"_qs, u"1:v"_qs,
             u"-c:v"_qs, u"copy"_qs, u"-disposition:v"_qs, u"attached_pic"_qs};
    }
    args += {u"-metadata"_qs, u"title="_qs + aTrack.mName,
             u"-metadata"_qs, u"artist="_qs + aTrack.mArtist,
             u"-metadata"_qs, u"album="_qs + aTrack.mAlbum,
             u"-metadata"_qs, u"track="_qs + QString::number(aTrack.mNumber)};
    if (ext == u"m4a"_qs)
        args += {u"-c:a"_qs, u"aac"_qs, u"-b:a"_qs, u"48k"_qs};
    else
        args +=
            {u"-c:a"_qs, u"libmp3lame"_qs, u"-b:a"_qs, u"32k"_qs, u"-id3v2_version"_qs, u"3"_qs};
    args.append(aTrack.mPath);
    return ffmpeg(args);
}

inline void writeKey(QXmlStreamWriter &aXml, const QString &aKey)
{
    aXml.writeTextElement(u"key"_qs, aKey);
}

// Makes every track's file under aFolder (skipped when it exists) and writes
// the library file that lists them.
inline bool writeLibrary(const QString &aXmlPath, const QString &aFolder,
                         QList<LibraryTrack> &aTracks, const QList<LibraryPlaylist> &aPlaylists)
{
    for (int i = 0; i < aTracks.size(); ++i) {
        LibraryTrack &track = aTracks[i];
        if (track.mPath.isEmpty() && !makeAudio(track, aFolder, i))
            return false;
    }
    QFile file(aXmlPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(u"plist"_qs);
    xml.writeAttribute(u"version"_qs, u"1.0"_qs);
    xml.writeStartElement(u"dict"_qs);
    writeKey(xml, u"Music Folder"_qs);
    xml.writeTextElement(u"string"_qs, QUrl::fromLocalFile(aFolder + u"/"_qs).toString());
    writeKey(xml, u"Tracks"_qs);
    xml.writeStartElement(u"dict"_qs);
    const auto id = [](int aIndex) { return QString::number(100 + aIndex); };
    for (int i = 0; i < aTracks.size(); ++i) {
        const LibraryTrack &track = aTracks.at(i);
        writeKey(xml, id(i));
        xml.writeStartElement(u"dict"_qs);
        writeKey(xml, u"Track ID"_qs);
        xml.writeTextElement(u"integer"_qs, id(i));
        for (const auto &[key, value] :
             {std::pair{u"Name"_qs, track.mName}, std::pair{u"Artist"_qs, track.mArtist},
              std::pair{u"Album"_qs, track.mAlbum}}) {
            writeKey(xml, key);
            xml.writeTextElement(u"string"_qs, value);
        }
        writeKey(xml, u"Size"_qs);
        xml.writeTextElement(u"integer"_qs, QString::number(QFileInfo(track.mPath).size()));
        writeKey(xml, u"Track Number"_qs);
        xml.writeTextElement(u"integer"_qs, QString::number(track.mNumber));
        writeKey(xml, u"Date Added"_qs);
        xml.writeTextElement(u"date"_qs, track.mDateAdded.isEmpty() ? u"2025-01-01T10:00:00Z"_qs
                                                                    : track.mDateAdded);
        if (track.mPodcast) {
            writeKey(xml, u"Podcast"_qs);
            xml.writeEmptyElement(u"true"_qs);
        }
        writeKey(xml, u"Track Type"_qs);
        xml.writeTextElement(u"string"_qs, u"File"_qs);
        writeKey(xml, u"Location"_qs);
        xml.writeTextElement(u"string"_qs,
                             QString::fromLatin1(QUrl::fromLocalFile(track.mPath).toEncoded()));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    writeKey(xml, u"Playlists"_qs);
    xml.writeStartElement(u"array"_qs);
    const auto writePlaylist = [&](const QString &aName, const QString &aFlag,
                                   const QList<int> &aItems) {
        xml.writeStartElement(u"dict"_qs);
        writeKey(xml, u"Name"_qs);
        xml.writeTextElement(u"string"_qs, aName);
        if (!aFlag.isEmpty()) {
            writeKey(xml, aFlag);
            xml.writeEmptyElement(u"true"_qs);
        }
        writeKey(xml, u"Playlist Items"_qs);
        xml.writeStartElement(u"array"_qs);
        for (int item : aItems) {
            xml.writeStartElement(u"dict"_qs);
            writeKey(xml, u"Track ID"_qs);
            xml.writeTextElement(u"integer"_qs, id(item));
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
    };
    QList<int> all, music, podcasts;
    for (int i = 0; i < aTracks.size(); ++i) {
        all.append(i);
        (aTracks.at(i).mPodcast ? podcasts : music).append(i);
    }
    writePlaylist(u"Library"_qs, u"Master"_qs, all);
    writePlaylist(u"Music"_qs, u"Music"_qs, music);
    writePlaylist(u"Podcasts"_qs, u"Podcasts"_qs, podcasts);
    for (const LibraryPlaylist &playlist : aPlaylists)
        writePlaylist(playlist.mName, QString(), playlist.mTracks);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError() && file.error() == QFileDevice::NoError;
}

// Every file below aRoot: relative path -> size, modification time and hash.
struct FileState
{
    qint64 mSize = 0;
    qint64 mModifiedNs = 0;
    QByteArray mHash;
    bool operator==(const FileState &) const = default;
};

inline QMap<QString, FileState> snapshot(const QString &aRoot)
{
    QMap<QString, FileState> files;
    QDirIterator it(aRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        FileState state;
        state.mSize = file.size();
        struct stat info = {};
        if (::stat(QFile::encodeName(path).constData(), &info) == 0)
            state.mModifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        if (file.open(QIODevice::ReadOnly))
            state.mHash = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
        files.insert(QDir(aRoot).relativeFilePath(path), state);
    }
    return files;
}

inline QByteArray fileHash(const QString &aPath)
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
}

inline QByteArray readFile(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace e2e
