#include "core/tracklist.h"
#include "library/localmusiclibrary.h"
#include "library/xmlitunesappfactory.h"
#include "librarygenerator.h"
#include "settings/syncsettings.h"
#include "testhome.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

class TestXmlLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void configuredLibrary();
    void configuredLibraryMissing();
    void fileBeingWrittenIsWaitedFor();
    void eventsWithoutReadingTheLibrary();

private:
    void configure(const QString &aPath);

    std::unique_ptr<TestHome> mHome;
};

void TestXmlLibrary::init()
{
    mHome = std::make_unique<TestHome>();
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
    LibraryGenerator::Options options;
    options.mTracks = 40;
    options.mPlaylists = 6;
    options.mTracksPerPlaylist = 10;
    options.mCreateFiles = true;
    const LibraryGenerator generator(options);
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
    // The XML names another computer's drive; the file is found beside the XML.
    QCOMPARE(track.mPath,
             mHome->filePath(u"elsewhere/iTunes Media/"_qs) + generator.trackRelativePath(first));
    QVERIFY(QFile::exists(track.mPath));
    QCOMPARE(size, 10 * QFileInfo(track.mPath).size());
}

// A configured file that does not exist is a missing library, never the default one.
void TestXmlLibrary::configuredLibraryMissing()
{
    QVERIFY(QDir().mkpath(mHome->filePath(u"Music/iTunes"_qs)));
    QVERIFY(LibraryGenerator().write(mHome->filePath(u"Music/iTunes/iTunes Library.xml"_qs)));
    configure(mHome->filePath(u"nowhere.xml"_qs));
    LocalMusicLibrary library;
    library.setRetryPause(1);
    int failures = 0;
    connect(&library, &LocalMusicLibrary::iTunesFailure, this, [&] {
        if (++failures == 3)
            library.setCancelled(true);
    });
    QVERIFY(!library.refreshPlaylists());
    QCOMPARE(failures, 3);
}

// Read half-written, the library would look shorter and the phone would lose tracks.
void TestXmlLibrary::fileBeingWrittenIsWaitedFor()
{
    const QString path = mHome->filePath(u"lib.xml"_qs);
    LibraryGenerator::Options options;
    options.mPlaylists = 6;
    QVERIFY(LibraryGenerator(options).write(path));
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
    QCOMPARE(library.playlists().size(), 6);
}

// The window subscribes on its own thread: a library that is half written (or
// stays broken) must not hold it up, and its next version must still be noticed.
void TestXmlLibrary::eventsWithoutReadingTheLibrary()
{
    const QString path = mHome->filePath(u"lib.xml"_qs);
    QVERIFY(LibraryGenerator(LibraryGenerator::Options()).write(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray whole = file.readAll();
    QVERIFY(file.resize(whole.size() / 2));
    file.close();

    LocalMusicLibrary library(std::make_shared<XmlITunesAppFactory>(path));
    library.setRetryPause(1);
    int failures = 0;
    connect(&library, &LocalMusicLibrary::iTunesFailure, this, [&] {
        if (++failures == 3)
            library.setCancelled(true); // without this a blocking subscription never returns
    });
    QSignalSpy events(&library, &LocalMusicLibrary::localLibraryEvent);
    QVERIFY(!ITResult::failed(library.listenForITunesEvents()));
    QCOMPARE(failures, 0);
    QFile finished(path);
    QVERIFY(finished.open(QIODevice::WriteOnly));
    finished.write(whole);
    finished.close();
    QVERIFY(events.wait(10000));
}

QTEST_GUILESS_MAIN(TestXmlLibrary)
#include "tst_xmllibrary.moc"
