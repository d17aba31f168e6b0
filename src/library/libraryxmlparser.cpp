#include "library/libraryxmlparser.h"

#include "library/itplaylist.h"
#include "library/ituserplaylist.h"

#include <QDateTime>
#include <QFileDevice>
#include <QFileInfo>
#include <QHash>
#include <QXmlStreamReader>

LibraryXmlParser::LibraryXmlParser(QXmlStreamReader &aReader, LibrarySnapshot &aSnapshot)
    : mReader(aReader), mSnapshot(aSnapshot)
{}

LibraryXmlParser::Result LibraryXmlParser::parse(QIODevice &aDevice, LibrarySnapshot &aSnapshot,
                                                 QString &aError)
{
    QXmlStreamReader reader(&aDevice);
    LibraryXmlParser parser(reader, aSnapshot);
    const bool isLibrary = parser.readRoot();
    if (reader.hasError()) {
        aError = reader.errorString() + QStringLiteral(" at line ") +
                 QString::number(reader.lineNumber());
        return Malformed;
    }
    if (!isLibrary || !parser.mSawTracks) {
        aError = QStringLiteral("not a music library property list");
        return NotALibrary;
    }
    if (auto *file = qobject_cast<QFileDevice *>(&aDevice))
        aSnapshot.mLibraryFolder = QFileInfo(file->fileName()).absolutePath();
    aSnapshot.addMissingMusicPlaylist();
    return Parsed;
}

bool LibraryXmlParser::nextKey(QString &aKey)
{
    while (mReader.readNextStartElement()) {
        if (mReader.name() != QLatin1String("key")) {
            mReader.skipCurrentElement();
            continue;
        }
        aKey = mReader.readElementText();
        return mReader.readNextStartElement();
    }
    return false;
}

bool LibraryXmlParser::readBool()
{
    const bool value = mReader.name() == QLatin1String("true");
    mReader.skipCurrentElement();
    return value;
}

bool LibraryXmlParser::readRoot()
{
    if (!mReader.readNextStartElement() || mReader.name() != QLatin1String("plist"))
        return false;
    if (!mReader.readNextStartElement() || mReader.name() != QLatin1String("dict"))
        return false;
    QString key;
    while (nextKey(key)) {
        if (key == QLatin1String("Tracks") && mReader.name() == QLatin1String("dict"))
            readTracks();
        else if (key == QLatin1String("Playlists") && mReader.name() == QLatin1String("array"))
            readPlaylists();
        else if (key == QLatin1String("Music Folder"))
            mSnapshot.mMusicFolder = LibrarySnapshot::decodeFileUrl(mReader.readElementText());
        else
            mReader.skipCurrentElement();
    }
    return true;
}

void LibraryXmlParser::readTracks()
{
    mSawTracks = true;
    QString key;
    while (nextKey(key)) {
        if (mReader.name() != QLatin1String("dict")) {
            mReader.skipCurrentElement();
            continue;
        }
        LibrarySnapshot::TrackRecord track;
        qint64 id = key.toLongLong();
        readTrack(track);
        mTrackIndex.insert(id, mSnapshot.addTrack(track));
    }
}

void LibraryXmlParser::readTrack(LibrarySnapshot::TrackRecord &aTrack)
{
    QString key;
    while (nextKey(key)) {
        if (key == QLatin1String("Name")) {
            aTrack.mName = mReader.readElementText();
        } else if (key == QLatin1String("Artist")) {
            aTrack.mArtist = mReader.readElementText();
        } else if (key == QLatin1String("Album")) {
            aTrack.mAlbum = mReader.readElementText();
        } else if (key == QLatin1String("Size")) {
            aTrack.mSize = mReader.readElementText().toLongLong();
        } else if (key == QLatin1String("Track Number")) {
            aTrack.mTrackNumber = mReader.readElementText().toInt();
        } else if (key == QLatin1String("Compilation")) {
            aTrack.mCompilation = readBool();
        } else if (key == QLatin1String("Podcast")) {
            aTrack.mPodcast = readBool();
        } else if (key == QLatin1String("Has Video") || key == QLatin1String("Movie") ||
                   key == QLatin1String("TV Show") || key == QLatin1String("Music Video")) {
            aTrack.mVideo |= readBool();
        } else if (key == QLatin1String("Date Added")) {
            aTrack.mDateAdded = LibrarySnapshot::toComDate(
                QDateTime::fromString(mReader.readElementText(), Qt::ISODate));
        } else if (key == QLatin1String("Location")) {
            aTrack.mPath = LibrarySnapshot::decodeFileUrl(mReader.readElementText());
        } else {
            mReader.skipCurrentElement();
        }
    }
}

void LibraryXmlParser::readPlaylists()
{
    while (mReader.readNextStartElement()) {
        if (mReader.name() == QLatin1String("dict"))
            readPlaylist();
        else
            mReader.skipCurrentElement();
    }
}

static qint32 specialKindOf(qint32 aDistinguished)
{
    switch (aDistinguished) {
    case 2:
        return ITUserPlaylist::SpecialKindMovies;
    case 3:
        return ITUserPlaylist::SpecialKindTVShows;
    case 4:
        return ITUserPlaylist::SpecialKindMusic;
    case 5:
        return ITUserPlaylist::SpecialKindAudiobooks;
    case 10:
        return ITUserPlaylist::SpecialKindPodcasts;
    case 19:
        return ITUserPlaylist::SpecialKindPurchased;
    case 22:
        return ITUserPlaylist::SpecialKindPartyShuffle;
    case 26:
        return ITUserPlaylist::SpecialKindGenius;
    default:
        return ITUserPlaylist::SpecialKindOther;
    }
}

void LibraryXmlParser::readPlaylist()
{
    LibrarySnapshot::PlaylistRecord playlist;
    bool master = false, folder = false, music = false, podcasts = false;
    qint32 distinguished = 0;
    QString key;
    while (nextKey(key)) {
        if (key == QLatin1String("Name")) {
            playlist.mName = mReader.readElementText();
        } else if (key == QLatin1String("Master")) {
            master = readBool();
        } else if (key == QLatin1String("Folder")) {
            folder = readBool();
        } else if (key == QLatin1String("Music")) {
            music = readBool();
        } else if (key == QLatin1String("Podcasts")) {
            podcasts = readBool();
        } else if (key == QLatin1String("Distinguished Kind")) {
            distinguished = mReader.readElementText().toInt();
        } else if (key == QLatin1String("Smart Info") || key == QLatin1String("Smart Criteria")) {
            playlist.mSmart = true;
            mReader.skipCurrentElement();
        } else if (key == QLatin1String("Playlist Items") &&
                   mReader.name() == QLatin1String("array")) {
            playlist.mTracks = readPlaylistItems();
        } else {
            mReader.skipCurrentElement();
        }
    }
    playlist.mKind = master ? ITPlaylist::KindLibrary : ITPlaylist::KindUser;
    if (master)
        playlist.mSpecialKind = ITUserPlaylist::SpecialKindNone;
    else if (folder)
        playlist.mSpecialKind = ITUserPlaylist::SpecialKindFolder;
    else if (music)
        playlist.mSpecialKind = ITUserPlaylist::SpecialKindMusic;
    else if (podcasts)
        playlist.mSpecialKind = ITUserPlaylist::SpecialKindPodcasts;
    else if (distinguished == 0)
        playlist.mSpecialKind = ITUserPlaylist::SpecialKindNone;
    // Newer files mark the stock smart playlists ("90's Music") with kinds from 200.
    else if (distinguished >= 200 && playlist.mSmart)
        playlist.mSpecialKind = ITUserPlaylist::SpecialKindNone;
    else
        playlist.mSpecialKind = specialKindOf(distinguished);
    mSnapshot.mPlaylists.append(playlist);
}

QList<qint32> LibraryXmlParser::readPlaylistItems()
{
    QList<qint32> tracks;
    QString key;
    while (mReader.readNextStartElement()) {
        if (mReader.name() != QLatin1String("dict")) {
            mReader.skipCurrentElement();
            continue;
        }
        while (nextKey(key)) {
            if (key == QLatin1String("Track ID")) {
                const auto found = mTrackIndex.constFind(mReader.readElementText().toLongLong());
                if (found != mTrackIndex.cend())
                    tracks.append(found.value());
            } else {
                mReader.skipCurrentElement();
            }
        }
    }
    return tracks;
}
