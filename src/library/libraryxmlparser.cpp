#include "library/libraryxmlparser.h"

#include "core/logger.h"
#include "library/controlcharfilter.h"
#include "library/itplaylist.h"
#include "library/ituserplaylist.h"
#include "library/libraryxmlscanner.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileDevice>
#include <QFileInfo>
#include <QHash>
#include <QXmlStreamReader>

#include <ctime>

LibraryXmlParser::LibraryXmlParser(QXmlStreamReader &aReader, LibrarySnapshot &aSnapshot)
    : mReader(aReader), mSnapshot(aSnapshot)
{}

LibraryXmlParser::Result LibraryXmlParser::parse(QIODevice &aDevice, LibrarySnapshot &aSnapshot,
                                                 QString &aError)
{
    QByteArray data = aDevice.readAll();
    if (LibraryXmlScanner::scan(data, aSnapshot))
        return finish(aDevice, aSnapshot);
    aSnapshot = LibrarySnapshot();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    const Result result = parseWithReader(buffer, aSnapshot, aError);
    return result == Parsed ? finish(aDevice, aSnapshot) : result;
}

LibraryXmlParser::Result LibraryXmlParser::finish(QIODevice &aDevice, LibrarySnapshot &aSnapshot)
{
    if (auto *file = qobject_cast<QFileDevice *>(&aDevice))
        aSnapshot.mLibraryFolder = QFileInfo(file->fileName()).absolutePath();
    aSnapshot.addMissingMusicPlaylist();
    return Parsed;
}

LibraryXmlParser::Result
LibraryXmlParser::parseWithReader(QIODevice &aDevice, LibrarySnapshot &aSnapshot, QString &aError)
{
    ControlCharFilter filter(aDevice);
    filter.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QXmlStreamReader reader(&filter);
    LibraryXmlParser parser(reader, aSnapshot);
    const bool isLibrary = parser.readRoot();
    if (filter.dropped() > 0)
        Logger::instance().value("Characters XML does not allow, left out", int(filter.dropped()));
    if (reader.hasError()) {
        aError = QStringLiteral("line %1, column %2: %3")
                     .arg(reader.lineNumber())
                     .arg(reader.columnNumber())
                     .arg(reader.errorString());
        return reader.error() == QXmlStreamReader::PrematureEndOfDocumentError ? Truncated
                                                                               : Malformed;
    }
    if (!isLibrary || !parser.mSawTracks) {
        aError = QStringLiteral("not a music library property list");
        return NotALibrary;
    }
    return Parsed;
}

namespace {
const std::pair<QLatin1String, LibraryXmlParser::Key> &keyAt(int aIndex);
constexpr int KeyCount = 25;
} // namespace

LibraryXmlParser::Key LibraryXmlParser::keyOf(QStringView aText)
{
    for (int i = 0; i < KeyCount; ++i) {
        const auto &[text, key] = keyAt(i);
        if (text.size() == aText.size() && text == aText)
            return key;
    }
    return Key::Unknown;
}

LibraryXmlParser::Key LibraryXmlParser::keyOf(QByteArrayView aText)
{
    for (int i = 0; i < KeyCount; ++i) {
        const auto &[text, key] = keyAt(i);
        if (text.size() == aText.size() && QByteArrayView(text.data(), text.size()) == aText)
            return key;
    }
    return Key::Unknown;
}

namespace {
const std::pair<QLatin1String, LibraryXmlParser::Key> &keyAt(int aIndex)
{
    using Key = LibraryXmlParser::Key;
    static const std::pair<QLatin1String, Key> keys[KeyCount] = {
        {QLatin1String("Track ID"), Key::TrackId},
        {QLatin1String("Name"), Key::Name},
        {QLatin1String("Artist"), Key::Artist},
        {QLatin1String("Album"), Key::Album},
        {QLatin1String("Size"), Key::Size},
        {QLatin1String("Track Number"), Key::TrackNumber},
        {QLatin1String("Compilation"), Key::Compilation},
        {QLatin1String("Podcast"), Key::Podcast},
        {QLatin1String("Has Video"), Key::Video},
        {QLatin1String("Movie"), Key::Video},
        {QLatin1String("TV Show"), Key::Video},
        {QLatin1String("Music Video"), Key::Video},
        {QLatin1String("Date Added"), Key::DateAdded},
        {QLatin1String("Location"), Key::Location},
        {QLatin1String("Tracks"), Key::Tracks},
        {QLatin1String("Playlists"), Key::Playlists},
        {QLatin1String("Music Folder"), Key::MusicFolder},
        {QLatin1String("Master"), Key::Master},
        {QLatin1String("Folder"), Key::Folder},
        {QLatin1String("Music"), Key::Music},
        {QLatin1String("Podcasts"), Key::Podcasts},
        {QLatin1String("Distinguished Kind"), Key::DistinguishedKind},
        {QLatin1String("Smart Info"), Key::Smart},
        {QLatin1String("Smart Criteria"), Key::Smart},
        {QLatin1String("Playlist Items"), Key::PlaylistItems},
    };
    return keys[aIndex];
}
} // namespace

// Hands the element's text to aUse while it is still in the reader's buffer
// (no copy), then leaves the reader on the element's end.
template <typename Use> void LibraryXmlParser::readSimple(Use &&aUse)
{
    bool used = false;
    while (!mReader.atEnd()) {
        const QXmlStreamReader::TokenType token = mReader.readNext();
        if (token == QXmlStreamReader::Characters) {
            if (!used)
                aUse(mReader.text());
            used = true;
        } else if (token == QXmlStreamReader::StartElement) {
            mReader.skipCurrentElement();
        } else if (token == QXmlStreamReader::EndElement || token == QXmlStreamReader::Invalid) {
            break;
        }
    }
    if (!used)
        aUse(QStringView());
}

bool LibraryXmlParser::nextKey(Key &aKey)
{
    while (mReader.readNextStartElement()) {
        if (mReader.name() != QLatin1String("key")) {
            mReader.skipCurrentElement();
            continue;
        }
        readSimple([&aKey](QStringView aText) { aKey = keyOf(aText); });
        return mReader.readNextStartElement();
    }
    return false;
}

bool LibraryXmlParser::nextKeyText(QString &aKey)
{
    while (mReader.readNextStartElement()) {
        if (mReader.name() != QLatin1String("key")) {
            mReader.skipCurrentElement();
            continue;
        }
        aKey = readText();
        return mReader.readNextStartElement();
    }
    return false;
}

qint64 LibraryXmlParser::readInteger()
{
    qint64 value = 0;
    readSimple([&value](QStringView aText) { value = aText.trimmed().toLongLong(); });
    return value;
}

QString LibraryXmlParser::readText()
{
    // Unlike readElementText(), builds the usual single-piece text with one allocation.
    QString text;
    bool first = true;
    while (!mReader.atEnd()) {
        const QXmlStreamReader::TokenType token = mReader.readNext();
        if (token == QXmlStreamReader::Characters || token == QXmlStreamReader::EntityReference) {
            if (first)
                text = mReader.text().toString();
            else
                text += mReader.text();
            first = false;
        } else if (token == QXmlStreamReader::StartElement) {
            mReader.skipCurrentElement();
        } else if (token == QXmlStreamReader::EndElement || token == QXmlStreamReader::Invalid) {
            break;
        }
    }
    return text;
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
    Key key;
    while (nextKey(key)) {
        if (key == Key::Tracks && mReader.name() == QLatin1String("dict"))
            readTracks();
        else if (key == Key::Playlists && mReader.name() == QLatin1String("array"))
            readPlaylists();
        else if (key == Key::MusicFolder)
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
    while (nextKeyText(key)) {
        if (mReader.name() != QLatin1String("dict")) {
            mReader.skipCurrentElement();
            continue;
        }
        LibrarySnapshot::TrackRecord track;
        const qint64 id = key.toLongLong();
        readTrack(track);
        mSnapshot.mTracks.append(std::move(track));
        mTrackIndex.insert(id, qint32(mSnapshot.mTracks.size()) - 1);
    }
}

void LibraryXmlParser::readTrack(LibrarySnapshot::TrackRecord &aTrack)
{
    Key key;
    while (nextKey(key)) {
        switch (key) {
        case Key::Name:
            aTrack.mName = readText();
            break;
        case Key::Artist:
            aTrack.mArtist = readText();
            break;
        case Key::Album:
            aTrack.mAlbum = readText();
            break;
        case Key::Size:
            aTrack.mSize = readInteger();
            break;
        case Key::TrackNumber:
            aTrack.mTrackNumber = qint32(readInteger());
            break;
        case Key::Compilation:
            aTrack.mCompilation = readBool();
            break;
        case Key::Podcast:
            aTrack.mPodcast = readBool();
            break;
        case Key::Video:
            aTrack.mVideo |= readBool();
            break;
        case Key::DateAdded:
            readSimple([&aTrack](QStringView aText) { aTrack.mDateAdded = comDateFromIso(aText); });
            break;
        case Key::Location:
            aTrack.mPath = LibrarySnapshot::decodeFileUrl(readText());
            break;
        default:
            mReader.skipCurrentElement();
            break;
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
    PlaylistFlags flags;
    Key key;
    while (nextKey(key)) {
        switch (key) {
        case Key::Name:
            playlist.mName = readText();
            break;
        case Key::Master:
            flags.mMaster = readBool();
            break;
        case Key::Folder:
            flags.mFolder = readBool();
            break;
        case Key::Music:
            flags.mMusic = readBool();
            break;
        case Key::Podcasts:
            flags.mPodcasts = readBool();
            break;
        case Key::DistinguishedKind:
            flags.mDistinguished = qint32(readInteger());
            break;
        case Key::Smart:
            playlist.mSmart = true;
            mReader.skipCurrentElement();
            break;
        case Key::PlaylistItems:
            if (mReader.name() == QLatin1String("array")) {
                playlist.mTracks = readPlaylistItems();
                break;
            }
            mReader.skipCurrentElement();
            break;
        default:
            mReader.skipCurrentElement();
            break;
        }
    }
    setKinds(playlist, flags);
    mSnapshot.mPlaylists.append(playlist);
}

void LibraryXmlParser::setKinds(LibrarySnapshot::PlaylistRecord &aPlaylist,
                                const PlaylistFlags &aFlags)
{
    aPlaylist.mKind = aFlags.mMaster ? ITPlaylist::KindLibrary : ITPlaylist::KindUser;
    if (aFlags.mMaster)
        aPlaylist.mSpecialKind = ITUserPlaylist::SpecialKindNone;
    else if (aFlags.mFolder)
        aPlaylist.mSpecialKind = ITUserPlaylist::SpecialKindFolder;
    else if (aFlags.mMusic)
        aPlaylist.mSpecialKind = ITUserPlaylist::SpecialKindMusic;
    else if (aFlags.mPodcasts)
        aPlaylist.mSpecialKind = ITUserPlaylist::SpecialKindPodcasts;
    else if (aFlags.mDistinguished == 0)
        aPlaylist.mSpecialKind = ITUserPlaylist::SpecialKindNone;
    // Newer files mark the stock smart playlists ("90's Music") with kinds from 200.
    else if (aFlags.mDistinguished >= 200 && aPlaylist.mSmart)
        aPlaylist.mSpecialKind = ITUserPlaylist::SpecialKindNone;
    else
        aPlaylist.mSpecialKind = specialKindOf(aFlags.mDistinguished);
}

QList<qint32> LibraryXmlParser::readPlaylistItems()
{
    QList<qint32> tracks;
    Key key;
    while (mReader.readNextStartElement()) {
        if (mReader.name() != QLatin1String("dict")) {
            mReader.skipCurrentElement();
            continue;
        }
        while (nextKey(key)) {
            if (key != Key::TrackId) {
                mReader.skipCurrentElement();
                continue;
            }
            const auto found = mTrackIndex.constFind(readInteger());
            if (found != mTrackIndex.cend())
                tracks.append(found.value());
        }
    }
    return tracks;
}

double LibraryXmlParser::comDateFromIso(QStringView aText)
{
    const auto number = [aText](qsizetype aFrom, qsizetype aLength) {
        int value = 0;
        for (qsizetype i = aFrom; i < aFrom + aLength; ++i) {
            const char16_t c = aText[i].unicode();
            if (c < u'0' || c > u'9')
                return -1;
            value = value * 10 + (c - u'0');
        }
        return value;
    };
    // The common "YYYY-MM-DDTHH:MM:SSZ" without the cost of a general date parser.
    if (aText.size() == 20 && aText[4] == u'-' && aText[7] == u'-' && aText[10] == u'T' &&
        aText[13] == u':' && aText[16] == u':' && aText[19] == u'Z') {
        const QDate date(number(0, 4), number(5, 2), number(8, 2));
        const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
        if (date.isValid() && hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 &&
            second < 61) {
            const qint64 days = date.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
            const time_t utc = time_t(days * 86400 + hour * 3600 + minute * 60 + second);
            struct tm local;
            const long offset = localtime_r(&utc, &local) ? local.tm_gmtoff : 0;
            return double(qint64(utc) + offset) / 86400.0 + 25569.0;
        }
    }
    return LibrarySnapshot::toComDate(QDateTime::fromString(aText.toString(), Qt::ISODate));
}
