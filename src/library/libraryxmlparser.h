#pragma once

#include "library/librarysnapshot.h"

#include <QHash>

class QIODevice;
class QXmlStreamReader;

// Reads the library's XML property list in one streaming pass.
class LibraryXmlParser
{
public:
    enum Result
    {
        Parsed,
        Malformed,
        NotALibrary
    };

    static Result parse(QIODevice &aDevice, LibrarySnapshot &aSnapshot, QString &aError);

private:
    explicit LibraryXmlParser(QXmlStreamReader &aReader, LibrarySnapshot &aSnapshot);
    bool readRoot();
    void readTracks();
    void readTrack(LibrarySnapshot::TrackRecord &aTrack);
    void readPlaylists();
    void readPlaylist();
    QList<qint32> readPlaylistItems();
    bool nextKey(QString &aKey);
    bool readBool();

    QXmlStreamReader &mReader;
    LibrarySnapshot &mSnapshot;
    QHash<qint64, qint32> mTrackIndex;
    bool mSawTracks = false;
};
