#include "testhome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUrl>
#include <QVariant>
#include <QXmlStreamReader>

namespace {

const QString DemoFolder = QDir::cleanPath(QStringLiteral(MOBRELAY_TEST_DATA "/../../demo"));
const QString MusicFolderUrl =
    QStringLiteral("file://localhost/C:/Users/demo/Music/iTunes/iTunes%20Media/");

// A property-list value: dict -> QVariantMap, array -> QVariantList.
QVariant readValue(QXmlStreamReader &aReader)
{
    const QStringView tag = aReader.name();
    if (tag == u"dict") {
        QVariantMap map;
        QString key;
        while (aReader.readNextStartElement()) {
            if (aReader.name() == u"key")
                key = aReader.readElementText();
            else
                map.insert(key, readValue(aReader));
        }
        return map;
    }
    if (tag == u"array") {
        QVariantList list;
        while (aReader.readNextStartElement())
            list.append(readValue(aReader));
        return list;
    }
    if (tag == u"true" || tag == u"false") {
        const bool value = tag == u"true";
        aReader.skipCurrentElement();
        return value;
    }
    if (tag == u"integer")
        return aReader.readElementText().toLongLong();
    return aReader.readElementText();
}

} // namespace

class TestDemoLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void tracksPointAtTheirFiles();
    void playlistsReferToTracks();
    void podcastHasThreeEpisodes();
    void staysSmall();

private:
    QVariantMap mLibrary;
    QVariantMap mTracks;
};

void TestDemoLibrary::initTestCase()
{
    QFile file(DemoFolder + QStringLiteral("/iTunes Music Library.xml"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    QXmlStreamReader reader(&file);
    QVERIFY(reader.readNextStartElement() && reader.name() == u"plist");
    QVERIFY(reader.readNextStartElement());
    mLibrary = readValue(reader).toMap();
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    QCOMPARE(mLibrary.value(u"Music Folder"_qs).toString(), MusicFolderUrl);
    mTracks = mLibrary.value(u"Tracks"_qs).toMap();
    QVERIFY(mTracks.size() >= 5);
}

void TestDemoLibrary::tracksPointAtTheirFiles()
{
    bool sawAac = false, sawMp3 = false;
    for (auto it = mTracks.cbegin(); it != mTracks.cend(); ++it) {
        const QVariantMap track = it.value().toMap();
        const QString name = track.value(u"Name"_qs).toString();
        QCOMPARE(track.value(u"Track ID"_qs).toString(), it.key());
        QCOMPARE(track.value(u"Track Type"_qs).toString(), u"File"_qs);
        QCOMPARE(track.value(u"Persistent ID"_qs).toString().size(), 16);
        QVERIFY2(!track.value(u"Artist"_qs).toString().isEmpty(), qPrintable(name));
        QVERIFY2(!track.value(u"Album"_qs).toString().isEmpty(), qPrintable(name));
        QVERIFY(track.value(u"Total Time"_qs).toInt() > 0);
        const QString location = track.value(u"Location"_qs).toString();
        QVERIFY2(location.startsWith(MusicFolderUrl), qPrintable(location));
        // The media folder beside the XML file stands in for the one named in it.
        const QString path =
            DemoFolder + QStringLiteral("/iTunes Media/") +
            QUrl::fromPercentEncoding(location.mid(MusicFolderUrl.size()).toUtf8());
        QFileInfo info(path);
        QVERIFY2(info.isFile(), qPrintable(path));
        QCOMPARE(track.value(u"Size"_qs).toLongLong(), info.size());
        const QString kind = track.value(u"Kind"_qs).toString();
        if (path.endsWith(u".m4a"_qs)) {
            QCOMPARE(kind, u"AAC audio file"_qs);
            sawAac = true;
        } else {
            QVERIFY(path.endsWith(u".mp3"_qs));
            QCOMPARE(kind, u"MPEG audio file"_qs);
            sawMp3 = true;
        }
    }
    QVERIFY(sawAac && sawMp3);
}

void TestDemoLibrary::playlistsReferToTracks()
{
    const QVariantList playlists = mLibrary.value(u"Playlists"_qs).toList();
    QStringList userPlaylists;
    int masters = 0, music = 0, podcasts = 0;
    for (const QVariant &value : playlists) {
        const QVariantMap playlist = value.toMap();
        const QString name = playlist.value(u"Name"_qs).toString();
        const QVariantList items = playlist.value(u"Playlist Items"_qs).toList();
        QVERIFY2(!items.isEmpty(), qPrintable(name));
        for (const QVariant &item : items) {
            const QString id = item.toMap().value(u"Track ID"_qs).toString();
            QVERIFY2(mTracks.contains(id), qPrintable(name + u' ' + id));
        }
        if (playlist.value(u"Master"_qs).toBool()) {
            ++masters;
            QCOMPARE(items.size(), mTracks.size());
        } else if (playlist.contains(u"Distinguished Kind"_qs)) {
            const int kind = playlist.value(u"Distinguished Kind"_qs).toInt();
            if (kind == 4 && playlist.value(u"Music"_qs).toBool())
                ++music;
            else if (kind == 10 && playlist.value(u"Podcasts"_qs).toBool())
                ++podcasts;
            else
                QFAIL(qPrintable(u"unexpected special playlist "_qs + name));
        } else {
            userPlaylists.append(name);
        }
    }
    QCOMPARE(masters, 1);
    QCOMPARE(music, 1);
    QCOMPARE(podcasts, 1);
    QCOMPARE(userPlaylists.size(), 2);
}

void TestDemoLibrary::podcastHasThreeEpisodes()
{
    QMap<QString, QStringList> byPodcast;
    for (const QVariant &value : std::as_const(mTracks)) {
        const QVariantMap track = value.toMap();
        if (track.value(u"Podcast"_qs).toBool())
            byPodcast[track.value(u"Album"_qs).toString()].append(
                track.value(u"Date Added"_qs).toString());
    }
    QCOMPARE(byPodcast.size(), 1);
    QStringList dates = byPodcast.first();
    QCOMPARE(dates.size(), 3);
    dates.removeDuplicates();
    QCOMPARE(dates.size(), 3); // distinct dates, so "newest first" has one answer
}

void TestDemoLibrary::staysSmall()
{
    qint64 total = 0;
    QDirIterator it(DemoFolder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    QVERIFY(total > 0);
    QVERIFY2(total < 1024 * 1024, qPrintable(QString::number(total)));
}

QTEST_GUILESS_MAIN(TestDemoLibrary)
#include "tst_demolibrary.moc"
