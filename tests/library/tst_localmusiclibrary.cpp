#include "core/apppaths.h"
#include "core/tracklist.h"
#include "library/localmusiclibrary.h"
#include "scriptedappfactory.h"
#include "testhome.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

using Art = LibrarySnapshot::Artwork;

LibrarySnapshot::TrackRecord record(const QString &aName, const QString &aPath,
                                    const QList<Art> &aArt = {}, qint64 aSize = 1000)
{
    LibrarySnapshot::TrackRecord track;
    track.mName = aName;
    track.mAlbum = u"Album"_qs;
    track.mArtist = u"Artist"_qs;
    track.mPath = aPath;
    track.mSize = aSize;
    track.mDateAdded = 40558.75;
    track.mArtwork = aArt;
    return track;
}

LibrarySnapshot sampleLibrary()
{
    LibrarySnapshot s;
    const int a = s.addTrack(record(u"Song A"_qs, u"/music/x/a.mp3"_qs, {Art{1, "jpeg-bytes"}}));
    auto bRecord = record(u"Song B"_qs, u"/music/x/b.m4a"_qs, {Art{2, "png-bytes"}}, 2000);
    bRecord.mCompilation = true;
    const int b = s.addTrack(bRecord);
    const int locked = s.addTrack(record(u"Locked"_qs, u"/music/x/c.M4P"_qs, {Art{3, "bmp"}}));
    // The first picture is a GIF, which is not saved.
    const int bare = s.addTrack(
        record(u"Bare"_qs, u"m4p"_qs, {Art{0, "gif"}, Art{1, "second jpeg"}, Art{2, "third"}}));
    const int stream = s.addTrack(record(u"Stream"_qs, QString()));
    s.addPlaylist(u"Library"_qs, 0, {a, b, locked, bare, stream}, 1);
    s.addPlaylist(u"Music"_qs, 6, {a, b, locked, bare});
    s.addPlaylist(u"Mix"_qs, 0, {a, b, locked, bare, stream});
    return s;
}

// Pod A, Pod B, an episode without a podcast, a copy-protected one and Pod C in a second
// Podcasts playlist.
LibrarySnapshot podcastLibrary()
{
    LibrarySnapshot s;
    auto episode = [&s](const QString &aName, const QString &aPodcast, const QString &aPath,
                        double aDay) {
        auto track = record(aName, aPath, {}, 500);
        track.mAlbum = aPodcast;
        track.mPodcast = true;
        track.mDateAdded = aDay;
        return s.addTrack(track);
    };
    const int a1 = episode(u"A1"_qs, u"Pod A"_qs, u"/p/a1.mp3"_qs, 41000.2);
    const int b1 = episode(u"B1"_qs, u"Pod B"_qs, u"/p/b1.mp3"_qs, 41001.9);
    const int a2 = episode(u"A2"_qs, u"Pod A"_qs, u"/p/a2.mp3"_qs, 41002.5);
    const int book = episode(u"Book"_qs, u"Pod B"_qs, u"/p/book.m4b"_qs, 41003);
    const int loose = episode(u"Loose"_qs, QString(), u"/p/loose.mp3"_qs, 41004);
    const int b2 = episode(u"B2"_qs, u"Pod B"_qs, u"/p/b2.mp3"_qs, 41005);
    const int c1 = episode(u"C1"_qs, u"Pod C"_qs, u"/p/c1.mp3"_qs, 41010);
    s.addPlaylist(u"Library"_qs, 0, {a1, b1, a2, book, loose, b2, c1}, 1);
    s.addPlaylist(u"Music"_qs, 6, {});
    s.addPlaylist(u"Podcasts"_qs, 3, {a1, b1, a2, book, loose, b2});
    // A user playlist named like the special one must not be taken for it.
    s.addPlaylist(u"Podcasts"_qs, 0, {a1});
    s.addPlaylist(u"More podcasts"_qs, 3, {c1, a1});
    return s;
}

} // namespace

class TestLocalMusicLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void busyKeepsWaitingUntilCancelled_data();
    void busyKeepsWaitingUntilCancelled();
    void cancelWakesAPendingPause();
    void unexpectedErrorsAreTriedNineTimes_data();
    void unexpectedErrorsAreTriedNineTimes();
    void getAllTracks();
    void getPodcasts();
    void artworkSavedByFormat_data();
    void artworkSavedByFormat();

private:
    int allTracks(const QString &aName, TrackList &aTracks, LocalPlaylist &aPlaylist,
                  TrackList &aDrm);

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    qint64 mSize = 0;
};

void TestLocalMusicLibrary::init()
{
    mLibrary.reset();
    mHome = std::make_unique<TestHome>();
    mFactory = std::make_shared<ScriptedAppFactory>(sampleLibrary());
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mLibrary->setRetryPause(1);
}

int TestLocalMusicLibrary::allTracks(const QString &aName, TrackList &aTracks,
                                     LocalPlaylist &aPlaylist, TrackList &aDrm)
{
    return mLibrary->getAllTracks(aName, aTracks, mSize, true, aDrm, aPlaylist);
}

void TestLocalMusicLibrary::busyKeepsWaitingUntilCancelled_data()
{
    QTest::addColumn<HResult>("code");
    QTest::addColumn<QString>("call");
    QTest::newRow("rejected at creation") << ITResult::CallRejected << u"CreateApp"_qs;
    QTest::newRow("server failure at creation") << ITResult::ServerExecFailure << u"CreateApp"_qs;
    QTest::newRow("rejected on a count") << ITResult::CallRejected << u"SourceCollection.Count"_qs;
}

// Busy on every attempt keeps waiting and emits iTunesFailure() once per attempt.
void TestLocalMusicLibrary::busyKeepsWaitingUntilCancelled()
{
    QFETCH(HResult, code);
    QFETCH(QString, call);
    mFactory->faults().fail(call, code, FaultScript::Always);
    int failures = 0;
    connect(mLibrary.get(), &LocalMusicLibrary::iTunesFailure, this, [&] {
        // Far beyond the nine tries of an unexpected error.
        if (++failures == 40)
            mLibrary->setCancelled(true);
    });
    std::shared_ptr<ITPlaylistCollection> collection;
    QCOMPARE(mLibrary->getPlaylistCollection(collection), LocalMusicLibrary::CallFailed);
    QVERIFY(!collection);
    QCOMPARE(failures, 40);
    QCOMPARE(mFactory->faults().calls(call), 40);

    mLibrary->setCancelled(false);
    mFactory->faults().clear();
    QCOMPARE(mLibrary->getPlaylistCollection(collection), 0);
    QVERIFY(collection);
}

void TestLocalMusicLibrary::cancelWakesAPendingPause()
{
    mLibrary->setRetryPause(600000);
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    int result = 1;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        TrackList tracks, drm;
        LocalPlaylist playlist;
        result = allTracks(u"Mix"_qs, tracks, playlist, drm);
    }));
    worker->start();
    QTRY_VERIFY(mFactory->faults().calls(u"CreateApp"_qs) >= 1);
    mLibrary->setCancelled(true);
    QVERIFY(worker->wait(20000));
    QCOMPARE(result, LocalMusicLibrary::CallFailed);
    QCOMPARE(mFactory->faults().calls(u"CreateApp"_qs), 1);
}

void TestLocalMusicLibrary::unexpectedErrorsAreTriedNineTimes_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("result");
    QTest::newRow("creation fails for good") << u"CreateApp"_qs << -1 << -8000;
    QTest::newRow("eighth retry succeeds") << u"Sources"_qs << 8 << 0;
}

void TestLocalMusicLibrary::unexpectedErrorsAreTriedNineTimes()
{
    QFETCH(QString, call);
    QFETCH(int, failures);
    QFETCH(int, result);
    mFactory->faults().fail(call, ITResult::Fail, failures);
    QSignalSpy busy(mLibrary.get(), &LocalMusicLibrary::iTunesFailure);
    std::shared_ptr<ITPlaylistCollection> collection;
    QCOMPARE(mLibrary->getPlaylistCollection(collection), result);
    QCOMPARE(mFactory->faults().calls(call), 9);
    QCOMPARE(busy.count(), 0);
    QCOMPARE(bool(collection), result == 0);
}

void TestLocalMusicLibrary::getAllTracks()
{
    TrackList tracks, drm;
    LocalPlaylist playlist;
    QCOMPARE(allTracks(u"Mix"_qs, tracks, playlist, drm), 0);
    QCOMPARE(mSize, 6000);
    // Song A, Song B and the bare "m4p" location; the stream has no file.
    QCOMPARE(tracks.count(), 3);
    QCOMPARE(drm.count(), 1);
    QCOMPARE(drm.at(0).mTrackName, u"Locked"_qs);
    QCOMPARE(playlist.mEntries.size(), 3);
    QCOMPARE(playlist.mEntries.at(2).mTrack, 2);
    QCOMPARE(playlist.mEntries.at(0).mDateAdded, 40558);
    QVERIFY(tracks.at(1).mIsCompilation && tracks.at(1).mConvertToMp3);

    LocalPlaylist missing;
    QCOMPARE(allTracks(u"Nope"_qs, tracks, missing, drm), LocalMusicLibrary::CallFailed);
    QVERIFY(missing.mEntries.isEmpty());
}

void TestLocalMusicLibrary::getPodcasts()
{
    mFactory->setLibrary(podcastLibrary());
    mLibrary->refreshPodcasts();
    QCOMPARE(mLibrary->podcasts(), QStringList({u"Pod A"_qs, u"Pod B"_qs, u""_qs, u"Pod C"_qs}));

    QList<LocalPlaylist> playlists;
    TrackList tracks;
    mLibrary->getPodcasts({u"Pod B"_qs, u"Nothing"_qs, u"Pod A"_qs, QString()}, playlists, tracks);
    QCOMPARE(playlists.size(), 4);
    QCOMPARE(playlists.at(1).mName, u"Nothing"_qs);
    QVERIFY(playlists.at(1).mEntries.isEmpty());
    // The m4b episode is copy-protected and left out; Pod C is not wanted.
    QCOMPARE(tracks.count(), 5);
    const auto &podB = playlists.at(0).mEntries;
    QCOMPARE(podB.size(), 2);
    QCOMPARE(tracks.at(podB.at(0).mTrack).mTrackName, u"B1"_qs);
    QCOMPARE(podB.at(0).mDateAdded, 41001);
    QCOMPARE(tracks.at(podB.at(1).mTrack).mTrackName, u"B2"_qs);
    // A1 is in both Podcasts playlists: one track, two entries.
    QCOMPARE(playlists.at(2).mEntries.size(), 3);
    QCOMPARE(playlists.at(2).mEntries.at(2).mTrack, playlists.at(2).mEntries.at(0).mTrack);
    QCOMPARE(playlists.at(3).mEntries.size(), 1);
}

void TestLocalMusicLibrary::artworkSavedByFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("png") << u"Song B"_qs << u"temp_art.png"_qs << QByteArray("png-bytes");
    QTest::newRow("bmp") << u"Locked"_qs << u"temp_art.bmp"_qs << QByteArray("bmp");
    QTest::newRow("unsupported first")
        << u"Bare"_qs << u"temp_art.jpg"_qs << QByteArray("second jpeg");
}

void TestLocalMusicLibrary::artworkSavedByFormat()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    const QString path = mLibrary->generateArtwork(
        Track(name, u"Album"_qs, u"Artist"_qs, 1, u"/m/x.mp3"_qs, true, false, false, QString()));
    QCOMPARE(path, AppPaths::dataFolder() + u"/"_qs + file);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), content);

    // Tracks are looked up by name in an index of the library read last: a new
    // reading, its tracks elsewhere, must not be answered from the old one.
    LibrarySnapshot changed;
    QList<qint32> all{changed.addTrack(record(u"Filler"_qs, u"/music/x/f.mp3"_qs))};
    for (auto track : sampleLibrary().mTracks) {
        track.mArtwork = {Art{1, "new jpeg"}};
        all.append(changed.addTrack(track));
    }
    changed.addPlaylist(u"Library"_qs, 0, all, 1);
    changed.addPlaylist(u"Music"_qs, 6, all);
    mFactory->setLibrary(changed);
    const QString again = mLibrary->generateArtwork(
        Track(name, u"Album"_qs, u"Artist"_qs, 1, u"/m/y.mp3"_qs, true, false, false, QString()));
    QFile newer(again);
    QVERIFY(newer.open(QIODevice::ReadOnly));
    QCOMPARE(newer.readAll(), QByteArray("new jpeg"));
}

QTEST_GUILESS_MAIN(TestLocalMusicLibrary)
#include "tst_localmusiclibrary.moc"
