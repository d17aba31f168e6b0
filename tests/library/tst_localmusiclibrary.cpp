#include "library/localmusiclibrary.h"
#include "library/podcastramcache.h"
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

// Pod A, Pod B, an episode without a podcast, a copy-protected one and Pod C in a second
// Podcasts playlist.
LibrarySnapshot podcastLibrary()
{
    LibrarySnapshot s;
    auto episode = [&s](const QString &aName, const QString &aPodcast, const QString &aPath,
                        double aDay) {
        auto track = record(aName, aPath, u"Host"_qs, 500);
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

QStringList names(const TrackList &aTracks)
{
    QStringList list;
    for (int i = 0; i < aTracks.count(); ++i)
        list.append(aTracks.at(i).mTrackName);
    return list;
}

} // namespace

class TestLocalMusicLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
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
    void getAllTracks();
    void getAllTracksPropertyFailures();
    void refreshPlaylists();
    void events();
    void podcasts();
    void getPodcasts();
    void podcastRamCache();

private:
    int allTracks(const QString &aName, TrackList &aTracks, LocalPlaylist &aPlaylist,
                  TrackList *aDrm = nullptr, bool aConvert = false);

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
                                     LocalPlaylist &aPlaylist, TrackList *aDrm, bool aConvert)
{
    TrackList drm;
    return mLibrary->getAllTracks(aName, aTracks, mSize, aConvert, aDrm ? *aDrm : drm, aPlaylist);
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

void TestLocalMusicLibrary::busyThenAnswering()
{
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, 30);
    QSignalSpy failures(mLibrary.get(), &LocalMusicLibrary::iTunesFailure);
    QSignalSpy okays(mLibrary.get(), &LocalMusicLibrary::iTunesOkay);
    QSignalSpy complete(mLibrary.get(), &LocalMusicLibrary::initialisationComplete);
    mLibrary->initialise();
    mLibrary->initialise();
    QCOMPARE(failures.count(), 30);
    QCOMPARE(okays.count(), 1);
    QCOMPARE(complete.count(), 1);

    // Okay is told once per return to service, not once per call.
    TrackList tracks;
    LocalPlaylist playlist;
    QCOMPARE(allTracks(u"Mix"_qs, tracks, playlist), 0);
    mFactory->faults().fail(u"Track.Size"_qs, ITResult::ServerExecFailure, 2, u"Song B"_qs);
    QCOMPARE(allTracks(u"Mix"_qs, tracks, playlist), 0);
    QCOMPARE(failures.count(), 32);
    QCOMPARE(okays.count(), 2);
}

void TestLocalMusicLibrary::unexpectedErrorsAreTriedNineTimes_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("result");
    QTest::newRow("creation fails for good") << u"CreateApp"_qs << -1 << -8000;
    QTest::newRow("playlists fail for good") << u"Source.Playlists"_qs << -1 << -8000;
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

void TestLocalMusicLibrary::cancelWakesAPendingPause()
{
    mLibrary->setRetryPause(600000);
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    int result = 1;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        TrackList tracks;
        LocalPlaylist playlist;
        result = allTracks(u"Mix"_qs, tracks, playlist);
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
    QTest::addColumn<qint64>("size");
    QTest::newRow("exact") << u"Mix"_qs << 0 << qint64(6000);
    QTest::newRow("lower case is another playlist") << u"mix"_qs << 0 << qint64(1000);
    QTest::newRow("other case does not match") << u"MIX"_qs << -8001 << qint64(0);
    QTest::newRow("duplicate takes the later") << u"Dup"_qs << 0 << qint64(2000);
    QTest::newRow("empty name is Music") << QString() << 0 << qint64(5000);
    QTest::newRow("podcasts by name") << u"Podcasts"_qs << 0 << qint64(0);
}

void TestLocalMusicLibrary::getPlaylist()
{
    QFETCH(QString, name);
    QFETCH(int, result);
    QFETCH(qint64, size);
    std::shared_ptr<ITPlaylist> playlist;
    qint64 actualSize = -1;
    QCOMPARE(mLibrary->getPlaylist(name, playlist, actualSize), result);
    QCOMPARE(actualSize, size);
    QCOMPARE(bool(playlist), result == 0);
}

// A playlist that cannot be read is a failure, never a missing playlist.
void TestLocalMusicLibrary::getPlaylistFailures()
{
    std::shared_ptr<ITPlaylist> playlist;
    qint64 size = 0;
    mFactory->faults().fail(u"Playlist.Name"_qs, ITResult::Fail, FaultScript::Always, u"Smart"_qs);
    QCOMPARE(mLibrary->getPlaylist(u"Mix"_qs, playlist, size), LocalMusicLibrary::CallFailed);
    mFactory->faults().clear();
    mFactory->faults().fail(u"Playlist.Size"_qs, ITResult::Fail, FaultScript::Always);
    QCOMPARE(mLibrary->getPlaylist(u"Mix"_qs, playlist, size), LocalMusicLibrary::CallFailed);
    QVERIFY(!playlist);
}

void TestLocalMusicLibrary::getAllTracks()
{
    TrackList tracks, drm;
    tracks.addTrack(Track(u"Before"_qs, u"X"_qs, u"Y"_qs, 1, u"/p"_qs, false, true, true, u"7"_qs));
    LocalPlaylist playlist;
    QCOMPARE(allTracks(u"Mix"_qs, tracks, playlist, &drm, true), 0);
    QCOMPARE(mSize, 6000);
    // Song A, Song B and the bare "m4p" location; the stream has no file.
    QCOMPARE(tracks.count(), 4);
    QCOMPARE(drm.count(), 1);
    QCOMPARE(playlist.mEntries.size(), 3);
    QCOMPARE(playlist.mEntries.at(2).mTrack, 3);
    QCOMPARE(playlist.mEntries.at(0).mDateAdded, 40558);
    QVERIFY(tracks.at(2).mIsCompilation && tracks.at(2).mConvertToMp3);

    // Reading the same playlist again merges into the same records.
    LocalPlaylist again;
    QCOMPARE(allTracks(u"Mix"_qs, tracks, again, &drm, true), 0);
    QCOMPARE(tracks.count(), 4);
    QCOMPARE(again.mEntries.at(1).mTrack, 2);

    TrackList whole;
    LocalPlaylist music, missing;
    QCOMPARE(allTracks(QString(), whole, music), 0);
    QCOMPARE(whole.count(), 3);
    QCOMPARE(allTracks(u"Nope"_qs, whole, missing), LocalMusicLibrary::CallFailed);
    QVERIFY(missing.mEntries.isEmpty());
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
    TrackList tracks;
    LocalPlaylist playlist;
    QCOMPARE(allTracks(u"Mix"_qs, tracks, playlist), 0);
    QCOMPARE(tracks.count(), 1);
    const Track &b = tracks.at(0);
    QVERIFY(b.mTrackName == u"Song B"_qs && b.mArtistName.isEmpty());
    QVERIFY(!b.mAlbumName.isNull() && b.mAlbumName.isEmpty());
    QCOMPARE(b.mDateAdded, 40558);
    QCOMPARE(faults.calls(u"FileTrack.Location"_qs), 9 + 1);
    // Item 3 is never fetched; the other four are asked for their file.
    QCOMPARE(faults.calls(u"Track.QueryFileTrack"_qs), 4);
    QCOMPARE(playlist.mEntries.size(), 1);

    faults.clear();
    faults.fail(u"Playlist.Tracks"_qs, ITResult::Fail, FaultScript::Always);
    QCOMPARE(allTracks(u"Mix"_qs, tracks, playlist), LocalMusicLibrary::CallFailed);
}

void TestLocalMusicLibrary::refreshPlaylists()
{
    QVERIFY(mLibrary->refreshPlaylists());
    QCOMPARE(mLibrary->playlists(),
             QStringList({u"Mix"_qs, u"mix"_qs, u"Dup"_qs, u"Dup"_qs, u"Smart"_qs}));
    QVERIFY(!mLibrary->refreshPlaylists());

    // Changed contents are not a changed list; a renamed playlist is.
    LibrarySnapshot changed = sampleLibrary();
    changed.mPlaylists[6].mTracks = {1, 2};
    mFactory->setLibrary(changed);
    QVERIFY(!mLibrary->refreshPlaylists());
    changed.mPlaylists[6].mName = u"Smarter"_qs;
    mFactory->setLibrary(changed);
    QVERIFY(mLibrary->refreshPlaylists());
    QCOMPARE(mLibrary->playlists().last(), u"Smarter"_qs);

    mFactory->faults().fail(u"CreateApp"_qs, ITResult::Fail, FaultScript::Always);
    QVERIFY(!mLibrary->refreshPlaylists());
}

void TestLocalMusicLibrary::events()
{
    QSignalSpy events(mLibrary.get(), &LocalMusicLibrary::localLibraryEvent);
    // Listening again replaces the connection rather than doubling events.
    for (int round = 1; round <= 2; ++round) {
        QCOMPARE(mLibrary->listenForITunesEvents(), ITResult::Ok);
        QCOMPARE(mFactory->connectionCount(), 1);
        mFactory->fireEvent();
        QCOMPARE(events.count(), round);
    }
    mLibrary.reset();
    QCOMPARE(mFactory->connectionCount(), 0);
}

void TestLocalMusicLibrary::podcasts()
{
    mFactory->setLibrary(podcastLibrary());
    mLibrary->refreshPodcasts();
    QCOMPARE(mLibrary->podcasts(), QStringList({u"Pod A"_qs, u"Pod B"_qs, u""_qs, u"Pod C"_qs}));

    mFactory->faults().fail(u"Playlist.Tracks"_qs, ITResult::Fail, FaultScript::Always);
    mLibrary->refreshPodcasts();
    QVERIFY(mLibrary->podcasts().isEmpty());

    // Without a Podcasts playlist each wanted podcast is an empty playlist.
    mFactory->faults().clear();
    mFactory->setLibrary(sampleLibrary());
    QList<LocalPlaylist> playlists;
    TrackList tracks;
    mLibrary->getPodcasts({u"Pod A"_qs}, playlists, tracks);
    QCOMPARE(playlists.size(), 1);
    QVERIFY(playlists.first().mEntries.isEmpty());
    QCOMPARE(tracks.count(), 0);
}

void TestLocalMusicLibrary::getPodcasts()
{
    mFactory->setLibrary(podcastLibrary());
    QList<LocalPlaylist> playlists{LocalPlaylist{u"Earlier"_qs, {}}};
    TrackList tracks;
    tracks.addTrack(Track(u"Other"_qs, u"X"_qs, u"Y"_qs, 1, u"/o"_qs, true, false, false, {}));
    mLibrary->getPodcasts({u"Pod B"_qs, u"Nothing"_qs, u"Pod A"_qs, QString()}, playlists, tracks);
    QCOMPARE(playlists.size(), 5);
    QCOMPARE(playlists.at(2).mName, u"Nothing"_qs);
    QVERIFY(playlists.at(2).mEntries.isEmpty());
    // The m4b episode is copy-protected and left out; Pod C is not wanted.
    QCOMPARE(names(tracks),
             QStringList({u"Other"_qs, u"A1"_qs, u"B1"_qs, u"A2"_qs, u"Loose"_qs, u"B2"_qs}));
    const auto &podB = playlists.at(1).mEntries;
    QCOMPARE(podB.size(), 2);
    QCOMPARE(podB.at(0).mTrack, 2);
    QCOMPARE(podB.at(0).mDateAdded, 41001);
    QCOMPARE(podB.at(1).mTrack, 5);
    // A1 is in both Podcasts playlists: one track, two entries.
    QCOMPARE(playlists.at(3).mEntries.size(), 3);
    QCOMPARE(playlists.at(3).mEntries.at(2).mTrack, 1);
    QCOMPARE(playlists.at(4).mEntries.size(), 1);
}

void TestLocalMusicLibrary::podcastRamCache()
{
    mFactory->setLibrary(podcastLibrary());
    auto cache = std::make_unique<PodcastRamCache>(mFactory);
    QSignalSpy updated(cache.get(), &PodcastRamCache::updated);
    cache->start();
    QTRY_COMPARE(updated.count(), 1);
    cache->wait();
    QStringList names;
    cache->getPodcasts(names);
    QCOMPARE(names.size(), 4);

    // Destroying it cancels the wait for a busy library.
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    cache = std::make_unique<PodcastRamCache>(mFactory);
    cache->start();
    QTRY_VERIFY(mFactory->faults().calls(u"CreateApp"_qs) >= 2);
    cache.reset();
    QVERIFY(PodcastRamCache::instance() == nullptr);
}

QTEST_GUILESS_MAIN(TestLocalMusicLibrary)
#include "tst_localmusiclibrary.moc"
