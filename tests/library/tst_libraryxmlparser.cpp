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

#include <ctime>

namespace {

QByteArray plist(const QByteArray &aTracks, const QByteArray &aPlaylists)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>Tracks</key><dict>" +
           aTracks + "</dict><key>Playlists</key><array>" + aPlaylists + "</array></dict></plist>";
}

QByteArray track(int aId, const QByteArray &aBody)
{
    const QByteArray id = QByteArray::number(aId);
    return "<key>" + id + "</key><dict><key>Track ID</key><integer>" + id + "</integer>" + aBody +
           "</dict>";
}

QByteArray playlistXml(const QByteArray &aName, const QByteArray &aKeys,
                       const QList<int> &aIds = {})
{
    QByteArray items;
    for (int id : aIds)
        items +=
            "<dict><key>Track ID</key><integer>" + QByteArray::number(id) + "</integer></dict>";
    return "<dict><key>Name</key><string>" + aName + "</string>" + aKeys +
           "<key>Playlist Items</key><array>" + items + "</array></dict>";
}

LibraryXmlParser::Result parseText(const QByteArray &aXml, LibrarySnapshot &aSnapshot)
{
    QBuffer buffer;
    buffer.setData(aXml);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    return LibraryXmlParser::parse(buffer, aSnapshot, error);
}

const LibrarySnapshot::PlaylistRecord *playlist(const LibrarySnapshot &aSnapshot,
                                                const QString &aName)
{
    for (const auto &p : aSnapshot.mPlaylists) {
        if (p.mName == aName)
            return &p;
    }
    return nullptr;
}

QByteArray readRealFile(const QString &aPath)
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

} // namespace

class TestLibraryXmlParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodeFileUrl_data();
    void decodeFileUrl();
    void comDateFromIso();
    void brokenFiles_data();
    void brokenFiles();
    void kinds();
    void missingMusicPlaylistAndUnknownIds();
    void store();
    void realFiles_data();
    void realFiles();
    void realFileDetails();
};

void TestLibraryXmlParser::decodeFileUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path");
    QTest::newRow("windows drive")
        << u"file://localhost/C:/Users/A/Music/x%20y.mp3"_qs << u"C:/Users/A/Music/x y.mp3"_qs;
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

// The day added must not depend on the computer's time zone.
void TestLibraryXmlParser::comDateFromIso()
{
    for (const char *zone : {"Europe/Berlin", "America/New_York", "UTC"}) {
        qputenv("TZ", zone);
        tzset();
        for (const QString &text : {u"2011-07-15T23:59:59Z"_qs, u"2014-03-30T01:30:00Z"_qs,
                                    u"2011-07-15T20:00:00+02:00"_qs})
            QCOMPARE(LibraryXmlParser::comDateFromIso(text),
                     LibrarySnapshot::toComDate(QDateTime::fromString(text, Qt::ISODate)));
    }
    QCOMPARE(LibraryXmlParser::comDateFromIso(u"2011-01-15T12:00:00Z"), 40558.5);
    QCOMPARE(LibraryXmlParser::comDateFromIso(u"2011-13-15T22:20:29Z"), 0.0);
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
    QTest::newRow("mismatched") << QByteArray("<plist><dict><key>Tracks</key><dict></array>")
                                << int(LibraryXmlParser::Malformed);
    QTest::newRow("other plist")
        << QByteArray("<plist><dict><key>A</key><string>b</string></dict></plist>")
        << int(LibraryXmlParser::NotALibrary);
}

void TestLibraryXmlParser::brokenFiles()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, result);
    LibrarySnapshot snapshot;
    QCOMPARE(int(parseText(xml, snapshot)), result);
}

void TestLibraryXmlParser::kinds()
{
    const QByteArray lists =
        playlistXml("Library", "<key>Master</key><true/><key>Visible</key><false/>", {1}) +
        playlistXml("Voice Memos", "<key>Distinguished Kind</key><integer>17</integer>") +
        playlistXml("90s Music", "<key>Distinguished Kind</key><integer>200</integer>"
                                 "<key>Smart Info</key><data>AQE=</data>") +
        playlistXml("A folder", "<key>Folder</key><true/>", {1}) + playlistXml("Mine", "", {1, 1});
    LibrarySnapshot s;
    QCOMPARE(parseText(plist(track(1, "<key>Name</key><string>A &#38; B</string>"), lists), s),
             LibraryXmlParser::Parsed);
    QCOMPARE(s.mTracks.first().mName, u"A & B"_qs);
    QCOMPARE(s.mPlaylists.at(0).mKind, 1);
    QCOMPARE(playlist(s, u"Voice Memos"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindOther));
    QCOMPARE(playlist(s, u"90s Music"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindNone));
    QVERIFY(playlist(s, u"90s Music"_qs)->mSmart);
    QCOMPARE(playlist(s, u"A folder"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindFolder));
    QCOMPARE(playlist(s, u"Mine"_qs)->mTracks, QList<qint32>({0, 0}));
}

void TestLibraryXmlParser::missingMusicPlaylistAndUnknownIds()
{
    const QByteArray tracks =
        track(1, "<key>Location</key><string>file:///m/a.mp3</string>") +
        track(2, "<key>Podcast</key><true/><key>Location</key><string>file:///m/e.mp3</string>") +
        track(3, "<key>Has Video</key><true/><key>Location</key><string>file:///m/c.m4v</string>") +
        track(4, "<key>Track Type</key><string>URL</string>"
                 "<key>Location</key><string>http://radio/</string>"
                 "<key>Artwork</key><dict><key>x</key><array><integer>1</integer></array></dict>") +
        track(5, "<key>Name</key><string>No location</string>");
    LibrarySnapshot s;
    const QByteArray lists =
        playlistXml("Library", "<key>Master</key><true/>") + playlistXml("Mine", "", {4, 99, 5});
    QCOMPARE(parseText(plist(tracks, lists), s), LibraryXmlParser::Parsed);
    // Only files that are neither podcasts nor videos go into the added Music playlist.
    QCOMPARE(s.mPlaylists.size(), 3);
    QCOMPARE(s.mPlaylists.at(1).mName, u"Music"_qs);
    QCOMPARE(s.mPlaylists.at(1).mSpecialKind, int(ITUserPlaylist::SpecialKindMusic));
    QCOMPARE(s.mPlaylists.at(1).mTracks, QList<qint32>({0}));
    QVERIFY(!s.mTracks.at(3).isFile());
    QVERIFY(!s.mTracks.at(4).isFile());
    QCOMPARE(playlist(s, u"Mine"_qs)->mTracks, QList<qint32>({3, 4}));
}

void TestLibraryXmlParser::store()
{
    TestHome home;
    LibrarySnapshotStore &store = LibrarySnapshotStore::instance();
    const QString path = home.filePath(u"lib.xml"_qs);
    std::shared_ptr<const LibrarySnapshot> first, second, snapshot;
    for (const QString &missing : {home.filePath(u"none.xml"_qs), QString(), home.path()})
        QCOMPARE(store.load(missing, snapshot), ITResult::ServerExecFailure);

    LibraryGenerator::Options options;
    options.mTracks = 30;
    QVERIFY(LibraryGenerator(options).write(path));
    int parses = store.parseCount();
    QCOMPARE(store.load(path, first), ITResult::Ok);
    QCOMPARE(store.load(path, second), ITResult::Ok);
    QCOMPARE(store.parseCount(), parses + 1);
    QCOMPARE(first.get(), second.get());
    QCOMPARE(first->mTracks.size(), 30 + 2 * 3);

    // A half-written file means the library is busy; unchanged, it is not parsed again.
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Tracks</key><dict>");
    file.close();
    parses = store.parseCount();
    QCOMPARE(store.load(path, snapshot), ITResult::CallRejected);
    QCOMPARE(store.load(path, snapshot), ITResult::CallRejected);
    QVERIFY(!snapshot);
    QCOMPARE(store.parseCount(), parses + 1);
    QCOMPARE(first->mTracks.size(), 30 + 2 * 3);

    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html/>");
    file.close();
    QCOMPARE(store.load(path, snapshot), ITResult::ServerExecFailure);

    QVERIFY(LibraryGenerator().write(path));
    QCOMPARE(store.load(path, snapshot), ITResult::Ok);
    // A changed file that cannot be read is missing, not busy.
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    if (QFile(path).open(QIODevice::ReadOnly))
        QSKIP("running with privileges that read any file");
    QVERIFY(file.open(QIODevice::Append));
    file.write(" ");
    file.close();
    QCOMPARE(store.load(path, snapshot), ITResult::ServerExecFailure);
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
    int episodes = 0, ordinary = 0, music = 0;
    for (const auto &t : s.mTracks) {
        episodes += t.mPodcast ? 1 : 0;
        QVERIFY(t.isFile());
    }
    for (const auto &p : s.mPlaylists) {
        ordinary += p.mKind == 2 && p.mSpecialKind == 0 ? 1 : 0;
        music += p.mSpecialKind == ITUserPlaylist::SpecialKindMusic ? 1 : 0;
    }
    QCOMPARE(episodes, podcastEpisodes);
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
    QCOMPARE(first.mSize, 8828919);
    QCOMPARE(qint64(first.mDateAdded), QDate(1899, 12, 30).daysTo(QDate(2011, 1, 15)));
    QVERIFY(first.mPath.startsWith(u"C:/Users/Administrator/Music/Jay-Z/Run This Town [Jay-Z"_qs));
    QVERIFY(first.mPath.endsWith(u"(Explicit Album Version).mp3"_qs));
    QCOMPARE(win.mMusicFolder, u"C:/Users/Administrator/Music/iTunes/iTunes Media/"_qs);
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
    QCOMPARE(playlist(uk, u"Films"_qs)->mSpecialKind, int(ITUserPlaylist::SpecialKindMovies));
}

QTEST_GUILESS_MAIN(TestLibraryXmlParser)
#include "tst_libraryxmlparser.moc"
