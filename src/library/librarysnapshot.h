#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QDateTime;

// One immutable reading of a music library: its tracks and playlists as the
// automation layer serves them. Shared between threads as shared_ptr<const>.
class LibrarySnapshot
{
public:
    struct Artwork
    {
        qint32 mFormat = 0;
        QByteArray mData;
    };

    struct TrackRecord
    {
        QString mName;
        QString mAlbum;
        QString mArtist;
        // Decoded local path; empty for tracks that are not local files.
        QString mPath;
        qint64 mSize = 0;
        qint32 mTrackNumber = 0;
        bool mCompilation = false;
        bool mPodcast = false;
        bool mVideo = false;
        double mDateAdded = 0;
        QList<Artwork> mArtwork;

        bool isFile() const { return !mPath.isEmpty(); }
    };

    struct PlaylistRecord
    {
        QString mName;
        qint32 mKind = 2;
        qint32 mSpecialKind = 0;
        bool mSmart = false;
        QList<qint32> mTracks;
    };

    QList<TrackRecord> mTracks;
    QList<PlaylistRecord> mPlaylists;
    // Where the library kept its media, decoded; used to find files of a library
    // copied from another computer.
    QString mMusicFolder;
    QString mLibraryFolder;

    int addTrack(const TrackRecord &aTrack);
    int addPlaylist(const QString &aName, qint32 aSpecialKind, const QList<qint32> &aTracks,
                    qint32 aKind = 2);

    // Adds a Music playlist of every audio file track when the library has none.
    void addMissingMusicPlaylist();
    QString localPath(const TrackRecord &aTrack) const;
    qint64 playlistSize(const PlaylistRecord &aPlaylist) const;

    static QString decodeFileUrl(const QString &aUrl);
    static double toComDate(const QDateTime &aDate);
};
