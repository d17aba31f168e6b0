#include "library/ituserplaylist.h"
#include "library/librarysnapshotstore.h"
#include "library/libraryxmlparser.h"
#include "library/libraryxmlscanner.h"
#include "librarygenerator.h"
#include "testhome.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <algorithm>

namespace {

QByteArray plist(const QByteArray &aTracks, const QByteArray &aPlaylists)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>Tracks</key><dict>" +
           aTracks + "</dict><key>Playlists</key><array>" + aPlaylists + "</array></dict></plist>";
}

LibraryXmlParser::Result parseText(const QByteArray &aXml, LibrarySnapshot &aSnapshot,
                                   QString *aError = nullptr)
{
    QBuffer buffer;
    buffer.setData(aXml);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    return LibraryXmlParser::parse(buffer, aSnapshot, aError ? *aError : error);
}

QByteArray readRealFile(const QString &aPath)
{
    QProcess gzip;
    gzip.start(u"gzip"_qs, {u"-dcf"_qs, aPath});
    if (!gzip.waitForFinished(60000) || gzip.exitCode() != 0)
        return QByteArray();
    return gzip.readAllStandardOutput();
}

void writeFile(const QString &aPath, const QByteArray &aData)
{
    QFile file(aPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(aData);
}

} // namespace

class TestLibraryXmlParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void brokenFiles_data();
    void brokenFiles();
    void unknownTrackIds();
    void store();
    void realFiles_data();
    void realFiles();
    void scannerReadsAsTheReader_data();
    void scannerReadsAsTheReader();
};

void TestLibraryXmlParser::brokenFiles_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("result");
    // The first track's name once parsed, else the start of the error.
    QTest::addColumn<QString>("expected");
    const auto track = [](const QByteArray &aName, const QByteArray &aBefore = {}) {
        return plist("<key>1</key><dict><key>Track ID</key><integer>1</integer>" + aBefore +
                         "<key>Name</key><string>" + aName + "</string></dict>",
                     "");
    };
    const QByteArray good = track("One");
    QTest::newRow("empty file") << QByteArray() << int(LibraryXmlParser::Truncated)
                                << u"line 1, column 0: "_qs;
    QTest::newRow("tag mismatch") << QByteArray(good).replace("</string>", "</strong>")
                                  << int(LibraryXmlParser::Malformed)
                                  << u"line 2, column 142: Opening and ending tag mismatch."_qs;
    QTest::newRow("other plist")
        << QByteArray("<plist><dict><key>A</key><string>b</string></dict></plist>")
        << int(LibraryXmlParser::NotALibrary) << QString();
    // Control characters, raw or as references, are left out; other references stay.
    QTest::newRow("control characters") << track("A\x01"
                                                 "B&#x1f;C&#38;D&#9;E&#0000002;F\x1b")
                                        << int(LibraryXmlParser::Parsed) << u"ABC&D\tEF"_qs;
    // The reference straddles the filter's 64 KiB read.
    const QByteArray comment = "<key>Comments</key><string></string>";
    const QByteArray unpadded = track("G&#x1;H", comment);
    const QByteArray filler(65534 - unpadded.indexOf("&#x1;"), 'x');
    QTest::newRow("reference across a read")
        << track("G&#x1;H", QByteArray(comment).insert(27, filler)) << int(LibraryXmlParser::Parsed)
        << u"GH"_qs;
}

void TestLibraryXmlParser::brokenFiles()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, result);
    QFETCH(QString, expected);
    LibrarySnapshot snapshot;
    QString error;
    QCOMPARE(int(parseText(xml, snapshot, &error)), result);
    if (result == LibraryXmlParser::Parsed)
        QCOMPARE(snapshot.mTracks.first().mName, expected);
    else
        QVERIFY2(error.startsWith(expected), qPrintable(error));
}

void TestLibraryXmlParser::unknownTrackIds()
{
    const QByteArray lists = "<dict><key>Name</key><string>Mine</string><key>Playlist "
                             "Items</key><array><dict><key>Track ID</key><integer>99</integer>"
                             "</dict></array></dict>";
    LibrarySnapshot s;
    QCOMPARE(parseText(plist("", lists), s), LibraryXmlParser::Parsed);
    QVERIFY(s.mPlaylists.first().mTracks.isEmpty());
}

void TestLibraryXmlParser::store()
{
    TestHome home;
    LibrarySnapshotStore &store = LibrarySnapshotStore::instance();
    const QString path = home.filePath(u"lib.xml"_qs);
    std::shared_ptr<const LibrarySnapshot> first, snapshot;
    for (const QString &missing : {home.filePath(u"none.xml"_qs), QString(), home.path()})
        QCOMPARE(store.load(missing, snapshot), ITResult::ServerExecFailure);

    LibraryGenerator::Options options;
    options.mTracks = 30;
    QVERIFY(LibraryGenerator(options).write(path));
    QCOMPARE(store.load(path, first), ITResult::Ok);
    QCOMPARE(first->mTracks.size(), 30 + 2 * 3);

    // A half-written file means the library is busy, and the earlier snapshot stays intact.
    const QByteArray half =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Tracks</key><dict>";
    writeFile(path, half);
    LibrarySnapshotStore::Problem problem;
    QCOMPARE(store.load(path, snapshot, &problem), ITResult::CallRejected);
    QCOMPARE(problem.mKind, LibrarySnapshotStore::Problem::Incomplete);
    QVERIFY(!snapshot);
    QCOMPARE(first->mTracks.size(), 30 + 2 * 3);

    // A broken file looks like an iTunes that is not running; the store says why.
    writeFile(path, half + "</plist>");
    QCOMPARE(store.load(path, snapshot, &problem), ITResult::ServerExecFailure);
    QCOMPARE(problem.mKind, LibrarySnapshotStore::Problem::Malformed);
    QVERIFY2(problem.mDetail.startsWith(u"line 1, column 79: "_qs), qPrintable(problem.mDetail));
    QCOMPARE(store.load(path, snapshot, &problem), ITResult::ServerExecFailure);
    QCOMPARE(problem.mKind, LibrarySnapshotStore::Problem::Malformed);

    writeFile(path, "<html/>");
    QCOMPARE(store.load(path, snapshot, &problem), ITResult::ServerExecFailure);
    QCOMPARE(problem.mKind, LibrarySnapshotStore::Problem::NotALibrary);
}

void TestLibraryXmlParser::realFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tracks");
    QTest::addColumn<int>("playlists");
    QTest::addColumn<int>("podcastEpisodes");
    QTest::addColumn<QString>("firstName");
    QTest::addColumn<QString>("firstPathEnd");
    QTest::addColumn<QString>("playlist");
    QTest::addColumn<int>("kind");
    QTest::newRow("itunes 10 windows")
        << u"cervantesvive-win-itunes10.xml"_qs << 6 << 14 << 0
        << u"Run This Town [Jay-Z, Rihanna, & Kanye West] (Explicit Album Version)"_qs
        << u"C:/Users/Administrator/Music/Jay-Z/Run This Town [Jay-Z, Rihanna, & Kanye West] "
           "[Explicit]/01 Run This Town [Jay-Z, Rihanna, & Kanye West] (Explicit Album "
           "Version).mp3"_qs
        << u"Podcasts"_qs << int(ITUserPlaylist::SpecialKindPodcasts);
    QTest::newRow("itunes 10 mac")
        << u"cervantesvive-mac-itunes10.xml"_qs << 55 << 14 << 32 << u"3 A.M. [Explicit]"_qs
        << u"/Users/cervantes_vive/Music/iTunes/iTunes Music/Eminem/3 A.M. [Explicit]/01 3 A.M. "
           "[Explicit].mp3"_qs
        << u"Genius"_qs << int(ITUserPlaylist::SpecialKindGenius);
    // No library or Music playlist in this old file: a Music playlist is added.
    QTest::newRow("itunes 7 mac")
        << u"dinomite-mac-itunes7.xml"_qs << 18 << 3 << 0 << u"Push the Limits"_qs
        << u"/Users/dinomite/Music/iTunes/iTunes Music/ATB/Unknown Album/Push the Limits.mp3"_qs
        << u"Music"_qs << int(ITUserPlaylist::SpecialKindMusic);
    QTest::newRow("itunes 11 windows")
        << u"dwittenberg-win-itunes11.xml.gz"_qs << 1779 << 13 << 0 << u"The Downfall Of Us All"_qs
        << u"C:/Users/Emile/Music/iTunes/iTunes Media/Music/A Day to Remember/Homesick/01 The "
           "Downfall Of Us All.mp3"_qs
        << u"Films"_qs << int(ITUserPlaylist::SpecialKindMovies);
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
    QFETCH(QString, firstName);
    QFETCH(QString, firstPathEnd);
    QFETCH(QString, playlist);
    QFETCH(int, kind);
    const QByteArray xml = readRealFile(folder + QLatin1Char('/') + file);
    QVERIFY2(!xml.isEmpty(), "sample could not be read (gzip missing?)");
    LibrarySnapshot s;
    QCOMPARE(parseText(xml, s), LibraryXmlParser::Parsed);
    QCOMPARE(s.mTracks.size(), tracks);
    QCOMPARE(s.mPlaylists.size(), playlists);
    int episodes = 0;
    for (const auto &t : s.mTracks)
        episodes += t.mPodcast ? 1 : 0;
    QCOMPARE(episodes, podcastEpisodes);
    QCOMPARE(s.mTracks.first().mName, firstName);
    QVERIFY(s.mTracks.first().mPath.endsWith(firstPathEnd));
    const auto named = std::find_if(s.mPlaylists.cbegin(), s.mPlaylists.cend(),
                                    [&](const auto &p) { return p.mName == playlist; });
    QVERIFY(named != s.mPlaylists.cend());
    QCOMPARE(named->mSpecialKind, kind);
}

void TestLibraryXmlParser::scannerReadsAsTheReader_data()
{
    QTest::addColumn<QByteArray>("xml");
    // Whether the fast scanner reads it, rather than leaving it to the XML reader.
    QTest::addColumn<bool>("scanned");
    TestHome home;
    const QString generated = home.filePath(u"lib.xml"_qs);
    QVERIFY(LibraryGenerator().write(generated));
    QFile file(generated);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QTest::newRow("generated") << file.readAll() << true;
    const QString folder = TestHome::realTestData(u"itunes-xml"_qs);
    for (const char *name : {"cervantesvive-win-itunes10.xml", "dwittenberg-win-itunes11.xml.gz"}) {
        if (!folder.isEmpty())
            QTest::newRow(name) << readRealFile(folder + QLatin1Char('/') + QLatin1String(name))
                                << true;
    }
    const auto track = [](const QByteArray &aFields) {
        return plist("<key>7</key><dict><key>Track ID</key><integer>7</integer>" + aFields +
                         "</dict>",
                     "<dict><key>Name</key><string>P</string><key>Smart Info</key><data>\r\nAQ"
                     "==\r\n</data><key>Playlist Items</key><array><dict><key>Track ID</key>"
                     "<integer>7</integer></dict><dict/></array></dict><dict/>");
    };
    QTest::newRow("references and empty values")
        << track("<key>Name</key><string>A &amp; B &#233;&#x1F600; &lt;&gt;&quot;&apos;</string>"
                 "<key>Artist</key><string/><key>Album</key><string></string>"
                 "<key>Compilation</key><true/><key>Podcast</key><false/><key>Movie</key><true/>"
                 "<key>Has Video</key><false/>")
        << true;
    QTest::newRow("numbers") << track("<key>Size</key><integer> 12 </integer>"
                                      "<key>Track Number</key><integer>3x</integer>")
                             << true;
    QTest::newRow("comments and unknown keys")
        << track("<!-- a --><key>Play Count</key><dict><key>x</key><array><integer>1</integer>"
                 "</array></dict><key>Name</key><string>N</string><?pi data?>")
        << true;
    QTest::newRow("date and location")
        << track("<key>Date Added</key><date>2011-01-15T22:20:29Z</date><key>Location</key>"
                 "<string>file://localhost/C:/M%C3%BCsic/a.mp3</string>")
        << true;
    // Left to the reader: a carriage return it would turn into a line feed, a
    // character XML forbids, CDATA, a namespace prefix and a declaration of its own.
    QTest::newRow("carriage return") << track("<key>Name</key><string>a\r\nb</string>") << false;
    QTest::newRow("control character") << track("<key>Name</key><string>a\x01</string>") << false;
    QTest::newRow("cdata") << track("<key>Name</key><string><![CDATA[x]]></string>") << false;
    QTest::newRow("prefix") << track("<key>Name</key><x:string>a</x:string>") << false;
    QTest::newRow("declaration") << QByteArray(track("")).replace("1.0\" encoding",
                                                                  "1.1\" encoding")
                                 << false;
    QTest::newRow("truncated") << track("").chopped(20) << false;
    QTest::newRow("mismatch") << QByteArray(track("")).replace("</integer>", "</integr>") << false;
}

void TestLibraryXmlParser::scannerReadsAsTheReader()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, scanned);
    LibrarySnapshot quick;
    QCOMPARE(LibraryXmlScanner::scan(xml, quick), scanned);
    LibrarySnapshot read, reference;
    QString error, referenceError;
    QBuffer buffer(&xml), referenceBuffer(&xml);
    buffer.open(QIODevice::ReadOnly);
    referenceBuffer.open(QIODevice::ReadOnly);
    const auto result = LibraryXmlParser::parse(buffer, read, error);
    QCOMPARE(result, LibraryXmlParser::parseWithReader(referenceBuffer, reference, referenceError));
    QCOMPARE(error, referenceError);
    if (result != LibraryXmlParser::Parsed)
        return;
    reference.addMissingMusicPlaylist();
    QCOMPARE(read.mMusicFolder, reference.mMusicFolder);
    QCOMPARE(read.mTracks.size(), reference.mTracks.size());
    for (qsizetype i = 0; i < read.mTracks.size(); ++i) {
        const LibrarySnapshot::TrackRecord &a = read.mTracks.at(i), &b = reference.mTracks.at(i);
        QCOMPARE(a.mName, b.mName);
        QCOMPARE(a.mName.isNull(), b.mName.isNull());
        QCOMPARE(a.mArtist, b.mArtist);
        QCOMPARE(a.mAlbum, b.mAlbum);
        QCOMPARE(a.mPath, b.mPath);
        QCOMPARE(a.mSize, b.mSize);
        QCOMPARE(a.mTrackNumber, b.mTrackNumber);
        QCOMPARE(a.mCompilation, b.mCompilation);
        QCOMPARE(a.mPodcast, b.mPodcast);
        QCOMPARE(a.mVideo, b.mVideo);
        QCOMPARE(a.mDateAdded, b.mDateAdded);
    }
    QCOMPARE(read.mPlaylists.size(), reference.mPlaylists.size());
    for (qsizetype i = 0; i < read.mPlaylists.size(); ++i) {
        const LibrarySnapshot::PlaylistRecord &a = read.mPlaylists.at(i),
                                              &b = reference.mPlaylists.at(i);
        QCOMPARE(a.mName, b.mName);
        QCOMPARE(a.mKind, b.mKind);
        QCOMPARE(a.mSpecialKind, b.mSpecialKind);
        QCOMPARE(a.mSmart, b.mSmart);
        QCOMPARE(a.mTracks, b.mTracks);
    }
}

QTEST_GUILESS_MAIN(TestLibraryXmlParser)
#include "tst_libraryxmlparser.moc"
