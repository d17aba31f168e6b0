#pragma once

#include "library/librarysnapshot.h"

#include <QByteArrayView>
#include <QHash>
#include <QStringView>

class QIODevice;
class QXmlStreamReader;

// Reads the library's XML property list in one streaming pass.
class LibraryXmlParser
{
public:
    enum Result
    {
        Parsed,
        // Ends early: most likely still being written.
        Truncated,
        // Not well-formed XML; aError then starts with "line L, column C: ".
        Malformed,
        NotALibrary
    };

    static Result parse(QIODevice &aDevice, LibrarySnapshot &aSnapshot, QString &aError);
    // The general XML reader alone, which the scanner leaves unusual files to.
    static Result parseWithReader(QIODevice &aDevice, LibrarySnapshot &aSnapshot, QString &aError);
    // Days since 30 December 1899 in local time, from "2011-01-15T22:20:29Z".
    static double comDateFromIso(QStringView aText);

    enum class Key
    {
        Unknown,
        Tracks,
        Playlists,
        MusicFolder,
        TrackId,
        Name,
        Artist,
        Album,
        Size,
        TrackNumber,
        Compilation,
        Podcast,
        Video,
        DateAdded,
        Location,
        Master,
        Folder,
        Music,
        Podcasts,
        DistinguishedKind,
        Smart,
        PlaylistItems
    };
    static Key keyOf(QStringView aText);
    static Key keyOf(QByteArrayView aText);

    struct PlaylistFlags
    {
        bool mMaster = false;
        bool mFolder = false;
        bool mMusic = false;
        bool mPodcasts = false;
        qint32 mDistinguished = 0;
    };
    static void setKinds(LibrarySnapshot::PlaylistRecord &aPlaylist, const PlaylistFlags &aFlags);

private:
    explicit LibraryXmlParser(QXmlStreamReader &aReader, LibrarySnapshot &aSnapshot);
    bool readRoot();
    void readTracks();
    void readTrack(LibrarySnapshot::TrackRecord &aTrack);
    void readPlaylists();
    void readPlaylist();
    QList<qint32> readPlaylistItems();
    bool nextKey(Key &aKey);
    bool nextKeyText(QString &aKey);
    template <typename Use> void readSimple(Use &&aUse);
    qint64 readInteger();
    QString readText();
    bool readBool();
    // What both parsers do with a complete reading.
    static Result finish(QIODevice &aDevice, LibrarySnapshot &aSnapshot);

    QXmlStreamReader &mReader;
    LibrarySnapshot &mSnapshot;
    QHash<qint64, qint32> mTrackIndex;
    bool mSawTracks = false;
};
