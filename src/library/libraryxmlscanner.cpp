#include "library/libraryxmlscanner.h"

#include "library/libraryxmlparser.h"

#include <cstring>

namespace {

using Key = LibraryXmlParser::Key;

// Nesting beyond this is no library; the general reader takes it.
constexpr int MaxDepth = 64;

bool isSpace(char aChar)
{
    return aChar == ' ' || aChar == '\t' || aChar == '\n' || aChar == '\r';
}

bool isNameChar(char aChar)
{
    return (aChar >= 'a' && aChar <= 'z') || (aChar >= 'A' && aChar <= 'Z') ||
           (aChar >= '0' && aChar <= '9') || aChar == '-' || aChar == '_' || aChar == '.';
}

// Names with a namespace prefix are the general reader's.
bool isNameStart(char aChar)
{
    return (aChar >= 'a' && aChar <= 'z') || (aChar >= 'A' && aChar <= 'Z') || aChar == '_';
}

// Well-formed UTF-8 without the two non-characters XML forbids.
bool isXmlUtf8(QByteArrayView aData)
{
    const auto *p = reinterpret_cast<const unsigned char *>(aData.data());
    const auto *end = p + aData.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int length = 0;
        char32_t c = 0;
        if (*p >= 0xC2 && *p <= 0xDF) {
            length = 2;
            c = *p & 0x1F;
        } else if (*p >= 0xE0 && *p <= 0xEF) {
            length = 3;
            c = *p & 0x0F;
        } else if (*p >= 0xF0 && *p <= 0xF4) {
            length = 4;
            c = *p & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE ||
            c == 0xFFFF)
            return false;
        p += length;
    }
    return true;
}

void appendUtf8(QByteArray &aOut, char32_t aChar)
{
    if (aChar < 0x80) {
        aOut.append(char(aChar));
    } else if (aChar < 0x800) {
        aOut.append(char(0xC0 | (aChar >> 6)));
        aOut.append(char(0x80 | (aChar & 0x3F)));
    } else if (aChar < 0x10000) {
        aOut.append(char(0xE0 | (aChar >> 12)));
        aOut.append(char(0x80 | ((aChar >> 6) & 0x3F)));
        aOut.append(char(0x80 | (aChar & 0x3F)));
    } else {
        aOut.append(char(0xF0 | (aChar >> 18)));
        aOut.append(char(0x80 | ((aChar >> 12) & 0x3F)));
        aOut.append(char(0x80 | ((aChar >> 6) & 0x3F)));
        aOut.append(char(0x80 | (aChar & 0x3F)));
    }
}

// The character of the reference at aPos ("&amp;", "&#233;", "&#xE9;"), and its
// length; 0 for one the scanner does not take: unknown, malformed, or a
// character XML forbids (the general reader leaves those out).
int reference(const char *aPos, const char *aEnd, char32_t &aChar)
{
    static const struct
    {
        const char *mText;
        char mChar;
    } named[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto &entity : named) {
        const auto length = std::ptrdiff_t(std::strlen(entity.mText));
        if (aEnd - aPos >= length && std::memcmp(aPos, entity.mText, size_t(length)) == 0) {
            aChar = char32_t(entity.mChar);
            return int(length);
        }
    }
    if (aEnd - aPos < 4 || aPos[1] != '#')
        return 0;
    const char *p = aPos + 2;
    const bool hex = *p == 'x';
    if (hex)
        ++p;
    const char *digits = p;
    char32_t value = 0;
    for (; p < aEnd && p - digits < 8; ++p) {
        const char c = *p;
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        value = value * (hex ? 16 : 10) + char32_t(digit);
    }
    if (p == digits || p >= aEnd || *p != ';')
        return 0;
    const bool allowed =
        value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value <= 0xD7FF) ||
        (value >= 0xE000 && value <= 0xFFFD) || (value >= 0x10000 && value <= 0x10FFFF);
    if (!allowed)
        return 0;
    aChar = value;
    return int(p + 1 - aPos);
}

} // namespace

LibraryXmlScanner::LibraryXmlScanner(QByteArrayView aData, LibrarySnapshot &aSnapshot)
    : mPos(aData.data()), mEnd(aData.data() + aData.size()), mSnapshot(aSnapshot)
{}

bool LibraryXmlScanner::scan(QByteArrayView aData, LibrarySnapshot &aSnapshot)
{
    if (!isXmlUtf8(aData))
        return false;
    LibraryXmlScanner scanner(aData, aSnapshot);
    return scanner.prolog() && scanner.readRoot() && scanner.mSawTracks;
}

bool LibraryXmlScanner::prolog()
{
    // The declarations library files are written with; any other is left to
    // the general reader, which checks every detail of them.
    static const char *const declarations[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
        "<?xml version=\"1.0\"?>",
    };
    static const char *const documentTypes[] = {
        "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">",
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">",
    };
    const auto take = [this](const char *const *aTexts, int aCount) {
        for (int i = 0; i < aCount; ++i) {
            const auto length = std::ptrdiff_t(std::strlen(aTexts[i]));
            if (mEnd - mPos >= length && std::memcmp(mPos, aTexts[i], size_t(length)) == 0) {
                mPos += length;
                return true;
            }
        }
        return false;
    };
    if (mEnd - mPos >= 3 && std::memcmp(mPos, "\xEF\xBB\xBF", 3) == 0)
        mPos += 3;
    if (mEnd - mPos >= 5 && std::memcmp(mPos, "<?xml", 5) == 0 && !take(declarations, 3))
        return false;
    while (mPos < mEnd && isSpace(*mPos))
        ++mPos;
    if (mEnd - mPos >= 2 && std::memcmp(mPos, "<!", 2) == 0 &&
        (mEnd - mPos < 4 || std::memcmp(mPos, "<!--", 4) != 0) && !take(documentTypes, 2))
        return false;
    return true;
}

bool LibraryXmlScanner::nextTag(Tag &aTag)
{
    for (;;) {
        while (mPos < mEnd && isSpace(*mPos))
            ++mPos;
        if (mPos >= mEnd || *mPos != '<' || mEnd - mPos < 2)
            return false;
        if (mPos[1] == '!') {
            if (mEnd - mPos < 7 || std::memcmp(mPos, "<!--", 4) != 0)
                return false;
            const QByteArrayView rest(mPos + 4, mEnd - mPos - 4);
            const qsizetype dashes = rest.indexOf("--");
            if (dashes < 0 || dashes + 2 >= rest.size() || rest.at(dashes + 2) != '>')
                return false;
            mPos += 4 + dashes + 3;
            continue;
        }
        if (mPos[1] == '?') {
            const char *p = mPos + 2;
            const char *nameStart = p;
            while (p < mEnd && isNameChar(*p))
                ++p;
            // Only the document's start may declare it XML.
            if (p - nameStart == 3 &&
                QByteArrayView(nameStart, 3).compare("xml", Qt::CaseInsensitive) == 0)
                return false;
            const QByteArrayView rest(p, mEnd - p);
            const qsizetype close = rest.indexOf("?>");
            if (p == nameStart || close < 0)
                return false;
            mPos = p + close + 2;
            continue;
        }
        const bool closing = mPos[1] == '/';
        const char *nameStart = mPos + (closing ? 2 : 1);
        const char *p = nameStart;
        while (p < mEnd && isNameChar(*p))
            ++p;
        if (p == nameStart || p >= mEnd || !isNameStart(*nameStart))
            return false;
        aTag.mName = QByteArrayView(nameStart, p - nameStart);
        const bool attributes = isSpace(*p);
        while (p < mEnd && isSpace(*p))
            ++p;
        if (closing) {
            if (p >= mEnd || *p != '>')
                return false;
            aTag.mKind = Tag::Close;
            mPos = p + 1;
            return true;
        }
        // Attributes, name="value", are passed over; only plist has any.
        if (attributes && p < mEnd && isNameChar(*p) && aTag.mName != "plist")
            return false;
        while (attributes && p < mEnd && isNameChar(*p)) {
            if (!isNameStart(*p))
                return false;
            while (p < mEnd && isNameChar(*p))
                ++p;
            while (p < mEnd && isSpace(*p))
                ++p;
            if (p >= mEnd || *p != '=')
                return false;
            ++p;
            while (p < mEnd && isSpace(*p))
                ++p;
            if (p >= mEnd || (*p != '"' && *p != '\''))
                return false;
            const char quote = *p++;
            while (p < mEnd && *p != quote) {
                if (*p == '<' || *p == '&' || uchar(*p) < 0x20)
                    return false;
                ++p;
            }
            if (p >= mEnd)
                return false;
            ++p;
            if (p < mEnd && !isSpace(*p) && *p != '/' && *p != '>')
                return false;
            while (p < mEnd && isSpace(*p))
                ++p;
        }
        if (p < mEnd && *p == '>') {
            aTag.mKind = Tag::Open;
            mPos = p + 1;
            return true;
        }
        if (mEnd - p >= 2 && p[0] == '/' && p[1] == '>') {
            aTag.mKind = Tag::Empty;
            mPos = p + 2;
            return true;
        }
        return false;
    }
}

bool LibraryXmlScanner::checkText(const char *aEnd, bool &aHasReferences, bool aKept) const
{
    aHasReferences = false;
    for (const char *p = mPos; p < aEnd; ++p) {
        const auto c = uchar(*p);
        if (c >= 0x20) {
            if (c == '&') {
                char32_t ignored;
                if (reference(p, aEnd, ignored) == 0)
                    return false;
                aHasReferences = true;
            } else if (c == '>' && p - mPos >= 2 && p[-1] == ']' && p[-2] == ']') {
                return false;
            }
            continue;
        }
        // A carriage return in kept text would be turned into a line feed;
        // controls are left out.
        if (c != '\t' && c != '\n' && (aKept || c != '\r'))
            return false;
    }
    return true;
}

bool LibraryXmlScanner::rawText(const Tag &aTag, QByteArrayView &aText, bool &aHasReferences)
{
    aText = QByteArrayView();
    aHasReferences = false;
    if (aTag.mKind == Tag::Empty)
        return true;
    const char *lt = static_cast<const char *>(std::memchr(mPos, '<', size_t(mEnd - mPos)));
    if (!lt || !checkText(lt, aHasReferences, true))
        return false;
    aText = QByteArrayView(mPos, lt - mPos);
    // Straight to the end tag: text split by a comment or an element is not ours.
    const qsizetype name = aTag.mName.size();
    const char *p = lt + 2 + name;
    if (mEnd - lt < name + 3 || lt[1] != '/' || QByteArrayView(lt + 2, name) != aTag.mName)
        return false;
    while (p < mEnd && isSpace(*p))
        ++p;
    if (p >= mEnd || *p != '>')
        return false;
    mPos = p + 1;
    return true;
}

bool LibraryXmlScanner::text(const Tag &aTag, QString &aText)
{
    QByteArrayView raw;
    bool references = false;
    if (!rawText(aTag, raw, references))
        return false;
    if (raw.isEmpty()) {
        aText = QString();
        return true;
    }
    if (!references) {
        aText = QString::fromUtf8(raw);
        return true;
    }
    QByteArray decoded;
    decoded.reserve(raw.size());
    const char *end = raw.data() + raw.size();
    for (const char *p = raw.data(); p < end;) {
        if (*p != '&') {
            decoded.append(*p++);
            continue;
        }
        char32_t c = 0;
        const int length = reference(p, end, c);
        appendUtf8(decoded, c);
        p += length;
    }
    aText = QString::fromUtf8(decoded);
    return true;
}

bool LibraryXmlScanner::integer(const Tag &aTag, qint64 &aValue)
{
    QByteArrayView raw;
    bool references = false;
    if (!rawText(aTag, raw, references) || references)
        return false;
    for (const char c : raw) {
        if (uchar(c) >= 0x80)
            return false;
    }
    raw = raw.trimmed();
    aValue = 0;
    qsizetype i = 0;
    const bool negative = !raw.isEmpty() && raw.at(0) == '-';
    if (!raw.isEmpty() && (raw.at(0) == '-' || raw.at(0) == '+'))
        ++i;
    if (raw.size() - i > 18)
        return false;
    qint64 value = 0;
    for (; i < raw.size(); ++i) {
        const char c = raw.at(i);
        // What does not read as a number counts as 0.
        if (c < '0' || c > '9')
            return true;
        value = value * 10 + (c - '0');
    }
    if (raw.size() > (negative || (!raw.isEmpty() && raw.at(0) == '+') ? 1 : 0))
        aValue = negative ? -value : value;
    return true;
}

bool LibraryXmlScanner::boolean(const Tag &aTag, bool &aValue)
{
    aValue = aTag.mName == "true";
    return skip(aTag);
}

bool LibraryXmlScanner::skip(const Tag &aTag)
{
    if (aTag.mKind == Tag::Empty)
        return true;
    if (aTag.mKind != Tag::Open || ++mDepth > MaxDepth)
        return false;
    for (;;) {
        const char *lt = static_cast<const char *>(std::memchr(mPos, '<', size_t(mEnd - mPos)));
        bool references = false;
        if (!lt || !checkText(lt, references, false))
            return false;
        mPos = lt;
        Tag inner;
        if (!nextTag(inner))
            return false;
        if (inner.mKind == Tag::Close) {
            --mDepth;
            return inner.mName == aTag.mName;
        }
        if (!skip(inner))
            return false;
    }
}

bool LibraryXmlScanner::nextKey(QByteArrayView &aKey, Tag &aValue, bool &aEnd)
{
    aEnd = false;
    Tag tag;
    for (;;) {
        if (!nextTag(tag))
            return false;
        if (tag.mKind == Tag::Close) {
            aEnd = tag.mName == "dict";
            return false;
        }
        if (tag.mName == "key")
            break;
        // Anything but a key where a key belongs is passed over.
        if (!skip(tag))
            return false;
    }
    bool references = false;
    if (!rawText(tag, aKey, references) || references)
        return false;
    return nextTag(aValue) && aValue.mKind != Tag::Close;
}

bool LibraryXmlScanner::readRoot()
{
    Tag tag;
    if (!nextTag(tag) || tag.mKind != Tag::Open || tag.mName != "plist")
        return false;
    if (!nextTag(tag) || tag.mKind != Tag::Open || tag.mName != "dict")
        return false;
    QByteArrayView key;
    Tag value;
    bool end = false;
    while (nextKey(key, value, end)) {
        const Key which = LibraryXmlParser::keyOf(key);
        bool ok = true;
        if (which == Key::Tracks && value.mName == "dict") {
            mSawTracks = true;
            ok = value.mKind == Tag::Empty || readTracks();
        } else if (which == Key::Playlists && value.mName == "array") {
            ok = value.mKind == Tag::Empty || readPlaylists();
        } else if (which == Key::MusicFolder) {
            QString folder;
            ok = text(value, folder);
            mSnapshot.mMusicFolder = LibrarySnapshot::decodeFileUrl(folder);
        } else {
            ok = skip(value);
        }
        if (!ok)
            return false;
    }
    return end;
}

bool LibraryXmlScanner::readTracks()
{
    mSawTracks = true;
    QByteArrayView key;
    Tag value;
    bool end = false;
    while (nextKey(key, value, end)) {
        if (value.mName != "dict") {
            if (!skip(value))
                return false;
            continue;
        }
        qint64 id = 0;
        for (const char c : key) {
            if (c < '0' || c > '9' || key.size() > 18)
                return false;
            id = id * 10 + (c - '0');
        }
        if (key.isEmpty())
            return false;
        LibrarySnapshot::TrackRecord track;
        if (value.mKind == Tag::Open && !readTrack(track))
            return false;
        mSnapshot.mTracks.append(std::move(track));
        mTrackIndex.insert(id, qint32(mSnapshot.mTracks.size()) - 1);
    }
    return end;
}

bool LibraryXmlScanner::readTrack(LibrarySnapshot::TrackRecord &aTrack)
{
    QByteArrayView key;
    Tag value;
    bool end = false;
    while (nextKey(key, value, end)) {
        bool ok = true;
        bool flag = false;
        qint64 number = 0;
        switch (LibraryXmlParser::keyOf(key)) {
        case Key::Name:
            ok = text(value, aTrack.mName);
            break;
        case Key::Artist:
            ok = text(value, aTrack.mArtist);
            break;
        case Key::Album:
            ok = text(value, aTrack.mAlbum);
            break;
        case Key::Size:
            ok = integer(value, number);
            aTrack.mSize = number;
            break;
        case Key::TrackNumber:
            ok = integer(value, number);
            aTrack.mTrackNumber = qint32(number);
            break;
        case Key::Compilation:
            ok = boolean(value, aTrack.mCompilation);
            break;
        case Key::Podcast:
            ok = boolean(value, aTrack.mPodcast);
            break;
        case Key::Video:
            ok = boolean(value, flag);
            aTrack.mVideo |= flag;
            break;
        case Key::DateAdded: {
            QByteArrayView raw;
            bool references = false;
            ok = rawText(value, raw, references) && !references;
            aTrack.mDateAdded = LibraryXmlParser::comDateFromIso(QString::fromUtf8(raw));
            break;
        }
        case Key::Location: {
            QString location;
            ok = text(value, location);
            aTrack.mPath = LibrarySnapshot::decodeFileUrl(location);
            break;
        }
        default:
            ok = skip(value);
            break;
        }
        if (!ok)
            return false;
    }
    return end;
}

bool LibraryXmlScanner::readPlaylists()
{
    Tag tag;
    for (;;) {
        if (!nextTag(tag))
            return false;
        if (tag.mKind == Tag::Close)
            return tag.mName == "array";
        if (tag.mName == "dict" && tag.mKind == Tag::Open) {
            if (!readPlaylist())
                return false;
        } else if (tag.mName == "dict") {
            LibrarySnapshot::PlaylistRecord empty;
            LibraryXmlParser::setKinds(empty, {});
            mSnapshot.mPlaylists.append(empty);
        } else if (!skip(tag)) {
            return false;
        }
    }
}

bool LibraryXmlScanner::readPlaylist()
{
    LibrarySnapshot::PlaylistRecord playlist;
    LibraryXmlParser::PlaylistFlags flags;
    QByteArrayView key;
    Tag value;
    bool end = false;
    while (nextKey(key, value, end)) {
        bool ok = true;
        qint64 number = 0;
        switch (LibraryXmlParser::keyOf(key)) {
        case Key::Name:
            ok = text(value, playlist.mName);
            break;
        case Key::Master:
            ok = boolean(value, flags.mMaster);
            break;
        case Key::Folder:
            ok = boolean(value, flags.mFolder);
            break;
        case Key::Music:
            ok = boolean(value, flags.mMusic);
            break;
        case Key::Podcasts:
            ok = boolean(value, flags.mPodcasts);
            break;
        case Key::DistinguishedKind:
            ok = integer(value, number);
            flags.mDistinguished = qint32(number);
            break;
        case Key::Smart:
            playlist.mSmart = true;
            ok = skip(value);
            break;
        case Key::PlaylistItems:
            if (value.mName == "array" && value.mKind == Tag::Open)
                ok = readPlaylistItems(playlist.mTracks);
            else if (value.mName == "array")
                playlist.mTracks.clear();
            else
                ok = skip(value);
            break;
        default:
            ok = skip(value);
            break;
        }
        if (!ok)
            return false;
    }
    LibraryXmlParser::setKinds(playlist, flags);
    mSnapshot.mPlaylists.append(std::move(playlist));
    return end;
}

bool LibraryXmlScanner::readPlaylistItems(QList<qint32> &aTracks)
{
    aTracks.clear();
    Tag tag;
    for (;;) {
        if (!nextTag(tag))
            return false;
        if (tag.mKind == Tag::Close)
            return tag.mName == "array";
        if (tag.mName != "dict" || tag.mKind == Tag::Empty) {
            if (!skip(tag))
                return false;
            continue;
        }
        QByteArrayView key;
        Tag value;
        bool end = false;
        while (nextKey(key, value, end)) {
            if (LibraryXmlParser::keyOf(key) != Key::TrackId) {
                if (!skip(value))
                    return false;
                continue;
            }
            qint64 id = 0;
            if (!integer(value, id))
                return false;
            const auto found = mTrackIndex.constFind(id);
            if (found != mTrackIndex.cend())
                aTracks.append(found.value());
        }
        if (!end)
            return false;
    }
}
