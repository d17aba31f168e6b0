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
    // Writes a library to aPath, cut to 1/aPart of its length; returns the whole text.
    static QByteArray writeCut(const QString &aPath, const LibraryGenerator::Options &aOptions,
                               int aPart);

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

QByteArray TestXmlLibrary::writeCut(const QString &aPath, const LibraryGenerator::Options &aOptions,
                                    int aPart)
{
    QFile file(aPath);
    if (!LibraryGenerator(aOptions).write(aPath) || !file.open(QIODevice::ReadWrite))
        return {};
    const QByteArray whole = file.readAll();
    return file.resize(whole.size() / aPart) ? whole : QByteArray();
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
    const QByteArray whole = writeCut(path, options, 3);
    QVERIFY(!whole.isEmpty());

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
    const QByteArray whole = writeCut(path, LibraryGenerator::Options(), 2);
    QVERIFY(!whole.isEmpty());

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
