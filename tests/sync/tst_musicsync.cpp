#include "devices/fakevolumesource.h"
#include "devices/usbmsdevice.h"
#include "library/ituserplaylist.h"
#include "library/localmusiclibrary.h"
#include "library/scriptedappfactory.h"
#include "settings/syncsettings.h"
#include "sync/fakepowerinhibitor.h"
#include "sync/musicsync.h"
#include "sync/trackcache.h"
#include "testhome.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <stdexcept>

namespace {

const QString PodcastName = QStringLiteral("Talk Show");

// A USB phone that can be told to throw in the middle of a run.
class FaultyPhone : public UsbMSDevice
{
public:
    using UsbMSDevice::createPlaylist;
    using UsbMSDevice::UsbMSDevice;
    int UploadTrack(Track &aTrack) override
    {
        if (aTrack.mTrackName == mThrowOnUpload)
            throw std::runtime_error("upload");
        return UsbMSDevice::UploadTrack(aTrack);
    }
    void createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                        bool aForce) override
    {
        if (mThrowOnPlaylist)
            throw std::runtime_error("playlist");
        UsbMSDevice::createPlaylist(aPlaylist, aTracks, aForce);
    }
    QString mThrowOnUpload;
    bool mThrowOnPlaylist = false;
};

// What one run showed through its signals, and how it answers the questions.
struct RunRecord
{
    int mFinalState = -1; // -2 when the end was signalled twice
    QList<int> mStates;
    QStringList mCopiedNames;
    int mDeleteQuestions = 0;
    int mDrmQuestions = 0;
    QList<qint64> mSpaceQuestions;
    bool mGoOnWhenShort = true;
};

} // namespace

class TestMusicSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void firstRunThenFullResync();
    void allMusicWritesEveryUserPlaylist();
    void deletionConfirmedFromAnotherThread();
    void notEnoughSpace_data();
    void notEnoughSpace();
    void podcastEpisodes_data();
    void podcastEpisodes();
    void oneTrackFails_data();
    void oneTrackFails();
    void earlyEnds_data();
    void earlyEnds();
    void cancelWhileCopyingEndsCancelled();

private:
    void configure(const QStringList &aPlaylists, bool aAllMusic = false, int aPodcasts = 0,
                   int aEpisodes = 0);
    std::unique_ptr<MusicSync> makeSync(RunRecord &aRecord,
                                        Qt::ConnectionType aQuestions = Qt::DirectConnection);
    RunRecord run(bool aForceFull = false, bool aGoOnWhenShort = true);
    // Runs in the sync's own thread and returns the final state.
    static int runInThread(MusicSync &aSync);
    QString cachePath() const;
    // Cache records of tracks on the phone.
    int cacheRecords() const;
    QStringList phoneMusicFiles() const;
    QStringList phoneFiles(const QList<int> &aTracks) const;

    std::unique_ptr<TestHome> mHome;
    QString mPhoneRoot;
    LibrarySnapshot mSnapshot;
    std::shared_ptr<FakeVolumeSource> mSource;
    std::unique_ptr<FaultyPhone> mDevice;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    FakePowerInhibitor *mInhibitor = nullptr;
    bool mFailInhibitor = false;
    QString mConverter;
};

// Tracks 0-3 Alpha/First "A song 0-3", 4-7 Beta/Second "B song 0-3", 8 an AAC
// file, 9-13 podcast episodes, 14 a protected file.
void TestMusicSync::init()
{
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
    mPhoneRoot = mHome->filePath(u"phone"_qs);
    QVERIFY(QDir().mkpath(mPhoneRoot));
    mSnapshot = LibrarySnapshot();
    const struct
    {
        QString mArtist, mAlbum, mName, mExtension;
        int mCount;
    } groups[] = {{u"Alpha"_qs, u"First"_qs, u"A song %1"_qs, u".mp3"_qs, 4},
                  {u"Beta"_qs, u"Second"_qs, u"B song %1"_qs, u".mp3"_qs, 4},
                  {u"Gamma"_qs, u"Third"_qs, u"Aac song"_qs, u".m4a"_qs, 1},
                  {PodcastName, PodcastName, u"Episode %1"_qs, u".mp3"_qs, 5},
                  {u"Gamma"_qs, u"Third"_qs, u"Locked"_qs, u".m4p"_qs, 1}};
    QList<qint32> episodes;
    for (const auto &group : groups) {
        const QString folder = mHome->filePath(u"media/"_qs + group.mArtist + u'/' + group.mAlbum);
        QVERIFY(QDir().mkpath(folder));
        for (int n = 0; n < group.mCount; ++n) {
            LibrarySnapshot::TrackRecord track;
            track.mArtist = group.mArtist;
            track.mAlbum = group.mAlbum;
            track.mName = group.mCount > 1 ? group.mName.arg(n) : group.mName;
            track.mPath = folder + u'/' + track.mName + group.mExtension;
            track.mSize = 1000;
            track.mTrackNumber = int(mSnapshot.mTracks.size()) % 10 + 1;
            if (group.mArtist == PodcastName) {
                track.mPodcast = true;
                // Out of order, so that "newest" differs from list order.
                track.mDateAdded = 41000 + (n * 3) % 5;
                episodes.append(qint32(mSnapshot.mTracks.size()));
            }
            QFile file(track.mPath);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(1000, 'a')) == 1000);
            mSnapshot.addTrack(track);
        }
    }
    const int none = ITUserPlaylist::SpecialKindNone;
    mSnapshot.addPlaylist(u"Rock"_qs, none, {0, 1, 2, 3});
    mSnapshot.addPlaylist(u"Jazz"_qs, none, {4, 5, 6, 7});
    mSnapshot.addPlaylist(u"Mixed"_qs, none, {2, 5});
    mSnapshot.addPlaylist(u"Convert"_qs, none, {8, 0, 14});
    mSnapshot.addPlaylist(QString(), none, {6});
    mSnapshot.addPlaylist(u"Podcasts"_qs, ITUserPlaylist::SpecialKindPodcasts, episodes);
    mSnapshot.addMissingMusicPlaylist();

    mSource = std::make_shared<FakeVolumeSource>();
    mSource->plug(mPhoneRoot);
    mDevice = std::make_unique<FaultyPhone>(mSource, mPhoneRoot, u"Phone"_qs, false);
    mDevice->SetConfigured();
    mLibrary = std::make_unique<LocalMusicLibrary>(std::make_shared<ScriptedAppFactory>(mSnapshot));
    mConverter = u"false"_qs;
}

void TestMusicSync::cleanup()
{
    mFailInhibitor = false;
    mLibrary.reset();
    mDevice.reset();
    mSource.reset();
    mHome.reset();
}

void TestMusicSync::configure(const QStringList &aPlaylists, bool aAllMusic, int aPodcasts,
                              int aEpisodes)
{
    SyncSettings settings;
    settings.load();
    const QString id = mDevice->UniqueDeviceId();
    QCOMPARE(settings.setConfig(id, aAllMusic, aPodcasts, aPlaylists, {PodcastName}, id), 0);
    settings.setNumberOfEpisodesToSync(id, aEpisodes);
    settings.setEnableArtworkSync(id, false);
    QCOMPARE(settings.save(), 0);
}

std::unique_ptr<MusicSync> TestMusicSync::makeSync(RunRecord &aRecord,
                                                   Qt::ConnectionType aQuestions)
{
    auto sync = std::make_unique<MusicSync>(mLibrary.get(), mDevice.get());
    auto inhibitor = std::make_unique<FakePowerInhibitor>();
    inhibitor->setFailAcquire(mFailInhibitor);
    mInhibitor = inhibitor.get();
    sync->setPowerInhibitor(std::move(inhibitor));
    sync->setConverterProgram(mConverter);
    MusicSync *s = sync.get();
    RunRecord *r = &aRecord;
    // Direct: the questions are answered on the thread that runs the sync.
    const auto direct = Qt::DirectConnection;
    connect(
        s, qOverload<int, int>(&MusicSync::ProgressUpdate), s,
        [r](int aState, int) { r->mStates.append(aState); }, direct);
    connect(
        s, qOverload<int, int, QString>(&MusicSync::ProgressUpdate), s,
        [r](int aState, int, const QString &aName) {
            if (aState == MusicSync::StateCopying)
                r->mCopiedNames.append(aName);
        },
        direct);
    connect(
        s, &MusicSync::ConfirmDeleteTracks, this,
        [r, s] {
            ++r->mDeleteQuestions;
            s->setDeleteConfirmed(true);
        },
        aQuestions);
    connect(
        s, &MusicSync::DrmTracksFound, this, [r] { ++r->mDrmQuestions; }, aQuestions);
    connect(
        s, &MusicSync::notEnoughSpace, this,
        [r, s](qint64 aBytes) {
            r->mSpaceQuestions.append(aBytes);
            if (!r->mGoOnWhenShort)
                s->Cancel();
        },
        aQuestions);
    connect(
        s, &MusicSync::runFinished, s,
        [r](int aState) { r->mFinalState = r->mFinalState == -1 ? aState : -2; }, direct);
    return sync;
}

RunRecord TestMusicSync::run(bool aForceFull, bool aGoOnWhenShort)
{
    RunRecord record;
    record.mGoOnWhenShort = aGoOnWhenShort;
    auto sync = makeSync(record);
    const int state = sync->runGuarded(aForceFull);
    if (state != record.mFinalState || mInhibitor->isHeld() || mInhibitor->acquireCount() != 1)
        record.mFinalState = -1;
    return record;
}

int TestMusicSync::runInThread(MusicSync &aSync)
{
    QSignalSpy finished(&aSync, &MusicSync::runFinished);
    aSync.StartInNewThread(false);
    if (!finished.wait(20000) || !aSync.wait(5000))
        return -1;
    return finished.first().first().toInt();
}

QString TestMusicSync::cachePath() const
{
    SyncSettings settings;
    settings.load();
    QString path;
    settings.getCacheFilename(mDevice->UniqueDeviceId(), path);
    return path;
}

int TestMusicSync::cacheRecords() const
{
    TrackCache cache;
    if (cache.openFile(cachePath()) != 0)
        return -1;
    TrackList tracks;
    cache.updateTrackList(tracks);
    int onPhone = 0;
    for (int i = 0; i < tracks.count(); ++i)
        onPhone += tracks.at(i).mOnRemoteDevice ? 1 : 0;
    return onPhone;
}

QStringList TestMusicSync::phoneMusicFiles() const
{
    QStringList files;
    QDirIterator it(mPhoneRoot + QStringLiteral("/Music"),
                    {QStringLiteral("*.mp3"), QStringLiteral("*.m4?")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(mPhoneRoot.size() + 1));
    files.sort();
    return files;
}

QStringList TestMusicSync::phoneFiles(const QList<int> &aTracks) const
{
    QStringList files;
    for (int track : aTracks) {
        const LibrarySnapshot::TrackRecord &t = mSnapshot.mTracks.at(track);
        files.append(u"Music/"_qs + t.mArtist + u'/' + t.mAlbum + u'/' +
                     QFileInfo(t.mPath).fileName());
    }
    return files;
}

void TestMusicSync::firstRunThenFullResync()
{
    configure({QStringLiteral("Rock"), QStringLiteral("Mixed")});
    const RunRecord first = run();
    QCOMPARE(first.mFinalState, MusicSync::StateFinished);
    const QStringList wanted = phoneFiles({0, 1, 2, 3, 5});
    QCOMPARE(phoneMusicFiles(), wanted);
    QCOMPARE(cacheRecords(), 5);
    // Backwards through the list: Mixed's new track first, then Rock from its end.
    QCOMPARE(first.mCopiedNames, QStringList({u"B song 1"_qs, u"A song 3"_qs, u"A song 2"_qs,
                                              u"A song 1"_qs, u"A song 0"_qs}));
    QVERIFY(QFileInfo::exists(mPhoneRoot + QStringLiteral("/Playlists_KVL/Mixed.m3u")));

    // A full resynchronisation starts from empty cache files and records every track again.
    const QString idsFile = cachePath() + u'p';
    const qint64 idsSize = QFileInfo(idsFile).size();
    QFile ids(idsFile);
    QVERIFY(ids.open(QIODevice::Append) && ids.write("stale") == 5);
    ids.close();
    const RunRecord forced = run(true);
    QCOMPARE(forced.mFinalState, MusicSync::StateFinished);
    QCOMPARE(forced.mCopiedNames.size(), 5);
    QCOMPARE(cacheRecords(), 5);
    QCOMPARE(QFileInfo(idsFile).size(), idsSize);
    QCOMPARE(phoneMusicFiles(), wanted);
}

void TestMusicSync::allMusicWritesEveryUserPlaylist()
{
    // Not being able to keep the machine awake costs nothing but a log line.
    mFailInhibitor = true;
    configure({}, true);
    const RunRecord record = run();
    QCOMPARE(record.mFinalState, MusicSync::StateFinished);
    QCOMPARE(QDir(mPhoneRoot + QStringLiteral("/Playlists_KVL"))
                 .entryList({QStringLiteral("*.m3u")}, QDir::Files, QDir::Name),
             QStringList({u"Convert.m3u"_qs, u"Jazz.m3u"_qs, u"Mixed.m3u"_qs, u"Rock.m3u"_qs}));
    // The whole library's music but the protected track; no podcast.
    QCOMPARE(phoneMusicFiles().size(), 9);
    QCOMPARE(cacheRecords(), 9);
    QCOMPARE(record.mDrmQuestions, 1);
}

// The window answers the question from its own thread while the run waits.
void TestMusicSync::deletionConfirmedFromAnotherThread()
{
    configure({QStringLiteral("Rock"), QStringLiteral("Jazz")});
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    configure({QStringLiteral("Rock"), QStringLiteral("Mixed")});
    RunRecord record;
    auto sync = makeSync(record, Qt::BlockingQueuedConnection);
    QCOMPARE(runInThread(*sync), MusicSync::StateFinished);
    QCOMPARE(record.mDeleteQuestions, 1);
    QStringList toDelete;
    for (int i = 0; i < sync->TracksToDelete().count(); ++i)
        toDelete.append(sync->TracksToDelete().at(i).mTrackName);
    toDelete.sort();
    QCOMPARE(toDelete, QStringList({u"B song 0"_qs, u"B song 2"_qs, u"B song 3"_qs}));
    QCOMPARE(phoneMusicFiles(), phoneFiles({0, 1, 2, 3, 5}));
    QCOMPARE(cacheRecords(), 5);
    // The dropped playlist's file is emptied.
    QVERIFY(QFileInfo(mPhoneRoot + QStringLiteral("/Playlists_KVL/Jazz.m3u")).size() < 20);
    QCOMPARE(run().mDeleteQuestions, 0);
}

void TestMusicSync::notEnoughSpace_data()
{
    QTest::addColumn<bool>("forceFull");
    QTest::addColumn<bool>("goOn");
    QTest::addColumn<int>("finalState");
    QTest::newRow("user goes on") << false << true << 2;
    QTest::newRow("user declines") << false << false << 6;
    QTest::newRow("full resync never asks") << true << false << 2;
}

// The four Rock tracks need 4000 bytes; the phone has 1500.
void TestMusicSync::notEnoughSpace()
{
    QFETCH(bool, forceFull);
    QFETCH(bool, goOn);
    QFETCH(int, finalState);
    mSource->setFreeBytes(mPhoneRoot, 1500);
    configure({QStringLiteral("Rock")});
    const RunRecord record = run(forceFull, goOn);
    QCOMPARE(record.mFinalState, finalState);
    QCOMPARE(record.mSpaceQuestions, forceFull ? QList<qint64>() : QList<qint64>{2500});
    QCOMPARE(phoneMusicFiles().size(), finalState == MusicSync::StateCancelled ? 0 : 4);
}

void TestMusicSync::podcastEpisodes_data()
{
    QTest::addColumn<int>("podcastSetting");
    QTest::addColumn<int>("episodes");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("by name, two newest") << 2 << 2 << QStringList{u"Episode 1"_qs, u"Episode 3"_qs};
    QTest::newRow("all podcasts, no limit")
        << 1 << 0
        << QStringList{u"Episode 0"_qs, u"Episode 1"_qs, u"Episode 2"_qs, u"Episode 3"_qs,
                       u"Episode 4"_qs};
    QTest::newRow("podcasts off") << 0 << 2 << QStringList();
}

void TestMusicSync::podcastEpisodes()
{
    QFETCH(int, podcastSetting);
    QFETCH(int, episodes);
    QFETCH(QStringList, expected);
    configure({}, false, podcastSetting, episodes);
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QStringList names;
    for (const QString &file : phoneMusicFiles())
        names.append(QFileInfo(file).completeBaseName());
    QCOMPARE(names, expected);
}

void TestMusicSync::oneTrackFails_data()
{
    QTest::addColumn<QString>("playlist");
    QTest::addColumn<QString>("converter");
    QTest::addColumn<QList<int>>("copied");
    QTest::addColumn<QString>("failed");
    QTest::newRow("exception in one upload")
        << u"Rock"_qs << QString() << QList<int>{0, 1, 3} << u"A song 2"_qs;
    QTest::newRow("converter fails")
        << u"Convert"_qs << u"false"_qs << QList<int>{0} << u"Aac song"_qs;
    QTest::newRow("converter missing")
        << u"Convert"_qs << u"/nonexistent/ffmpeg"_qs << QList<int>{0} << u"Aac song"_qs;
}

// The failed track is listed as not copied, uploads nothing, and the run goes on.
void TestMusicSync::oneTrackFails()
{
    QFETCH(QString, playlist);
    QFETCH(QString, converter);
    QFETCH(QList<int>, copied);
    QFETCH(QString, failed);
    configure({playlist});
    if (!converter.isEmpty()) {
        mConverter = converter;
        SyncSettings settings;
        settings.load();
        settings.setConvertAacToMp3(mDevice->UniqueDeviceId(), true);
        QCOMPARE(settings.save(), 0);
    }
    mDevice->mThrowOnUpload = u"A song 2"_qs;
    RunRecord record;
    auto sync = makeSync(record);
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    QCOMPARE(phoneMusicFiles(), phoneFiles(copied));
    QCOMPARE(sync->GetNonCopiedTracks().count(), 1);
    QCOMPARE(sync->GetNonCopiedTracks().at(0).mTrackName, failed);
    QCOMPARE(sync->lastError(), Device::CopyFailed);
    QCOMPARE(cacheRecords(), copied.size());
}

void TestMusicSync::earlyEnds_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("files");
    QTest::newRow("no settings file") << QStringLiteral("settings") << 5 << 0;
    QTest::newRow("phone not configured") << QStringLiteral("unconfigured") << 4 << 0;
    QTest::newRow("cache cannot be opened") << QStringLiteral("cache") << 3 << 0;
    QTest::newRow("fault outside a track") << QStringLiteral("fault") << 3 << 4;
}

// Every run ends in one final state, with the machine allowed to sleep again.
void TestMusicSync::earlyEnds()
{
    QFETCH(QString, situation);
    QFETCH(int, state);
    QFETCH(int, files);
    if (situation == u"unconfigured") {
        SyncSettings settings;
        settings.load();
        settings.setConfig(QStringLiteral("another phone"), true, 0, {}, {}, QString());
        settings.save();
    } else if (situation != u"settings") {
        configure({QStringLiteral("Rock")});
    }
    if (situation == u"cache")
        QVERIFY(QDir().mkpath(cachePath()));
    mDevice->mThrowOnPlaylist = situation == u"fault";

    const RunRecord record = run();
    QCOMPARE(record.mFinalState, state);
    QCOMPARE(record.mStates.last(), state);
    QCOMPARE(phoneMusicFiles().size(), files);
    if (situation == u"fault")
        QCOMPARE(cacheRecords(), 4);
}

void TestMusicSync::cancelWhileCopyingEndsCancelled()
{
    configure({QStringLiteral("Rock"), QStringLiteral("Jazz")});
    RunRecord record;
    auto sync = makeSync(record);
    MusicSync *s = sync.get();
    connect(
        s, qOverload<int, int, QString>(&MusicSync::ProgressUpdate), s,
        [s](int aState, int, const QString &) {
            if (aState == MusicSync::StateCopying)
                s->Cancel();
        },
        Qt::DirectConnection);
    QCOMPARE(runInThread(*s), MusicSync::StateCancelled);
    QCOMPARE(record.mStates.mid(record.mStates.size() - 2),
             QList<int>({MusicSync::StateFinished, MusicSync::StateCancelled}));
    QVERIFY(!record.mStates.contains(MusicSync::StateUpdatingPlaylists));
    QVERIFY(phoneMusicFiles().isEmpty());
    // The device was finalised: its metadata file is there for the phone.
    QVERIFY(QFileInfo(mPhoneRoot + QStringLiteral("/VARUZ/metadata0.xml")).size() > 0);
}

QTEST_GUILESS_MAIN(TestMusicSync)
#include "tst_musicsync.moc"
