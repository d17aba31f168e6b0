#include "library/ituserplaylist.h"
#include "library/librarysnapshotstore.h"
#include "library/libraryxmlparser.h"
#include "librarygenerator.h"
#include "testhome.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimeZone>

#include <ctime>

class TestLibraryXmlParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void decodeFileUrl_data();
    void decodeFileUrl();
    void comDate();
    void comDateFromIso_data();
    void comDateFromIso();
    void brokenFiles_data();
    void brokenFiles();
    void kindsAndSpecialKinds();
    void missingMusicPlaylist();
    void unknownTrackIdsAndStreams();
    void relocation();
    void storeParsesOnlyOnChange();
    void storeAnswersForMissingAndBusyFiles();
    void generatedLibraryRoundTrip();
    void realFiles_data();
    void realFiles();
    void realFileDetails();

private:
    static LibraryXmlParser::Result parseText(const QByteArray &aXml, LibrarySnapshot &aSnapshot);
    static const LibrarySnapshot::PlaylistRecord *playlist(const LibrarySnapshot &aSnapshot,
                                                           const QString &aName);
};

static QByteArray plist(const QByteArray &aTracks, const QByteArray &aPlaylists,
                        const QByteArray &aExtra = QByteArray())
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + aExtra +
           "<key>Tracks</key><dict>" + aTracks + "</dict><key>Playlists</key><array>" + aPlaylists +
           "</array></dict></plist>";
}

static QByteArray track(int aId, const QByteArray &aBody)
{
    return "<key>" + QByteArray::number(aId) + "</key><dict><key>Track ID</key><integer>" +
           QByteArray::number(aId) + "</integer>" + aBody + "</dict>";
}

static QByteArray playlistXml(const QByteArray &aName, const QByteArray &aKeys,
                              const QList<int> &aIds = {})
{
    QByteArray items;
    for (int id : aIds)
        items +=
            "<dict><key>Track ID</key><integer>" + QByteArray::number(id) + "</integer></dict>";
    return "<dict><key>Name</key><string>" + aName + "</string>" + aKeys +
           "<key>Playlist Items</key><array>" + items + "</array></dict>";
}

void TestLibraryXmlParser::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
}

LibraryXmlParser::Result TestLibraryXmlParser::parseText(const QByteArray &aXml,
                                                         LibrarySnapshot &aSnapshot)
{
    QBuffer buffer;
    buffer.setData(aXml);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    return LibraryXmlParser::parse(buffer, aSnapshot, error);
}

const LibrarySnapshot::PlaylistRecord *
TestLibraryXmlParser::playlist(const LibrarySnapshot &aSnapshot, const QString &aName)
{
    for (const auto &p : aSnapshot.mPlaylists) {
        if (p.mName == aName)
            return &p;
    }
    return nullptr;
}

void TestLibraryXmlParser::decodeFileUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path");
    QTest::newRow("windows drive")
        << u"file://localhost/C:/Users/A/Music/x%20y.mp3"_qs << u"C:/Users/A/Music/x y.mp3"_qs;
    QTest::newRow("mac") << u"file://localhost/Users/a/Music/iTunes/b.m4a"_qs
                         << u"/Users/a/Music/iTunes/b.m4a"_qs;
    QTest::newRow("empty host") << u"file:///home/u/a.mp3"_qs << u"/home/u/a.mp3"_qs;
    QTest::newRow("utf-8 escapes") << u"file://localhost/C:/M/T%C3%B6ck's%20V%C3%A4in%C3%A4m.mp3"_qs
                                   << u"C:/M/Töck's Väinäm.mp3"_qs;
    QTest::newRow("escaped percent") << u"file:///m/100%25%20pure.mp3"_qs << u"/m/100% pure.mp3"_qs;
    QTest::newRow("share") << u"file://server/share/a.mp3"_qs << u"//server/share/a.mp3"_qs;
    QTest::newRow("stream") << u"http://radio.example/stream"_qs << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestLibraryXmlParser::decodeFileUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, path);
    QCOMPARE(LibrarySnapshot::decodeFileUrl(url), path);
}

void TestLibraryXmlParser::comDate()
{
    const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    QCOMPARE(LibrarySnapshot::toComDate(epoch), 0.0);
    const QDateTime noon(QDate(2011, 1, 15), QTime(12, 0), Qt::UTC);
    QCOMPARE(LibrarySnapshot::toComDate(noon), 40558.5);
    QCOMPARE(LibrarySnapshot::toComDate(QDateTime()), 0.0);
    QCOMPARE(LibraryXmlParser::comDateFromIso(u"2011-13-15T22:20:29Z"), 0.0);
    QCOMPARE(LibraryXmlParser::comDateFromIso(u"yesterday"), 0.0);
}

void TestLibraryXmlParser::comDateFromIso_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("text");
    for (const char *zone : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"}) {
        for (const char *text :
             {"2011-01-15T22:20:29Z", "2011-07-15T23:59:59Z", "2014-03-30T01:30:00Z",
              "1999-12-31T00:00:00Z", "2011-07-15T20:00:00+02:00"})
            QTest::addRow("%s %s", zone, text) << QByteArray(zone) << QString::fromLatin1(text);
    }
}

void TestLibraryXmlParser::comDateFromIso()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, text);
    qputenv("TZ", zone);
    tzset();
    const double expected = LibrarySnapshot::toComDate(QDateTime::fromString(text, Qt::ISODate));
    const double actual = LibraryXmlParser::comDateFromIso(text);
    qputenv("TZ", "UTC");
    tzset();
    QCOMPARE(actual, expected);
    QVERIFY(actual > 36000);
}

void TestLibraryXmlParser::brokenFiles_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("result");
    const QByteArray good = plist(track(1, "<key>Name</key><string>A</string>"), "");
    QTest::newRow("well-formed") << good << int(LibraryXmlParser::Parsed);
    QTest::newRow("empty file") << QByteArray() << int(LibraryXmlParser::Malformed);
    QTest::newRow("truncated") << good.left(good.size() / 2) << int(LibraryXmlParser::Malformed);
    QTest::newRow("truncated in a tag")
        << good.left(good.indexOf("<string>") + 4) << int(LibraryXmlParser::Malformed);
    QTest::newRow("other plist") << QByteArray("<plist><dict><key>A</key><string>b</string>"
                                               "</dict></plist>")
                                 << int(LibraryXmlParser::NotALibrary);
    QTest::newRow("html") << QByteArray("<html><body>hi</body></html>")
                          << int(LibraryXmlParser::NotALibrary);
    QTest::newRow("mismatched") << QByteArray("<plist><dict><key>Tracks</key><dict></array>")
                                << int(LibraryXmlParser::Malformed);
}

void TestLibraryXmlParser::brokenFiles()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, result);
    LibrarySnapshot snapshot;
    QCOMPARE(int(parseText(xml, snapshot)), result);
}

void TestLibraryXmlParser::kindsAndSpecialKinds()
{
    const QByteArray tracks = track(1, "<key>Name</key><string>A &#38; B</string>"
                                       "<key>Location</key><string>file:///m/a.mp3</string>");
    const QByteArray lists =
        playlistXml("Library", "<key>Master</key><true/><key>Visible</key><false/>", {1}) +
        playlistXml("Music",
                    "<key>Distinguished Kind</key><integer>4</integer>"
                    "<key>Music</key><true/>",
                    {1}) +
        playlistXml("Pods", "<key>Distinguished Kind</key><integer>10</integer>"
                            "<key>Podcasts</key><true/>") +
        playlistXml("Films", "<key>Distinguished Kind</key><integer>2</integer>") +
        playlistXml("Voice Memos", "<key>Distinguished Kind</key><integer>17</integer>") +
        playlistXml("90s Music", "<key>Distinguished Kind</key><integer>200</integer>"
                                 "<key>Smart Info</key><data>AQE=</data>") +
        playlistXml("A folder", "<key>Folder</key><true/>", {1}) +
        playlistXml("Smart", "<key>Smart Info</key><data>AQE=</data>"
                             "<key>Smart Criteria</key><data>AQE=</data>") +
        playlistXml("Mine", "", {1, 1});
    LibrarySnapshot s;
    QCOMPARE(parseText(plist(tracks, lists), s), LibraryXmlParser::Parsed);
    QCOMPARE(s.mTracks.size(), 1);
    QCOMPARE(s.mTracks.first().mName, u"A & B"_qs);
    QCOMPARE(s.mPlaylists.size(), 9);
    QCOMPARE(s.mPlaylists.at(0).mKind, 1);
    const QList<QPair<QString, int>> expected = {
        {u"Music"_qs, ITUserPlaylist::SpecialKindMusic},
        {u"Pods"_qs, ITUserPlaylist::SpecialKindPodcasts},
        {u"Films"_qs, ITUserPlaylist::SpecialKindMovies},
        {u"Voice Memos"_qs, ITUserPlaylist::SpecialKindOther},
        {u"90s Music"_qs, ITUserPlaylist::SpecialKindNone},
        {u"A folder"_qs, ITUserPlaylist::SpecialKindFolder},
        {u"Smart"_qs, ITUserPlaylist::SpecialKindNone},
        {u"Mine"_qs, ITUserPlaylist::SpecialKindNone}};
    for (const auto &[name, kind] : expected) {
        const auto *p = playlist(s, name);
        QVERIFY2(p, qPrintable(name));
        QCOMPARE(p->mKind, 2);
        QCOMPARE(p->mSpecialKind, kind);
    }
    QCOMPARE(playlist(s, u"Mine"_qs)->mTracks, QList<qint32>({0, 0}));
    QVERIFY(playlist(s, u"Smart"_qs)->mSmart);
}

void TestLibraryXmlParser::missingMusicPlaylist()
{
    const QByteArray tracks =
        track(1, "<key>Name</key><string>Song</string>"
                 "<key>Location</key><string>file:///m/a.mp3</string>") +
        track(2, "<key>Name</key><string>Episode</string><key>Podcast</key><true/>"
                 "<key>Location</key><string>file:///m/e.mp3</string>") +
        track(3, "<key>Name</key><string>Clip</string><key>Has Video</key><true/>"
                 "<key>Location</key><string>file:///m/c.m4v</string>") +
        track(4, "<key>Name</key><string>Radio</string><key>Track Type</key><string>URL</string>"
                 "<key>Location</key><string>http://radio/</string>") +
        track(5, "<key>Name</key><string>Other song</string>"
                 "<key>Location</key><string>file:///m/b.mp3</string>");
    LibrarySnapshot s;
    QCOMPARE(parseText(plist(tracks, playlistXml("Mine", "", {5})), s), LibraryXmlParser::Parsed);
    QCOMPARE(s.mPlaylists.size(), 2);
    QCOMPARE(s.mPlaylists.first().mName, u"Music"_qs);
    QCOMPARE(s.mPlaylists.first().mSpecialKind, int(ITUserPlaylist::SpecialKindMusic));
    QCOMPARE(s.mPlaylists.first().mTracks, QList<qint32>({0, 4}));

    LibrarySnapshot withMaster;
    QCOMPARE(
        parseText(plist(tracks, playlistXml("Library", "<key>Master</key><true/>")), withMaster),
        LibraryXmlParser::Parsed);
    QCOMPARE(withMaster.mPlaylists.at(1).mName, u"Music"_qs);
}

void TestLibraryXmlParser::unknownTrackIdsAndStreams()
{
    const QByteArray tracks =
        track(7, "<key>Name</key><string>Stream</string>"
                 "<key>Location</key><string>http://example/x</string>"
                 "<key>Artwork</key><dict><key>x</key><array><integer>1</integer></array></dict>") +
        track(8, "<key>Name</key><string>No location</string>");
    LibrarySnapshot s;
    QCOMPARE(parseText(plist(tracks, playlistXml("Mine", "", {7, 99, 8})), s),
             LibraryXmlParser::Parsed);
    QCOMPARE(s.mTracks.size(), 2);
    QVERIFY(!s.mTracks.at(0).isFile());
    QVERIFY(!s.mTracks.at(1).isFile());
    QCOMPARE(playlist(s, u"Mine"_qs)->mTracks, QList<qint32>({0, 1}));
}

void TestLibraryXmlParser::relocation()
{
    TestHome home;
    QDir(home.path()).mkpath(u"lib/iTunes Media/Music/A"_qs);
    QFile moved(home.filePath(u"lib/iTunes Media/Music/A/here.mp3"_qs));
    QVERIFY(moved.open(QIODevice::WriteOnly));
    moved.close();
    LibrarySnapshot s;
    s.mMusicFolder = u"C:/Users/x/Music/iTunes/iTunes Media/"_qs;
    s.mLibraryFolder = home.filePath(u"lib"_qs);
    LibrarySnapshot::TrackRecord there;
    there.mPath = u"C:/Users/x/Music/iTunes/iTunes Media/Music/A/here.mp3"_qs;
    QCOMPARE(s.localPath(there), moved.fileName());
    LibrarySnapshot::TrackRecord missing;
    missing.mPath = u"C:/Users/x/Music/iTunes/iTunes Media/Music/A/gone.mp3"_qs;
    QCOMPARE(s.localPath(missing), missing.mPath);
    LibrarySnapshot::TrackRecord outside;
    outside.mPath = u"D:/Elsewhere/Music/A/here.mp3"_qs;
    QCOMPARE(s.localPath(outside), outside.mPath);
}

void TestLibraryXmlParser::storeParsesOnlyOnChange()
{
    TestHome home;
    const QString path = home.filePath(u"lib.xml"_qs);
    LibraryGenerator::Options options;
    options.mTracks = 30;
    QVERIFY(LibraryGenerator(options).write(path));
    LibrarySnapshotStore &store = LibrarySnapshotStore::instance();
    const int before = store.parseCount();
    std::shared_ptr<const LibrarySnapshot> first, second, third;
    QCOMPARE(store.load(path, first), ITResult::Ok);
    QCOMPARE(store.load(path, second), ITResult::Ok);
    QCOMPARE(store.parseCount(), before + 1);
    QCOMPARE(first.get(), second.get());
    QCOMPARE(first->mTracks.size(), 30 + 2 * 3);

    options.mTracks = 31;
    QVERIFY(LibraryGenerator(options).write(path));
    QCOMPARE(store.load(path, third), ITResult::Ok);
    QCOMPARE(store.parseCount(), before + 2);
    QCOMPARE(third->mTracks.size(), 31 + 2 * 3);
    QCOMPARE(first->mTracks.size(), 30 + 2 * 3);
}

void TestLibraryXmlParser::storeAnswersForMissingAndBusyFiles()
{
    TestHome home;
    LibrarySnapshotStore &store = LibrarySnapshotStore::instance();
    std::shared_ptr<const LibrarySnapshot> snapshot;
    QCOMPARE(store.load(home.filePath(u"none.xml"_qs), snapshot), ITResult::ServerExecFailure);
    QCOMPARE(store.load(QString(), snapshot), ITResult::ServerExecFailure);
    QCOMPARE(store.load(home.path(), snapshot), ITResult::ServerExecFailure);

    const QString path = home.filePath(u"lib.xml"_qs);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Tracks</key><dict>");
    file.close();
    const int parses = store.parseCount();
    QCOMPARE(store.load(path, snapshot), ITResult::CallRejected);
    QVERIFY(!snapshot);
    // Waiting on an unchanged broken file does not parse it again.
    QCOMPARE(store.load(path, snapshot), ITResult::CallRejected);
    QCOMPARE(store.parseCount(), parses + 1);

    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html/>");
    file.close();
    QCOMPARE(store.load(path, snapshot), ITResult::ServerExecFailure);

    QVERIFY(LibraryGenerator().write(path));
    QCOMPARE(store.load(path, snapshot), ITResult::Ok);
    QVERIFY(snapshot);

    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    std::shared_ptr<const LibrarySnapshot> unreadable;
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("running with privileges that read any file");
    // A changed file that cannot be read is answered like a missing one.
    QVERIFY(file.open(QIODevice::Append));
    file.write(" ");
    file.close();
    QCOMPARE(store.load(path, unreadable), ITResult::ServerExecFailure);
}

void TestLibraryXmlParser::generatedLibraryRoundTrip()
{
    TestHome home;
    LibraryGenerator::Options options;
    options.mTracks = 60;
    options.mPlaylists = 12;
    options.mTracksPerPlaylist = 7;
    const LibraryGenerator generator(options);
    const QString path = home.filePath(u"gen.xml"_qs);
    QVERIFY(generator.write(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    LibrarySnapshot s;
    QString error;
    QCOMPARE(LibraryXmlParser::parse(file, s, error), LibraryXmlParser::Parsed);
    QCOMPARE(s.mTracks.size(), 60 + 6);
    QCOMPARE(s.mPlaylists.size(), 4 + 12);
    QCOMPARE(s.mLibraryFolder, home.path());
    QCOMPARE(s.mMusicFolder, u"C:/Users/gen/Music/iTunes/iTunes Media/"_qs);
    for (int t : {0, 5, 59}) {
        const auto &record = s.mTracks.at(t);
        QCOMPARE(record.mName, generator.trackName(t));
        QCOMPARE(record.mAlbum, generator.albumName(t));
        QCOMPARE(record.mArtist, generator.artistName(t));
        QCOMPARE(record.mTrackNumber, generator.trackNumber(t));
        QCOMPARE(qint64(record.mDateAdded), generator.trackDay(t));
        QCOMPARE(record.mPath, s.mMusicFolder + generator.trackRelativePath(t));
    }
    QVERIFY(s.mTracks.at(60).mPodcast);
    QCOMPARE(playlist(s, generator.playlistName(1))->mTracks.size(), 7);
    QVERIFY(playlist(s, generator.playlistName(9))->mSmart);
    QCOMPARE(playlist(s, u"Folder of lists"_qs)->mSpecialKind,
             int(ITUserPlaylist::SpecialKindFolder));
}

void TestLibraryXmlParser::realFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tracks");
    QTest::addColumn<int>("playlists");
    QTest::addColumn<int>("podcastEpisodes");
    QTest::addColumn<int>("ordinaryPlaylists");
    QTest::newRow("itunes 10 windows") << u"cervantesvive-win-itunes10.xml"_qs << 6 << 14 << 0 << 7;
    QTest::newRow("itunes 10 mac") << u"cervantesvive-mac-itunes10.xml"_qs << 55 << 14 << 32 << 7;
    // No library or Music playlist in this old file: a Music playlist is added.
    QTest::newRow("itunes 7 mac") << u"dinomite-mac-itunes7.xml"_qs << 18 << 3 << 0 << 2;
    QTest::newRow("itunes 11 windows")
        << u"dwittenberg-win-itunes11.xml.gz"_qs << 1779 << 13 << 0 << 8;
}

static QByteArray readRealFile(const QString &aPath)
{
    if (!aPath.endsWith(u".gz"_qs)) {
        QFile file(aPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QProcess gzip;
    gzip.start(u"gzip"_qs, {u"-dc"_qs, aPath});
    if (!gzip.waitForFinished(60000) || gzip.exitCode() != 0)
        return QByteArray();
    return gzip.readAllStandardOutput();
}

void TestLibraryXmlParser::realFiles()
{
    const QString folder = TestHome::realTestData(u"itunes-xml"_qs);
    if (folder.isEmpty())
        QSKIP("real library files (../shared/testdata/real/itunes-xml) are not present");
    QFETCH(QString, file);
    QFETCH(int, tracks);
    QFETCH(int, playlists);
    QFETCH(int, podcastEpisodes);
    QFETCH(int, ordinaryPlaylists);
    const QByteArray xml = readRealFile(folder + QLatin1Char('/') + file);
    QVERIFY2(!xml.isEmpty(), "sample could not be read (gzip missing?)");
    LibrarySnapshot s;
    QCOMPARE(parseText(xml, s), LibraryXmlParser::Parsed);
    QCOMPARE(s.mTracks.size(), tracks);
    QCOMPARE(s.mPlaylists.size(), playlists);
    int episodes = 0;
    for (const auto &t : s.mTracks) {
        episodes += t.mPodcast ? 1 : 0;
        QVERIFY(t.isFile());
    }
    QCOMPARE(episodes, podcastEpisodes);
    int ordinary = 0, music = 0;
    for (const auto &p : s.mPlaylists) {
        ordinary += p.mKind == 2 && p.mSpecialKind == 0 ? 1 : 0;
        music += p.mSpecialKind == ITUserPlaylist::SpecialKindMusic ? 1 : 0;
    }
    QCOMPARE(ordinary, ordinaryPlaylists);
    QCOMPARE(music, 1);
}

void TestLibraryXmlParser::realFileDetails()
{
    const QString folder = TestHome::realTestData(u"itunes-xml"_qs);
    if (folder.isEmpty())
        QSKIP("real library files (../shared/testdata/real/itunes-xml) are not present");
    LibrarySnapshot win;
    QCOMPARE(parseText(readRealFile(folder + u"/cervantesvive-win-itunes10.xml"_qs), win),
             LibraryXmlParser::Parsed);
    const auto &first = win.mTracks.first();
    QCOMPARE(first.mName,
             u"Run This Town [Jay-Z, Rihanna, & Kanye West] (Explicit Album Version)"_qs);
    QCOMPARE(first.mArtist, u"Jay-Z"_qs);
    QCOMPARE(first.mSize, 8828919);
    QCOMPARE(first.mTrackNumber, 1);
    QCOMPARE(qint64(first.mDateAdded), QDate(1899, 12, 30).daysTo(QDate(2011, 1, 15)));
    QVERIFY(first.mPath.startsWith(u"C:/Users/Administrator/Music/Jay-Z/Run This Town [Jay-Z"_qs));
    QVERIFY(first.mPath.endsWith(u"(Explicit Album Version).mp3"_qs));
    QCOMPARE(win.mMusicFolder, u"C:/Users/Administrator/Music/iTunes/iTunes Media/"_qs);
    QVERIFY(playlist(win, u"90’s Music"_qs));
    QCOMPARE(playlist(win, u"Podcasts"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindPodcasts));
    QCOMPARE(playlist(win, u"Genius"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindGenius));

    LibrarySnapshot uk;
    QCOMPARE(parseText(readRealFile(folder + u"/dwittenberg-win-itunes11.xml.gz"_qs), uk),
             LibraryXmlParser::Parsed);
    int compilations = 0, nonAscii = 0;
    for (const auto &t : uk.mTracks) {
        compilations += t.mCompilation ? 1 : 0;
        nonAscii += t.mPath.contains(u"Väinämöinen"_qs) ? 1 : 0;
    }
    QCOMPARE(compilations, 93);
    QVERIFY(nonAscii > 0);
    QCOMPARE(playlist(uk, u"MamaMusic"_qs)->mTracks.size(), 27);
    QCOMPARE(playlist(uk, u"Films"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindMovies));
    QCOMPARE(playlist(uk, u"Voice Memos"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindOther));
    QCOMPARE(playlist(uk, u"Top 25 Most Played"_qs)->mSpecialKind,
             int(ITUserPlaylist::SpecialKindNone));
}

QTEST_GUILESS_MAIN(TestLibraryXmlParser)
#include "tst_libraryxmlparser.moc"
