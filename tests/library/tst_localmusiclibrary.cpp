#include "library/localmusiclibrary.h"
#include "library/scriptedappfactory.h"
#include "sync/tracklist.h"
#include "testhome.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

LibrarySnapshot::TrackRecord record(const QString &aName, const QString &aPath,
                                    const QString &aArtist = u"Artist"_qs, qint64 aSize = 1000)
{
    LibrarySnapshot::TrackRecord track;
    track.mName = aName;
    track.mAlbum = u"Album"_qs;
    track.mArtist = aArtist;
    track.mPath = aPath;
    track.mSize = aSize;
    track.mTrackNumber = 3;
    track.mDateAdded = 40558.75;
    return track;
}

// Library, Music, Mix, mix, Dup(A), Dup(B), Smart, Folder, Podcasts.
LibrarySnapshot sampleLibrary()
{
    LibrarySnapshot s;
    const int a = s.addTrack(record(u"Song A"_qs, u"/music/x/a.mp3"_qs));
    auto bRecord = record(u"Song B"_qs, u"/music/x/b.m4a"_qs, u"Other"_qs, 2000);
    bRecord.mCompilation = true;
    const int b = s.addTrack(bRecord);
    const int locked = s.addTrack(record(u"Locked"_qs, u"/music/x/c.M4P"_qs));
    const int bare = s.addTrack(record(u"Bare"_qs, u"m4p"_qs));
    const int stream = s.addTrack(record(u"Stream"_qs, QString()));
    s.addPlaylist(u"Library"_qs, 0, {a, b, locked, bare, stream}, 1);
    s.addPlaylist(u"Music"_qs, 6, {a, b, locked, bare});
    s.addPlaylist(u"Mix"_qs, 0, {a, b, locked, bare, stream});
    s.addPlaylist(u"mix"_qs, 0, {a});
    s.addPlaylist(u"Dup"_qs, 0, {a});
    s.addPlaylist(u"Dup"_qs, 0, {b});
    s.addPlaylist(u"Smart"_qs, 0, {a});
    s.addPlaylist(u"Folder"_qs, 4, {a, b});
    s.addPlaylist(u"Podcasts"_qs, 3, {});
    return s;
}

} // namespace

class TestLocalMusicLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void busyKeepsWaitingUntilCancelled_data();
    void busyKeepsWaitingUntilCancelled();
    void busyThenAnswering();
    void unexpectedErrorsAreTriedNineTimes_data();
    void unexpectedErrorsAreTriedNineTimes();
    void cancelWakesAPendingPause();
    void initialiseInNewThread();
    void getPlaylist_data();
    void getPlaylist();
    void getPlaylistFailures();
    void getPlaylistWithoutMusicPlaylist();
    void getAllTracks();
    void getAllTracksPropertyFailures();
    void getAllTracksWholeLibraryAndMissingPlaylist();
    void refreshPlaylists();
    void events();

private:
    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
};

void TestLocalMusicLibrary::init()
{
    mHome = std::make_unique<TestHome>();
    mFactory = std::make_shared<ScriptedAppFactory>(sampleLibrary());
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mLibrary->setRetryPause(1);
}

void TestLocalMusicLibrary::cleanup()
{
    mLibrary.reset();
    mFactory.reset();
    mHome.reset();
}

void TestLocalMusicLibrary::busyKeepsWaitingUntilCancelled_data()
{
    QTest::addColumn<HResult>("code");
    QTest::addColumn<QString>("call");
    QTest::newRow("rejected at creation") << ITResult::CallRejected << u"CreateApp"_qs;
    QTest::newRow("server failure at creation") << ITResult::ServerExecFailure << u"CreateApp"_qs;
    QTest::newRow("rejected on a count") << ITResult::CallRejected << u"SourceCollection.Count"_qs;
}

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

void TestLocalMusicLibrary::busyThenAnswering()
{
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, 30);
    QSignalSpy failures(mLibrary.get(), &LocalMusicLibrary::iTunesFailure);
    QSignalSpy okays(mLibrary.get(), &LocalMusicLibrary::iTunesOkay);
    QSignalSpy complete(mLibrary.get(), &LocalMusicLibrary::initialisationComplete);
    mLibrary->initialise();
    QCOMPARE(failures.count(), 30);
    QCOMPARE(okays.count(), 1);
    QCOMPARE(complete.count(), 1);
    QVERIFY(mLibrary->isInitialised());
    QCOMPARE(mFactory->faults().calls(u"CreateApp"_qs), 31);

    mLibrary->initialise();
    QCOMPARE(complete.count(), 1);
    QCOMPARE(mFactory->faults().calls(u"CreateApp"_qs), 31);

    // Okay is told once per return to service, not once per call.
    TrackList tracks, drm;
    LocalPlaylist playlist;
    qint64 size = 0;
    QCOMPARE(mLibrary->getAllTracks(u"Mix"_qs, tracks, size, false, drm, playlist), 0);
    QCOMPARE(okays.count(), 1);
    mFactory->faults().fail(u"Track.Size"_qs, ITResult::ServerExecFailure, 2, u"Song B"_qs);
    TrackList fresh;
    QCOMPARE(mLibrary->getAllTracks(u"Mix"_qs, fresh, size, false, drm, playlist), 0);
    QCOMPARE(failures.count(), 32);
    QCOMPARE(okays.count(), 2);
    QCOMPARE(fresh.at(1).mTrackName, u"Song B"_qs);
    QCOMPARE(fresh.at(1).mLocalFileSize, 2000);
}

void TestLocalMusicLibrary::unexpectedErrorsAreTriedNineTimes_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("attempts");
    QTest::newRow("creation fails for good") << u"CreateApp"_qs << -1 << -8000 << 9;
    QTest::newRow("sources fail for good") << u"Sources"_qs << -1 << -8000 << 9;
    QTest::newRow("eighth retry succeeds") << u"Sources"_qs << 8 << 0 << 9;
    QTest::newRow("playlists fail for good") << u"Source.Playlists"_qs << -1 << -8000 << 9;
}

void TestLocalMusicLibrary::unexpectedErrorsAreTriedNineTimes()
{
    QFETCH(QString, call);
    QFETCH(int, failures);
    QFETCH(int, result);
    QFETCH(int, attempts);
    mFactory->faults().fail(call, ITResult::Fail, failures);
    QSignalSpy busy(mLibrary.get(), &LocalMusicLibrary::iTunesFailure);
    std::shared_ptr<ITPlaylistCollection> collection;
    QCOMPARE(mLibrary->getPlaylistCollection(collection), result);
    QCOMPARE(mFactory->faults().calls(call), attempts);
    QCOMPARE(busy.count(), 0);
    QCOMPARE(bool(collection), result == 0);
}

void TestLocalMusicLibrary::cancelWakesAPendingPause()
{
    mLibrary->setRetryPause(600000);
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    int result = 1;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        TrackList tracks, drm;
        LocalPlaylist playlist;
        qint64 size = 0;
        result = mLibrary->getAllTracks(u"Mix"_qs, tracks, size, false, drm, playlist);
    }));
    worker->start();
    QTRY_VERIFY(mFactory->faults().calls(u"CreateApp"_qs) >= 1);
    mLibrary->setCancelled(true);
    QVERIFY(worker->wait(20000));
    QCOMPARE(result, LocalMusicLibrary::CallFailed);
    QCOMPARE(mFactory->faults().calls(u"CreateApp"_qs), 1);
}

void TestLocalMusicLibrary::initialiseInNewThread()
{
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::ServerExecFailure, 3);
    // Queued to this thread, as the window receives them.
    int complete = 0, failures = 0;
    connect(mLibrary.get(), &LocalMusicLibrary::initialisationComplete, this, [&] { ++complete; });
    connect(mLibrary.get(), &LocalMusicLibrary::iTunesFailure, this, [&] { ++failures; });
    mLibrary->initialiseInNewThread();
    QTRY_COMPARE(complete, 1);
    QTRY_COMPARE(failures, 3);
    QVERIFY(mLibrary->isInitialised());

    // A library still waiting for a busy server can be destroyed.
    auto waiting = std::make_unique<LocalMusicLibrary>(mFactory);
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    waiting->initialiseInNewThread();
    QTRY_VERIFY(mFactory->faults().calls(u"CreateApp"_qs) >= 5);
    waiting.reset();
}

void TestLocalMusicLibrary::getPlaylist_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("firstTrack");
    QTest::addColumn<qint64>("size");
    QTest::newRow("exact") << u"Mix"_qs << 0 << u"Song A"_qs << qint64(6000);
    QTest::newRow("lower case is another playlist")
        << u"mix"_qs << 0 << u"Song A"_qs << qint64(1000);
    QTest::newRow("other case does not match") << u"MIX"_qs << -8001 << QString() << qint64(0);
    QTest::newRow("duplicate takes the later") << u"Dup"_qs << 0 << u"Song B"_qs << qint64(2000);
    QTest::newRow("empty name is Music") << QString() << 0 << u"Song A"_qs << qint64(5000);
    QTest::newRow("prefix does not match") << u"Mi"_qs << -8001 << QString() << qint64(0);
    QTest::newRow("podcasts by name") << u"Podcasts"_qs << 0 << QString() << qint64(0);
}

void TestLocalMusicLibrary::getPlaylist()
{
    QFETCH(QString, name);
    QFETCH(int, result);
    QFETCH(QString, firstTrack);
    QFETCH(qint64, size);
    std::shared_ptr<ITPlaylist> playlist;
    qint64 actualSize = -1;
    QCOMPARE(mLibrary->getPlaylist(name, playlist, actualSize), result);
    QCOMPARE(actualSize, size);
    QCOMPARE(bool(playlist), result == 0);
    if (!playlist || firstTrack.isEmpty())
        return;
    std::shared_ptr<ITTrackCollection> tracks;
    QCOMPARE(playlist->Tracks(tracks), ITResult::Ok);
    std::shared_ptr<ITTrack> track;
    QCOMPARE(tracks->Item(1, track), ITResult::Ok);
    QString trackName;
    track->Name(trackName);
    QCOMPARE(trackName, firstTrack);
}

void TestLocalMusicLibrary::getPlaylistFailures()
{
    std::shared_ptr<ITPlaylist> playlist;
    qint64 size = 0;
    mFactory->faults().fail(u"Playlist.Name"_qs, ITResult::Fail, FaultScript::Always, u"Smart"_qs);
    QCOMPARE(mLibrary->getPlaylist(u"Mix"_qs, playlist, size), LocalMusicLibrary::CallFailed);
    // Playlists above the failing one are still found.
    QCOMPARE(mLibrary->getPlaylist(u"Podcasts"_qs, playlist, size), 0);

    mFactory->faults().clear();
    mFactory->faults().answerNull(u"Playlist.Name"_qs, FaultScript::Always, u"Mix"_qs);
    QCOMPARE(mLibrary->getPlaylist(u"Mix"_qs, playlist, size), LocalMusicLibrary::PlaylistNotFound);

    mFactory->faults().clear();
    mFactory->faults().fail(u"PlaylistCollection.Count"_qs, ITResult::Fail, FaultScript::Always);
    QCOMPARE(mLibrary->getPlaylist(u"Mix"_qs, playlist, size), LocalMusicLibrary::PlaylistNotFound);

    mFactory->faults().clear();
    mFactory->faults().fail(u"Playlist.Size"_qs, ITResult::Fail, FaultScript::Always);
    QCOMPARE(mLibrary->getPlaylist(u"Mix"_qs, playlist, size), LocalMusicLibrary::CallFailed);
    QVERIFY(!playlist);

    mFactory->faults().clear();
    mFactory->faults().answerNull(u"PlaylistCollection.Item"_qs, 1, u"9"_qs);
    QCOMPARE(mLibrary->getPlaylist(u"Mix"_qs, playlist, size), LocalMusicLibrary::CallFailed);
}

void TestLocalMusicLibrary::getPlaylistWithoutMusicPlaylist()
{
    LibrarySnapshot s;
    const int a = s.addTrack(record(u"Song A"_qs, u"/m/a.mp3"_qs));
    s.addPlaylist(u"Library"_qs, 0, {a}, 1);
    s.addPlaylist(u"Mine"_qs, 0, {a});
    mFactory->setLibrary(s);
    std::shared_ptr<ITPlaylist> playlist;
    qint64 size = 0;
    QCOMPARE(mLibrary->getPlaylist(QString(), playlist, size), LocalMusicLibrary::CallFailed);
}

void TestLocalMusicLibrary::getAllTracks()
{
    TrackList tracks, drm;
    tracks.addTrack(Track(u"Before"_qs, u"X"_qs, u"Y"_qs, 1, u"/p"_qs, false, true, true, u"7"_qs));
    LocalPlaylist playlist;
    qint64 size = 0;
    QCOMPARE(mLibrary->getAllTracks(u"Mix"_qs, tracks, size, true, drm, playlist), 0);
    QCOMPARE(size, 6000);
    QCOMPARE(playlist.mName, u"Mix"_qs);
    // Song A, Song B and the bare "m4p" location; the stream has no file.
    QCOMPARE(tracks.count(), 4);
    QCOMPARE(drm.count(), 1);
    QCOMPARE(drm.at(0).mTrackName, u"Locked"_qs);
    QCOMPARE(playlist.mEntries.size(), 3);
    QCOMPARE(playlist.mEntries.at(0).mTrack, 1);
    QCOMPARE(playlist.mEntries.at(1).mTrack, 2);
    QCOMPARE(playlist.mEntries.at(2).mTrack, 3);
    QCOMPARE(playlist.mEntries.at(0).mDateAdded, 40558);
    const Track &b = tracks.at(2);
    QCOMPARE(b.mTrackName, u"Song B"_qs);
    QCOMPARE(b.mAlbumName, u"Album"_qs);
    QCOMPARE(b.mArtistName, u"Other"_qs);
    QCOMPARE(b.mTrackNumberOnAlbum, 3);
    QCOMPARE(b.mPath, u"/music/x/b.m4a"_qs);
    QCOMPARE(b.mLocalFileSize, 2000);
    QCOMPARE(b.mDateAdded, 40558);
    QVERIFY(b.mIsCompilation);
    QVERIFY(b.mConvertToMp3);
    QVERIFY(b.mOnLocalSyncPlaylist);
    QVERIFY(!b.mOnRemoteDevice);
    QVERIFY(!b.mInCache);
    QVERIFY(b.mDeviceId.isEmpty());
    QCOMPARE(tracks.at(3).mPath, u"m4p"_qs);

    // Reading the same playlist again merges into the same records.
    LocalPlaylist again;
    QCOMPARE(mLibrary->getAllTracks(u"Mix"_qs, tracks, size, true, drm, again), 0);
    QCOMPARE(tracks.count(), 4);
    QCOMPARE(again.mEntries.at(1).mTrack, 2);
}

void TestLocalMusicLibrary::getAllTracksPropertyFailures()
{
    FaultScript &faults = mFactory->faults();
    faults.fail(u"FileTrack.Location"_qs, ITResult::Fail, FaultScript::Always, u"Song A"_qs);
    faults.fail(u"Track.Artist"_qs, ITResult::Fail, FaultScript::Always, u"Song B"_qs);
    faults.answerNull(u"Track.Album"_qs, FaultScript::Always, u"Song B"_qs);
    faults.fail(u"Track.QueryFileTrack"_qs, ITResult::NoInterface, 1, u"Bare"_qs);
    faults.fail(u"FileTrack.DateAdded"_qs, ITResult::CallRejected, 2, u"Song B"_qs);
    faults.fail(u"TrackCollection.Item"_qs, ITResult::Fail, FaultScript::Always, u"3"_qs);
    TrackList tracks, drm;
    LocalPlaylist playlist;
    qint64 size = 0;
    QCOMPARE(mLibrary->getAllTracks(u"Mix"_qs, tracks, size, false, drm, playlist), 0);
    QCOMPARE(tracks.count(), 1);
    QCOMPARE(drm.count(), 0);
    const Track &b = tracks.at(0);
    QCOMPARE(b.mTrackName, u"Song B"_qs);
    QVERIFY(b.mArtistName.isEmpty());
    QVERIFY(!b.mAlbumName.isNull());
    QVERIFY(b.mAlbumName.isEmpty());
    QCOMPARE(b.mDateAdded, 40558);
    QCOMPARE(faults.calls(u"FileTrack.Location"_qs), 9 + 1);
    // Item 3 is never fetched; the other four are asked for their file.
    QCOMPARE(faults.calls(u"Track.QueryFileTrack"_qs), 4);
    QCOMPARE(playlist.mEntries.size(), 1);

    faults.clear();
    faults.fail(u"Playlist.Tracks"_qs, ITResult::Fail, FaultScript::Always);
    QCOMPARE(mLibrary->getAllTracks(u"Mix"_qs, tracks, size, false, drm, playlist),
             LocalMusicLibrary::CallFailed);
}

void TestLocalMusicLibrary::getAllTracksWholeLibraryAndMissingPlaylist()
{
    TrackList tracks, drm;
    LocalPlaylist playlist;
    qint64 size = 0;
    QCOMPARE(mLibrary->getAllTracks(QString(), tracks, size, false, drm, playlist), 0);
    QCOMPARE(tracks.count(), 3);
    QCOMPARE(drm.count(), 1);
    QVERIFY(playlist.mName.isEmpty());

    LocalPlaylist missing;
    QCOMPARE(mLibrary->getAllTracks(u"Nope"_qs, tracks, size, false, drm, missing),
             LocalMusicLibrary::CallFailed);
    QCOMPARE(missing.mName, u"Nope"_qs);
    QVERIFY(missing.mEntries.isEmpty());
}

void TestLocalMusicLibrary::refreshPlaylists()
{
    QVERIFY(mLibrary->refreshPlaylists());
    QCOMPARE(mLibrary->playlists(),
             QStringList({u"Mix"_qs, u"mix"_qs, u"Dup"_qs, u"Dup"_qs, u"Smart"_qs}));
    QVERIFY(!mLibrary->refreshPlaylists());

    LibrarySnapshot changed = sampleLibrary();
    changed.mPlaylists[6].mTracks = {1, 2};
    changed.mPlaylists[1].mTracks = {0};
    mFactory->setLibrary(changed);
    QVERIFY(!mLibrary->refreshPlaylists());

    changed.mPlaylists[6].mName = u"Smarter"_qs;
    mFactory->setLibrary(changed);
    QVERIFY(mLibrary->refreshPlaylists());
    QCOMPARE(mLibrary->playlists().last(), u"Smarter"_qs);

    mFactory->faults().fail(u"PlaylistCollection.Item"_qs, ITResult::Fail, FaultScript::Always,
                            u"3"_qs);
    QVERIFY(mLibrary->refreshPlaylists());
    QCOMPARE(mLibrary->playlists(), QStringList({u"mix"_qs, u"Dup"_qs, u"Dup"_qs, u"Smarter"_qs}));

    mFactory->faults().fail(u"CreateApp"_qs, ITResult::Fail, FaultScript::Always);
    QVERIFY(!mLibrary->refreshPlaylists());
    QVERIFY(mLibrary->playlists().isEmpty());
}

void TestLocalMusicLibrary::events()
{
    QSignalSpy events(mLibrary.get(), &LocalMusicLibrary::localLibraryEvent);
    QCOMPARE(mLibrary->listenForITunesEvents(), ITResult::Ok);
    QCOMPARE(mFactory->connectionCount(), 1);
    mFactory->fireEvent();
    QCOMPARE(events.count(), 1);
    // Listening again replaces the connection rather than doubling events.
    QCOMPARE(mLibrary->listenForITunesEvents(), ITResult::Ok);
    QCOMPARE(mFactory->connectionCount(), 1);
    mFactory->fireEvent();
    QCOMPARE(events.count(), 2);
    mLibrary.reset();
    QCOMPARE(mFactory->connectionCount(), 0);

    auto failing = std::make_unique<LocalMusicLibrary>(mFactory);
    failing->setRetryPause(1);
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::Fail, FaultScript::Always);
    QCOMPARE(failing->listenForITunesEvents(), ITResult::Fail);
    QCOMPARE(mFactory->connectionCount(), 0);
}

QTEST_GUILESS_MAIN(TestLocalMusicLibrary)
#include "tst_localmusiclibrary.moc"
