#include "devices/device.h"

#include "core/localplaylist.h"
#include "core/logger.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "settings/syncsettings.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr int MaxFolderNameLength = 255;
constexpr int MaxFileNameLength = 255;
const QString ReplacedInFolderNames = QStringLiteral("'\u00e2\u20ac\u2122^/?<.>\\:*|\"");
const QString FatIllegal = QStringLiteral("\\/:*?\"<>|");

// Cuts to aLength code units without leaving half of a surrogate pair behind.
QString cut(const QString &aText, int aLength)
{
    if (aText.size() <= aLength)
        return aText;
    if (aText.at(aLength - 1).isHighSurrogate())
        --aLength;
    return aText.left(aLength);
}

QString folderName(const QString &aName)
{
    QString result = aName;
    for (QChar &c : result) {
        if (ReplacedInFolderNames.contains(c))
            c = QLatin1Char('_');
    }
    return cut(result, MaxFolderNameLength);
}

const Track *entryTrack(const TrackList &aTracks, int aPosition)
{
    if (aPosition < 0 || aPosition >= aTracks.count()) {
        Logger::instance().value("Playlist entry names no track, position", aPosition);
        return nullptr;
    }
    // A track that did not reach the phone would give a line naming no file.
    const Track &track = aTracks.at(aPosition);
    if (track.mDeviceId.isEmpty()) {
        Logger::instance().value("Playlist entry not on the phone, left out", track.mTrackName);
        return nullptr;
    }
    return &track;
}

QString replaceFatIllegal(QString aName)
{
    for (QChar &c : aName) {
        if (c.unicode() < 0x20 || FatIllegal.contains(c))
            c = QLatin1Char('_');
    }
    return aName;
}

QString chopLineEnd(QString aLine)
{
    if (aLine.endsWith(QLatin1String("\r\n")))
        aLine.chop(2);
    return aLine;
}
} // namespace

Device::~Device() = default;

bool Device::IsConfigured()
{
    SyncSettings settings;
    settings.load();
    return settings.isConfigured(UniqueDeviceId());
}

int Device::CommitUploads(QStringList &aFailedIds)
{
    Q_UNUSED(aFailedIds);
    return 0;
}

int Device::configuredOrder()
{
    SyncSettings settings;
    settings.load();
    return settings.deviceLineNumber(UniqueDeviceId());
}

int Device::createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                           bool aForceWrite, const QString &aLocalPath)
{
    Q_UNUSED(aForceWrite);
    LogScope scope("Device::createPlaylist");
    Logger &log = Logger::instance();
    QFile file(aLocalPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        log.text("Error opening playlist file");
        return scope.ret(0);
    }
    log.value("Writing: #EXTM3U, bytes written", int(file.write("#EXTM3U\r\n")));
    for (const LocalPlaylistEntry &entry : aPlaylist.mEntries) {
        const Track *track = entryTrack(aTracks, entry.mTrack);
        if (!track)
            continue;
        log.value("Writing track: ", track->mTrackName);
        qint64 written = file.write(QByteArrayLiteral("#EXTINF:0,") + track->mTrackName.toUtf8() +
                                    QByteArrayLiteral("\r\n"));
        const QString path = playlistLine(track->mDeviceId);
        log.value("Writing track data: ", path);
        written += file.write(path.toUtf8() + QByteArrayLiteral("\r\n"));
        log.value("bytesWritten", int(written));
    }
    file.close();
    return scope.ret(0);
}

QStringList Device::SplitPath(const QString &aPath) const
{
    return aPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

void Device::GetFolderNamesForTrack(const Track &aTrack, QString &aArtistFolder,
                                    QString &aAlbumFolder) const
{
    aAlbumFolder = folderName(aTrack.mAlbumName);
    aArtistFolder =
        folderName(aTrack.mIsCompilation ? QStringLiteral("Compilation") : aTrack.mArtistName);
    const QFileInfo file(aTrack.mPath);
    const QFileInfo grandParent(QFileInfo(file.path()).path());
    if (grandParent.fileName().compare(QLatin1String("Podcasts"), Qt::CaseInsensitive) == 0 &&
        grandParent.isDir())
        aArtistFolder = QStringLiteral("Podcasts");
}

QString Device::fileNameForTrack(const Track &aTrack) const
{
    QString name = QFileInfo(aTrack.mPath).fileName();
    if (aTrack.needsConversion()) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        name = (dot > 0 ? name.left(dot) : name) + QStringLiteral(".mp3");
    }
    return fatSafeName(name);
}

bool Device::identicalPlaylistAlreadyExists(const QString &aLocalPath,
                                            const LocalPlaylist &aPlaylist,
                                            const TrackList &aTracks) const
{
    LogScope scope("Device::identicalPlaylistAlreadyExists");
    Logger &log = Logger::instance();
    QFile file(aLocalPath);
    if (!file.open(QIODevice::ReadOnly)) {
        log.text("Can't open playlist file.");
        return false;
    }
    file.readLine();
    bool identical = true;
    for (const LocalPlaylistEntry &entry : aPlaylist.mEntries) {
        if (!identical)
            break;
        const Track *track = entryTrack(aTracks, entry.mTrack);
        if (!track)
            continue;
        file.readLine();
        const QString remote = chopLineEnd(QString::fromUtf8(file.readLine()));
        const QString expected = playlistLine(track->mDeviceId);
        log.value("remoteFilePathFromDevice", remote);
        log.value("expectedPath", expected);
        if (remote != expected) {
            log.text("Playlist is not identical");
            identical = false;
        }
    }
    if (!chopLineEnd(QString::fromUtf8(file.readLine())).isEmpty()) {
        log.text("PLaylist is not identical because the existing one has extra stuff at the end");
        identical = false;
    }
    log.value("playlistIsIdentical returns:", identical ? "true" : "false");
    return identical;
}

QString Device::PlaylistEntryPath(const QString &aDeviceId) const
{
    QString result;
    if (!aDeviceId.isEmpty() && aDeviceId.at(0) != QLatin1Char('/') &&
        aDeviceId.at(0) != QLatin1Char('.'))
        result = QLatin1Char('/') + DataFolder + QLatin1Char('/');
    return result + aDeviceId;
}

QString Device::playlistLine(const QString &aDeviceId) const
{
    return QStringLiteral("..") + PlaylistEntryPath(aDeviceId);
}

QString Device::fatSafeName(const QString &aName)
{
    if (aName == QLatin1String(".") || aName == QLatin1String(".."))
        return QString(aName.size(), QLatin1Char('_'));
    return replaceFatIllegal(aName);
}

QString Device::playlistFileName(const QString &aPlaylistName)
{
    const QString extension = QStringLiteral(".m3u");
    return cut(replaceFatIllegal(aPlaylistName), MaxFileNameLength - int(extension.size())) +
           extension;
}

QString Device::newUniqueDeviceId()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QTime time = now.time();
    const QDate date = now.date();
    return QString::number(time.msec()) + QString::number(time.second()) +
           QString::number(time.minute()) + QString::number(time.hour()) +
           QString::number(date.day()) + QString::number(date.month()) + QLatin1Char('Y');
}
