#include "library/localmusiclibrary.h"
#include "library/podcastramcache.h"
#include "library/scriptedappfactory.h"
#include "sync/tracklist.h"
#include "testhome.h"

#include <QTest>

namespace {

LibrarySnapshot::TrackRecord episode(const QString &aName, const QString &aPodcast,
                                     const QString &aPath, double aDate)
{
    LibrarySnapshot::TrackRecord track;
    track.mName = aName;
    track.mAlbum = aPodcast;
    track.mArtist = u"Host"_qs;
    track.mPath = aPath;
    track.mSize = 500;
    track.mPodcast = true;
    track.mDateAdded = aDate;
    return track;
}

LibrarySnapshot podcastLibrary()
{
    LibrarySnapshot s;
    const int a1 = s.addTrack(episode(u"A1"_qs, u"Pod A"_qs, u"/p/a1.mp3"_qs, 41000.2));
    const int b1 = s.addTrack(episode(u"B1"_qs, u"Pod B"_qs, u"/p/b1.mp3"_qs, 41001.9));
    const int a2 = s.addTrack(episode(u"A2"_qs, u"Pod A"_qs, u"/p/a2.mp3"_qs, 41002.5));
    const int book = s.addTrack(episode(u"Book"_qs, u"Pod B"_qs, u"/p/book.m4b"_qs, 41003));
    const int none = s.addTrack(episode(u"Loose"_qs, QString(), u"/p/loose.mp3"_qs, 41004));
    const int b2 = s.addTrack(episode(u"B2"_qs, u"Pod B"_qs, u"/p/b2.mp3"_qs, 41005));
    s.addPlaylist(u"Library"_qs, 0, {a1, b1, a2, book, none, b2}, 1);
    s.addPlaylist(u"Music"_qs, 6, {});
    // A user playlist named like the special one must not be taken for it.
    s.addPlaylist(u"Podcasts"_qs, 3, {a1, b1, a2, book, none, b2});
    s.addPlaylist(u"Podcasts"_qs, 0, {a1});
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

class TestPodcasts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void refreshPodcasts();
    void refreshPodcastsFailures();
    void noPodcastsPlaylist();
    void getPodcasts();
    void getPodcastsEmptyName();
    void severalPodcastsPlaylists();
    void ramCache();
    void ramCacheCancelled();

private:
    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
};

void TestPodcasts::init()
{
    mHome = std::make_unique<TestHome>();
    mFactory = std::make_shared<ScriptedAppFactory>(podcastLibrary());
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mLibrary->setRetryPause(1);
}

void TestPodcasts::cleanup()
{
    mLibrary.reset();
    mFactory.reset();
    mHome.reset();
}

void TestPodcasts::refreshPodcasts()
{
    mLibrary->refreshPodcasts();
    QCOMPARE(mLibrary->podcasts(), QStringList({u"Pod A"_qs, u"Pod B"_qs, u""_qs}));
    mLibrary->refreshPodcasts();
    QCOMPARE(mLibrary->podcasts().size(), 3);
}

void TestPodcasts::refreshPodcastsFailures()
{
    mFactory->faults().fail(u"Track.Album"_qs, ITResult::Fail, FaultScript::Always, u"A1"_qs);
    mLibrary->refreshPodcasts();
    // Pod A now first appears with A2, after Pod B.
    QCOMPARE(mLibrary->podcasts(), QStringList({u"Pod B"_qs, u"Pod A"_qs, u""_qs}));

    mFactory->faults().clear();
    mFactory->faults().fail(u"Playlist.Tracks"_qs, ITResult::Fail, FaultScript::Always);
    mLibrary->refreshPodcasts();
    QVERIFY(mLibrary->podcasts().isEmpty());
}

void TestPodcasts::noPodcastsPlaylist()
{
    LibrarySnapshot s = podcastLibrary();
    s.mPlaylists.removeAt(2);
    mFactory->setLibrary(s);
    mLibrary->refreshPodcasts();
    QVERIFY(mLibrary->podcasts().isEmpty());
    QList<LocalPlaylist> playlists;
    TrackList tracks;
    mLibrary->getPodcasts({u"Pod A"_qs}, playlists, tracks);
    QCOMPARE(playlists.size(), 1);
    QVERIFY(playlists.first().mEntries.isEmpty());
    QCOMPARE(tracks.count(), 0);
}

void TestPodcasts::getPodcasts()
{
    QList<LocalPlaylist> playlists;
    playlists.append(LocalPlaylist{u"Earlier"_qs, {}});
    TrackList tracks;
    tracks.addTrack(Track(u"Other"_qs, u"X"_qs, u"Y"_qs, 1, u"/o"_qs, true, false, false, {}));
    mLibrary->getPodcasts({u"Pod B"_qs, u"Nothing"_qs}, playlists, tracks);
    QCOMPARE(playlists.size(), 3);
    QCOMPARE(playlists.at(1).mName, u"Pod B"_qs);
    QCOMPARE(playlists.at(2).mName, u"Nothing"_qs);
    QVERIFY(playlists.at(2).mEntries.isEmpty());
    // The m4b episode is copy-protected and left out.
    QCOMPARE(names(tracks), QStringList({u"Other"_qs, u"B1"_qs, u"B2"_qs}));
    const auto &entries = playlists.at(1).mEntries;
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).mTrack, 1);
    QCOMPARE(entries.at(0).mDateAdded, 41001);
    QCOMPARE(entries.at(1).mTrack, 2);
    QCOMPARE(entries.at(1).mDateAdded, 41005);
    QVERIFY(!tracks.at(1).mConvertToMp3);
    QVERIFY(tracks.at(1).mOnLocalSyncPlaylist);
}

void TestPodcasts::getPodcastsEmptyName()
{
    QList<LocalPlaylist> playlists;
    TrackList tracks;
    mLibrary->getPodcasts({QString()}, playlists, tracks);
    QCOMPARE(playlists.size(), 1);
    QCOMPARE(names(tracks), QStringList({u"Loose"_qs}));
}

void TestPodcasts::severalPodcastsPlaylists()
{
    LibrarySnapshot s = podcastLibrary();
    const int c1 = s.addTrack(episode(u"C1"_qs, u"Pod C"_qs, u"/p/c1.mp3"_qs, 41010));
    s.addPlaylist(u"More podcasts"_qs, 3, {c1, 0});
    mFactory->setLibrary(s);
    mLibrary->refreshPodcasts();
    QCOMPARE(mLibrary->podcasts(), QStringList({u"Pod A"_qs, u"Pod B"_qs, u""_qs, u"Pod C"_qs}));
    QList<LocalPlaylist> playlists;
    TrackList tracks;
    mLibrary->getPodcasts({u"Pod C"_qs, u"Pod A"_qs}, playlists, tracks);
    QCOMPARE(playlists.size(), 2);
    QCOMPARE(names(tracks), QStringList({u"A1"_qs, u"A2"_qs, u"C1"_qs}));
    QCOMPARE(playlists.at(0).mEntries.size(), 1);
    // A1 is in both Podcasts playlists: one track, two entries.
    QCOMPARE(playlists.at(1).mEntries.size(), 3);
    QCOMPARE(playlists.at(1).mEntries.at(2).mTrack, 0);
}

void TestPodcasts::ramCache()
{
    PodcastRamCache cache(mFactory);
    QCOMPARE(PodcastRamCache::instance(), &cache);
    QStringList names;
    cache.getPodcasts(names);
    QVERIFY(names.isEmpty());
    int updated = 0;
    connect(&cache, &PodcastRamCache::updated, this, [&] { ++updated; });
    cache.start();
    QTRY_COMPARE(updated, 1);
    cache.wait();
    cache.getPodcasts(names);
    QCOMPARE(names, QStringList({u"Pod A"_qs, u"Pod B"_qs, u""_qs}));

    PodcastRamCache second(mFactory);
    QCOMPARE(PodcastRamCache::instance(), &cache);
}

void TestPodcasts::ramCacheCancelled()
{
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    auto cache = std::make_unique<PodcastRamCache>(mFactory);
    cache->start();
    QTRY_VERIFY(mFactory->faults().calls(u"CreateApp"_qs) >= 2);
    // Destroying it cancels the wait for the busy library.
    cache.reset();
    QVERIFY(PodcastRamCache::instance() == nullptr);
}

QTEST_GUILESS_MAIN(TestPodcasts)
#include "tst_podcasts.moc"
