#include "librarygenerator.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QXmlStreamWriter>

namespace {

const QDateTime baseDate(QDate(2020, 1, 1), QTime(12, 0), Qt::UTC);

QString safeName(QString aText)
{
    for (QChar &c : aText) {
        if (QStringLiteral("\\/:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    }
    return aText;
}

void writeKey(QXmlStreamWriter &aXml, const QString &aKey)
{
    aXml.writeTextElement(QStringLiteral("key"), aKey);
}

void writeString(QXmlStreamWriter &aXml, const QString &aKey, const QString &aValue)
{
    writeKey(aXml, aKey);
    aXml.writeTextElement(QStringLiteral("string"), aValue);
}

void writeInteger(QXmlStreamWriter &aXml, const QString &aKey, qint64 aValue)
{
    writeKey(aXml, aKey);
    aXml.writeTextElement(QStringLiteral("integer"), QString::number(aValue));
}

void writeTrue(QXmlStreamWriter &aXml, const QString &aKey)
{
    writeKey(aXml, aKey);
    aXml.writeEmptyElement(QStringLiteral("true"));
}

void writeItems(QXmlStreamWriter &aXml, const QList<int> &aIds)
{
    writeKey(aXml, QStringLiteral("Playlist Items"));
    aXml.writeStartElement(QStringLiteral("array"));
    for (int id : aIds) {
        aXml.writeStartElement(QStringLiteral("dict"));
        writeInteger(aXml, QStringLiteral("Track ID"), id);
        aXml.writeEndElement();
    }
    aXml.writeEndElement();
}

QByteArray bigEndian(quint32 aValue)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((aValue >> (24 - 8 * i)) & 0xFF);
    return bytes;
}

QByteArray syncSafe(quint32 aValue)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((aValue >> (21 - 7 * i)) & 0x7F);
    return bytes;
}

} // namespace

QString LibraryGenerator::trackName(int aTrack) const
{
    QString name = QStringLiteral("Track %1").arg(aTrack);
    if (mOptions.mNonAscii && aTrack % 5 == 0)
        name += QStringLiteral(" – Café Ünïcode ☃ & <Co>");
    return name;
}

QString LibraryGenerator::albumName(int aTrack) const
{
    const int album = aTrack / 12;
    if (mOptions.mNonAscii && album % 3 == 0)
        return QStringLiteral("Älbum %1 (Größe)").arg(album);
    return QStringLiteral("Album %1").arg(album);
}

QString LibraryGenerator::artistName(int aTrack) const
{
    const int artist = aTrack / 48;
    if (mOptions.mNonAscii && artist % 2 == 1)
        return QStringLiteral("Артист %1").arg(artist);
    return QStringLiteral("Artist %1").arg(artist);
}

QString LibraryGenerator::playlistName(int aPlaylist) const
{
    if (mOptions.mNonAscii && aPlaylist % 4 == 1)
        return QStringLiteral("Liste für Fahrten %1 ♫").arg(aPlaylist);
    return QStringLiteral("Playlist %1").arg(aPlaylist);
}

QString LibraryGenerator::podcastName(int aPodcast) const
{
    if (mOptions.mNonAscii && aPodcast % 2 == 1)
        return QStringLiteral("Émission %1").arg(aPodcast);
    return QStringLiteral("Podcast %1").arg(aPodcast);
}

QString LibraryGenerator::episodeName(int aPodcast, int aEpisode) const
{
    return QStringLiteral("Episode %1.%2").arg(aPodcast).arg(aEpisode);
}

QString LibraryGenerator::trackRelativePath(int aTrack) const
{
    return QStringLiteral("Music/%1/%2/%3 %4.mp3")
        .arg(safeName(artistName(aTrack)), safeName(albumName(aTrack)))
        .arg(trackNumber(aTrack), 2, 10, QLatin1Char('0'))
        .arg(safeName(trackName(aTrack)));
}

QString LibraryGenerator::episodeRelativePath(int aPodcast, int aEpisode) const
{
    return QStringLiteral("Podcasts/%1/%2.mp3")
        .arg(safeName(podcastName(aPodcast)), safeName(episodeName(aPodcast, aEpisode)));
}

QList<int> LibraryGenerator::playlistTracks(int aPlaylist) const
{
    QList<int> tracks;
    if (mOptions.mTracks == 0)
        return tracks;
    const int count = qMin(mOptions.mTracksPerPlaylist, mOptions.mTracks);
    for (int i = 0; i < count; ++i)
        tracks.append((aPlaylist * 97 + i) % mOptions.mTracks);
    return tracks;
}

qint64 LibraryGenerator::trackDay(int aTrack) const
{
    return QDate(1899, 12, 30).daysTo(baseDate.addSecs(qint64(aTrack) * 3600).date());
}

QByteArray LibraryGenerator::jpegPicture()
{
    return QByteArray::fromHex("ffd8ffe000104a46494600010100000100010000ffd9");
}

QByteArray LibraryGenerator::pngPicture()
{
    return QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000001000000010806000000");
}

QByteArray LibraryGenerator::minimalMp3(const QByteArray &aPicture, const QByteArray &aMimeType)
{
    QByteArray frames;
    if (!aPicture.isEmpty()) {
        QByteArray apic;
        apic += '\0';
        apic += aMimeType + '\0';
        apic += '\x03';
        apic += '\0';
        apic += aPicture;
        frames += "APIC" + bigEndian(quint32(apic.size())) + QByteArray(2, '\0') + apic;
    }
    QByteArray title = QByteArray(1, '\0') + "generated";
    frames += "TIT2" + bigEndian(quint32(title.size())) + QByteArray(2, '\0') + title;
    QByteArray file = "ID3" + QByteArray::fromHex("0300") + '\0' + syncSafe(quint32(frames.size()));
    file += frames;
    // Three silent MPEG-1 layer III frames, 128 kbit/s at 44.1 kHz (417 bytes each).
    for (int i = 0; i < 3; ++i)
        file += QByteArray::fromHex("fffb9000") + QByteArray(413, '\0');
    return file;
}

bool LibraryGenerator::write(const QString &aXmlPath) const
{
    const Options &o = mOptions;
    const QString mediaFolder =
        QFileInfo(aXmlPath).absolutePath() + QStringLiteral("/iTunes Media/");
    const auto location = [&o](const QString &aRelative) -> QString {
        return o.mMusicFolderUrl +
               QString::fromLatin1(QUrl::toPercentEncoding(aRelative, "/,&()'!$+=;@~-._"));
    };
    QByteArray mime = o.mArtwork == "png" ? QByteArray("image/png") : QByteArray("image/jpeg");
    QByteArray picture = o.mArtwork == "png"    ? pngPicture()
                         : o.mArtwork == "jpeg" ? jpegPicture()
                                                : QByteArray();
    const QByteArray audio = minimalMp3(picture, mime);
    const auto createFile = [&](const QString &aRelative) {
        if (!o.mCreateFiles)
            return true;
        const QString path = mediaFolder + aRelative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(audio) == audio.size();
    };

    QFile file(aXmlPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(-1);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("dict"));
    writeInteger(xml, QStringLiteral("Major Version"), 1);
    writeString(xml, QStringLiteral("Application Version"), QStringLiteral("10.1.1"));
    writeString(xml, QStringLiteral("Music Folder"), o.mMusicFolderUrl);

    writeKey(xml, QStringLiteral("Tracks"));
    xml.writeStartElement(QStringLiteral("dict"));
    bool filesOk = true;
    const auto writeTrack = [&](int aId, const QString &aName, const QString &aArtist,
                                const QString &aAlbum, int aNumber, const QDateTime &aAdded,
                                const QString &aRelative, bool aPodcast) {
        writeKey(xml, QString::number(aId));
        xml.writeStartElement(QStringLiteral("dict"));
        writeInteger(xml, QStringLiteral("Track ID"), aId);
        writeString(xml, QStringLiteral("Name"), aName);
        writeString(xml, QStringLiteral("Artist"), aArtist);
        writeString(xml, QStringLiteral("Album"), aAlbum);
        writeString(xml, QStringLiteral("Kind"), QStringLiteral("MPEG audio file"));
        writeInteger(xml, QStringLiteral("Size"), audio.size());
        writeInteger(xml, QStringLiteral("Total Time"), 78);
        if (aNumber > 0)
            writeInteger(xml, QStringLiteral("Track Number"), aNumber);
        writeKey(xml, QStringLiteral("Date Added"));
        xml.writeTextElement(QStringLiteral("date"), aAdded.toString(Qt::ISODate));
        if (aPodcast)
            writeTrue(xml, QStringLiteral("Podcast"));
        writeString(xml, QStringLiteral("Track Type"), QStringLiteral("File"));
        writeString(xml, QStringLiteral("Location"), location(aRelative));
        xml.writeEndElement();
        filesOk = createFile(aRelative) && filesOk;
    };
    QList<int> musicIds, episodeIds;
    for (int t = 0; t < o.mTracks; ++t) {
        writeTrack(1000 + t, trackName(t), artistName(t), albumName(t), trackNumber(t),
                   baseDate.addSecs(qint64(t) * 3600), trackRelativePath(t), false);
        musicIds.append(1000 + t);
    }
    int id = 1000 + o.mTracks;
    for (int p = 0; p < o.mPodcasts; ++p) {
        for (int e = 0; e < o.mEpisodesPerPodcast; ++e, ++id) {
            writeTrack(id, episodeName(p, e), QStringLiteral("Host %1").arg(p), podcastName(p), 0,
                       baseDate.addDays(e * 7 + p), episodeRelativePath(p, e), true);
            episodeIds.append(id);
        }
    }
    xml.writeEndElement();

    writeKey(xml, QStringLiteral("Playlists"));
    xml.writeStartElement(QStringLiteral("array"));
    const auto startPlaylist = [&xml](const QString &aName) {
        xml.writeStartElement(QStringLiteral("dict"));
        writeString(xml, QStringLiteral("Name"), aName);
    };
    startPlaylist(QStringLiteral("Library"));
    writeTrue(xml, QStringLiteral("Master"));
    writeItems(xml, musicIds + episodeIds);
    xml.writeEndElement();
    startPlaylist(QStringLiteral("Music"));
    writeInteger(xml, QStringLiteral("Distinguished Kind"), 4);
    writeTrue(xml, QStringLiteral("Music"));
    writeItems(xml, musicIds);
    xml.writeEndElement();
    startPlaylist(QStringLiteral("Podcasts"));
    writeInteger(xml, QStringLiteral("Distinguished Kind"), 10);
    writeTrue(xml, QStringLiteral("Podcasts"));
    writeItems(xml, episodeIds);
    xml.writeEndElement();
    startPlaylist(QStringLiteral("Folder of lists"));
    writeTrue(xml, QStringLiteral("Folder"));
    xml.writeEndElement();
    for (int p = 0; p < o.mPlaylists; ++p) {
        startPlaylist(playlistName(p));
        if (p % 10 == 9) {
            writeKey(xml, QStringLiteral("Smart Info"));
            xml.writeTextElement(QStringLiteral("data"), QStringLiteral("AQEAAwAAAAIAAAAZ"));
        }
        QList<int> ids;
        for (int t : playlistTracks(p))
            ids.append(1000 + t);
        writeItems(xml, ids);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return filesOk && file.error() == QFileDevice::NoError;
}
