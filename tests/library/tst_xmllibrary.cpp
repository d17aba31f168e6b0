#include "library/librarysnapshotstore.h"
#include "library/localmusiclibrary.h"
#include "library/xmlitunesappfactory.h"
#include "librarygenerator.h"
#include "settings/syncsettings.h"
#include "sync/tracklist.h"
#include "testhome.h"

#include "config.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <ctime>

class TestXmlLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void configuredLibrary();
    void libraryLocation();
    void fileBeingWrittenIsWaitedFor();
    void fileChangesAreEvents();
    void realLibraryThroughTheLibraryLayer();

private:
    void configure(const QString &aPath);

    std::unique_ptr<TestHome> mHome;
    LibraryGenerator::Options mOptions;
};

void TestXmlLibrary::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
}

void TestXmlLibrary::init()
{
    mHome = std::make_unique<TestHome>();
    mOptions = LibraryGenerator::Options();
    mOptions.mTracks = 40;
    mOptions.mPlaylists = 6;
    mOptions.mTracksPerPlaylist = 10;
    mOptions.mCreateFiles = true;
}

void TestXmlLibrary::configure(const QString &aPath)
{
    SyncSettings settings;
    settings.load();
    settings.setLibraryPath(aPath);
    QCOMPARE(settings.save(), 0);
}

void TestXmlLibrary::configuredLibrary()
{
    const LibraryGenerator generator(mOptions);
    const QString path = mHome->filePath(u"elsewhere/My Library.xml"_qs);
    QVERIFY(QDir().mkpath(mHome->filePath(u"elsewhere"_qs)));
    QVERIFY(generator.write(path));
    configure(path);

    LocalMusicLibrary library;
    QVERIFY(library.refreshPlaylists());
    QCOMPARE(library.playlists().value(1), generator.playlistName(1));

    TrackList tracks, drm;
    LocalPlaylist playlist;
    qint64 size = 0;
    QCOMPARE(library.getAllTracks(generator.playlistName(1), tracks, size, false, drm, playlist),
             0);
    QCOMPARE(playlist.mEntries.size(), 10);
    const int first = generator.playlistTracks(1).first();
    const Track &track = tracks.at(0);
    QCOMPARE(track.mTrackName, generator.trackName(first));
    QCOMPARE(track.mDateAdded, generator.trackDay(first));
    // The XML names another computer's drive; the file is found beside the XML.
    QCOMPARE(track.mPath,
             mHome->filePath(u"elsewhere/iTunes Media/"_qs) + generator.trackRelativePath(first));
    QVERIFY(QFile::exists(track.mPath));
    QCOMPARE(size, 10 * QFileInfo(track.mPath).size());

    if (HAVE_TAGLIB) {
        QFile art(library.generateArtwork(track));
        QVERIFY(art.open(QIODevice::ReadOnly));
        QCOMPARE(art.readAll(), LibraryGenerator::jpegPicture());
    }

    library.refreshPodcasts();
    QCOMPARE(library.podcasts(), QStringList({generator.podcastName(0), generator.podcastName(1)}));
}

void TestXmlLibrary::libraryLocation()
{
    const QStringList defaults = XmlITunesAppFactory::defaultLibraryFiles();
    QCOMPARE(defaults, QStringList({mHome->filePath(u"Music/iTunes/iTunes Music Library.xml"_qs),
                                    mHome->filePath(u"Music/iTunes/iTunes Library.xml"_qs)}));
    QVERIFY(QDir().mkpath(mHome->filePath(u"Music/iTunes"_qs)));
    QVERIFY(LibraryGenerator(mOptions).write(defaults.at(1)));
    QCOMPARE(XmlITunesAppFactory::configuredLibraryFile(), defaults.at(1));

    // A configured file that does not exist is a missing library, not the default one.
    configure(mHome->filePath(u"nowhere.xml"_qs));
    LocalMusicLibrary library;
    library.setRetryPause(1);
    int failures = 0;
    connect(&library, &LocalMusicLibrary::iTunesFailure, this, [&] {
        if (++failures == 3)
            library.setCancelled(true);
    });
    QSignalSpy complete(&library, &LocalMusicLibrary::initialisationComplete);
    library.initialise();
    QCOMPARE(failures, 3);
    QCOMPARE(complete.count(), 0);
    configure(defaults.at(1));
    library.setCancelled(false);
    library.initialise();
    QCOMPARE(complete.count(), 1);
}

void TestXmlLibrary::fileBeingWrittenIsWaitedFor()
{
    const QString path = mHome->filePath(u"lib.xml"_qs);
    const LibraryGenerator generator(mOptions);
    QVERIFY(generator.write(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray whole = file.readAll();
    QVERIFY(file.resize(whole.size() / 3));
    file.close();

    LocalMusicLibrary library(std::make_shared<XmlITunesAppFactory>(path));
    library.setRetryPause(1);
    int failures = 0;
    connect(&library, &LocalMusicLibrary::iTunesFailure, this, [&] {
        if (++failures == 3) {
            QFile finished(path);
            QVERIFY(finished.open(QIODevice::WriteOnly));
            finished.write(whole);
        }
    });
    QVERIFY(library.refreshPlaylists());
    QCOMPARE(failures, 3);
    QCOMPARE(library.playlists().size(), mOptions.mPlaylists);
}

void TestXmlLibrary::fileChangesAreEvents()
{
    const QString path = mHome->filePath(u"lib.xml"_qs);
    QVERIFY(LibraryGenerator(mOptions).write(path));
    LocalMusicLibrary library(std::make_shared<XmlITunesAppFactory>(path));
    QSignalSpy events(&library, &LocalMusicLibrary::localLibraryEvent);
    QCOMPARE(library.listenForITunesEvents(), ITResult::Ok);

    // Written beside and renamed over the old file, as library writers do.
    const QString temporary = mHome->filePath(u"lib.xml.tmp"_qs);
    mOptions.mTracks = 41;
    QVERIFY(LibraryGenerator(mOptions).write(temporary));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(temporary, path));
    QTRY_VERIFY_WITH_TIMEOUT(events.count() >= 1, 10000);

    // The new file is watched as well.
    QTest::qWait(100);
    const int before = events.count();
    QVERIFY(LibraryGenerator(mOptions).write(path));
    QTRY_VERIFY_WITH_TIMEOUT(events.count() > before, 10000);
}

void TestXmlLibrary::realLibraryThroughTheLibraryLayer()
{
    const QString folder = TestHome::realTestData(u"itunes-xml"_qs);
    if (folder.isEmpty())
        QSKIP("real library files (../shared/testdata/real/itunes-xml) are not present");
    LocalMusicLibrary library(
        std::make_shared<XmlITunesAppFactory>(folder + u"/cervantesvive-mac-itunes10.xml"_qs));
    library.setRetryPause(1);
    QVERIFY(library.refreshPlaylists());
    QCOMPARE(library.playlists(),
             QStringList({u"90’s Music"_qs, u"Classical Music"_qs, u"Music Videos"_qs,
                          u"My Top Rated"_qs, u"Recently Added"_qs, u"Recently Played"_qs,
                          u"Top 25 Most Played"_qs}));
    library.refreshPodcasts();
    QCOMPARE(library.podcasts(), QStringList({u"YUI Theater"_qs}));

    TrackList tracks, drm;
    LocalPlaylist music;
    qint64 size = 0;
    QCOMPARE(library.getAllTracks(QString(), tracks, size, false, drm, music), 0);
    QCOMPARE(tracks.count(), 21);
    QCOMPARE(tracks.at(0).mTrackName, u"People Are Crazy"_qs);
    QCOMPARE(tracks.at(0).mPath, u"/Users/cervantes_vive/Music/iTunes/iTunes Music/Billy "
                                 "Currington/Little Bit Of Everything/05 People Are Crazy.mp3"_qs);
    QCOMPARE(tracks.at(0).mDateAdded, QDate(1899, 12, 30).daysTo(QDate(2009, 8, 30)));

    QList<LocalPlaylist> playlists;
    TrackList episodes;
    library.getPodcasts({u"YUI Theater"_qs}, playlists, episodes);
    QCOMPARE(playlists.value(0).mEntries.size(), 32);

    LocalPlaylist recent;
    QCOMPARE(library.getAllTracks(u"Recently Added"_qs, tracks, size, false, drm, recent), 0);
    QCOMPARE(recent.mEntries.size(), 1);
    QCOMPARE(tracks.at(recent.mEntries.first().mTrack).mTrackName, u"Enano-2011-01-03"_qs);
}

QTEST_GUILESS_MAIN(TestXmlLibrary)
#include "tst_xmllibrary.moc"
