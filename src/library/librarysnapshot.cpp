#include "library/librarysnapshot.h"

#include "library/ituserplaylist.h"

#include <QDateTime>
#include <QFileInfo>
#include <QUrl>

int LibrarySnapshot::addTrack(const TrackRecord &aTrack)
{
    mTracks.append(aTrack);
    return int(mTracks.size()) - 1;
}

int LibrarySnapshot::addPlaylist(const QString &aName, qint32 aSpecialKind,
                                 const QList<qint32> &aTracks, qint32 aKind)
{
    PlaylistRecord playlist;
    playlist.mName = aName;
    playlist.mKind = aKind;
    playlist.mSpecialKind = aSpecialKind;
    playlist.mTracks = aTracks;
    mPlaylists.append(playlist);
    return int(mPlaylists.size()) - 1;
}

void LibrarySnapshot::addMissingMusicPlaylist()
{
    for (const PlaylistRecord &playlist : std::as_const(mPlaylists)) {
        if (playlist.mSpecialKind == ITUserPlaylist::SpecialKindMusic)
            return;
    }
    PlaylistRecord music;
    music.mName = QStringLiteral("Music");
    music.mSpecialKind = ITUserPlaylist::SpecialKindMusic;
    for (qint32 i = 0; i < mTracks.size(); ++i) {
        const TrackRecord &track = mTracks.at(i);
        if (track.isFile() && !track.mPodcast && !track.mVideo)
            music.mTracks.append(i);
    }
    // After the library playlist when there is one, as in the files that have it.
    const bool hasMaster = !mPlaylists.isEmpty() && mPlaylists.first().mKind == 1;
    mPlaylists.insert(hasMaster ? 1 : 0, music);
}

QString LibrarySnapshot::localPath(const TrackRecord &aTrack) const
{
    const QString &path = aTrack.mPath;
    if (path.isEmpty() || mMusicFolder.isEmpty() || mLibraryFolder.isEmpty() ||
        !path.startsWith(mMusicFolder, Qt::CaseInsensitive) || QFileInfo::exists(path))
        return path;
    QString folder = mMusicFolder;
    while (folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const QString mediaName = folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1);
    QString relative = path.mid(mMusicFolder.size());
    if (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    const QString moved =
        mLibraryFolder + QLatin1Char('/') + mediaName + QLatin1Char('/') + relative;
    return QFileInfo::exists(moved) ? moved : path;
}

qint64 LibrarySnapshot::playlistSize(const PlaylistRecord &aPlaylist) const
{
    qint64 size = 0;
    for (qint32 track : aPlaylist.mTracks)
        size += mTracks.at(track).mSize;
    return size;
}

QString LibrarySnapshot::decodeFileUrl(const QString &aUrl)
{
    if (!aUrl.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
        return QString();
    QStringView rest = QStringView(aUrl).mid(7);
    if (rest.startsWith(QLatin1String("localhost/"), Qt::CaseInsensitive))
        rest = rest.mid(9);
    QString path = QUrl::fromPercentEncoding(rest.toUtf8());
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1String("//")); // a share on another computer
    // "/C:/..." is a drive path of the computer that wrote the file.
    if (path.size() >= 3 && path.at(0) == QLatin1Char('/') && path.at(1).isLetter() &&
        path.at(2) == QLatin1Char(':'))
        path.remove(0, 1);
    return path;
}

double LibrarySnapshot::toComDate(const QDateTime &aDate)
{
    if (!aDate.isValid())
        return 0;
    const QDateTime local = aDate.toLocalTime();
    static const QDate epoch(1899, 12, 30);
    return double(epoch.daysTo(local.date())) +
           double(local.time().msecsSinceStartOfDay()) / 86400000.0;
}
