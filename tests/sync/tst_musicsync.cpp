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

#include <QBuffer>
#include <QDirIterator>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>
#include <stdexcept>

namespace {

const QString PodcastName = QStringLiteral("Talk Show");
const QString ArtFirst = QStringLiteral("/Music/Alpha/First/AlbumArt.jpg");
const QString ArtSecond = QStringLiteral("/Music/Beta/Second/AlbumArt.jpg");

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

// What one run showed through its signals.
struct RunRecord
{
    int mFinalState = -1;
    int mFinishedSignals = 0;
    QList<int> mStates;
    QList<int> mCopyPercents;
    QStringList mCopiedNames;
    int mDeleteQuestions = 0;
    int mDrmQuestions = 0;
    QList<qint64> mSpaceQuestions;
    bool mConfirmDelete = true;
    bool mGoOnWhenShort = true;
};

QByteArray coverJpeg()
{
    QImage image(600, 300, QImage::Format_RGB32);
    image.fill(Qt::red);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return buffer.data();
}

} // namespace

class TestMusicSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void firstRunCopiesThenNothing();
    void allMusicWritesEveryUserPlaylist();
    void deletion_data();
    void deletion();
    void notEnoughSpace_data();
    void notEnoughSpace();
    void podcastEpisodes_data();
    void podcastEpisodes();
    void albumArtOncePerAlbum_data();
    void albumArtOncePerAlbum();
    void forcedAlbumArtPassSwitchesItselfOff();
    void conversion_data();
    void conversion();
    void faultInOneTrackSkipsOnlyThatTrack();
    void earlyEnds_data();
    void earlyEnds();
    void cancelWhileCopyingEndsCancelled();
    void cancelEndsBusyLibraryWait();

private:
    void addTrack(const QString &aArtist, const QString &aAlbum, const QString &aName,
                  const QString &aExtension, bool aArtwork = false);
    void configure(const QStringList &aPlaylists, bool aAllMusic = false, int aPodcasts = 0,
                   int aEpisodes = 0);
    void setOption(void (SyncSettings::*aSetter)(const QString &, bool), bool aValue);
    std::unique_ptr<MusicSync> makeSync(RunRecord &aRecord,
                                        Qt::ConnectionType aQuestions = Qt::DirectConnection);
    RunRecord run(bool aForceFull = false, bool aConfirmDelete = true, bool aGoOnWhenShort = true);
    QString cachePath() const;
    // Cache records of tracks on the phone.
    int cacheRecords() const;
    QStringList phoneMusicFiles() const;
    QString phoneFile(int aTrack) const;
    int albumArtPlacements() const;

    std::unique_ptr<TestHome> mHome;
    QString mPhoneRoot;
    LibrarySnapshot mSnapshot;
    std::shared_ptr<FakeVolumeSource> mSource;
    std::unique_ptr<FaultyPhone> mDevice;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    FakePowerInhibitor *mInhibitor = nullptr;
    bool mFailInhibitor = false;
    QString mConverter;
};

void TestMusicSync::addTrack(const QString &aArtist, const QString &aAlbum, const QString &aName,
                             const QString &aExtension, bool aArtwork)
{
    const QString folder = mHome->filePath(QStringLiteral("media/") + aArtist + u'/' + aAlbum);
    QDir().mkpath(folder);
    LibrarySnapshot::TrackRecord track;
    track.mName = aName;
    track.mAlbum = aAlbum;
    track.mArtist = aArtist;
    track.mPath = folder + u'/' + aName + aExtension;
    track.mSize = 1000;
    track.mTrackNumber = int(mSnapshot.mTracks.size()) % 10 + 1;
    if (aArtwork)
        track.mArtwork.append({1, coverJpeg()});
    QFile file(track.mPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(int(track.mSize), 'a'));
    mSnapshot.addTrack(track);
}

// Tracks 0-3 Alpha/First and 4-7 Beta/Second (with covers), 8 an AAC file,
// 9-13 podcast episodes, 14 a protected file.
void TestMusicSync::init()
{
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
    mPhoneRoot = mHome->filePath(QStringLiteral("phone"));
    QVERIFY(QDir().mkpath(mPhoneRoot));

    mSnapshot = LibrarySnapshot();
    for (int i = 0; i < 8; ++i)
        addTrack(i < 4 ? QStringLiteral("Alpha") : QStringLiteral("Beta"),
                 i < 4 ? QStringLiteral("First") : QStringLiteral("Second"),
                 QStringLiteral("%1 song %2").arg(QChar(i < 4 ? u'A' : u'B')).arg(i % 4),
                 QStringLiteral(".mp3"), true);
    addTrack(QStringLiteral("Gamma"), QStringLiteral("Third"), QStringLiteral("Aac song"),
             QStringLiteral(".m4a"));
    QList<qint32> episodes;
    for (int i = 0; i < 5; ++i) {
        addTrack(PodcastName, PodcastName, QStringLiteral("Episode %1").arg(i),
                 QStringLiteral(".mp3"));
        mSnapshot.mTracks.last().mPodcast = true;
        // Out of order, so that "newest" differs from list order.
        mSnapshot.mTracks.last().mDateAdded = 41000 + (i * 3) % 5;
        episodes.append(9 + i);
    }
    addTrack(QStringLiteral("Gamma"), QStringLiteral("Third"), QStringLiteral("Locked"),
             QStringLiteral(".m4p"));
    const int none = ITUserPlaylist::SpecialKindNone;
    mSnapshot.addPlaylist(QStringLiteral("Rock"), none, {0, 1, 2, 3});
    mSnapshot.addPlaylist(QStringLiteral("Jazz"), none, {4, 5, 6, 7});
    mSnapshot.addPlaylist(QStringLiteral("Mixed"), none, {2, 5});
    mSnapshot.addPlaylist(QStringLiteral("Convert"), none, {8, 0, 14});
    mSnapshot.addPlaylist(QString(), none, {6});
    mSnapshot.addPlaylist(QStringLiteral("Podcasts"), ITUserPlaylist::SpecialKindPodcasts,
                          episodes);
    mSnapshot.addMissingMusicPlaylist();

    mSource = std::make_shared<FakeVolumeSource>();
    mSource->plug(mPhoneRoot);
    mDevice = std::make_unique<FaultyPhone>(mSource, mPhoneRoot, QStringLiteral("Phone"), false);
    mDevice->SetConfigured();
    mFactory = std::make_shared<ScriptedAppFactory>(mSnapshot);
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mLibrary->setRetryPause(1);

    mConverter = mHome->filePath(QStringLiteral("fake-ffmpeg"));
    QFile script(mConverter);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nfor a; do out=\"$a\"; done\nprintf 'converted' > \"${out#file:}\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
}

void TestMusicSync::cleanup()
{
    mFailInhibitor = false;
    mLibrary.reset();
    mFactory.reset();
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

void TestMusicSync::setOption(void (SyncSettings::*aSetter)(const QString &, bool), bool aValue)
{
    SyncSettings settings;
    settings.load();
    (settings.*aSetter)(mDevice->UniqueDeviceId(), aValue);
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
        [r](int aState, int aPercent, const QString &aName) {
            if (aState == MusicSync::StateCopying) {
                r->mCopyPercents.append(aPercent);
                r->mCopiedNames.append(aName);
            }
        },
        direct);
    connect(
        s, &MusicSync::ConfirmDeleteTracks, this,
        [r, s] {
            ++r->mDeleteQuestions;
            s->setDeleteConfirmed(r->mConfirmDelete);
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
        [r](int aState) {
            r->mFinalState = aState;
            ++r->mFinishedSignals;
        },
        direct);
    return sync;
}

RunRecord TestMusicSync::run(bool aForceFull, bool aConfirmDelete, bool aGoOnWhenShort)
{
    RunRecord record;
    record.mConfirmDelete = aConfirmDelete;
    record.mGoOnWhenShort = aGoOnWhenShort;
    auto sync = makeSync(record);
    const int state = sync->runGuarded(aForceFull);
    if (state != record.mFinalState || record.mFinishedSignals != 1 || mInhibitor->isHeld())
        record.mFinalState = -1;
    return record;
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

QString TestMusicSync::phoneFile(int aTrack) const
{
    const LibrarySnapshot::TrackRecord &t = mSnapshot.mTracks.at(aTrack);
    return QStringLiteral("Music/") + t.mArtist + u'/' + t.mAlbum + u'/' +
           QFileInfo(t.mPath).fileName();
}

// Every placed cover adds one line to the phone's refresh hint file.
int TestMusicSync::albumArtPlacements() const
{
    QFile hint(mPhoneRoot + QStringLiteral("/VARUZ/refreshhint"));
    return hint.open(QIODevice::ReadOnly) ? int(hint.readAll().count('\n')) : 0;
}

void TestMusicSync::firstRunCopiesThenNothing()
{
    configure({QStringLiteral("Rock"), QStringLiteral("Mixed")});
    const RunRecord first = run();
    QCOMPARE(first.mFinalState, MusicSync::StateFinished);
    const QStringList wanted{phoneFile(0), phoneFile(1), phoneFile(2), phoneFile(3), phoneFile(5)};
    QCOMPARE(phoneMusicFiles(), wanted);
    QCOMPARE(cacheRecords(), 5);
    // Backwards through the list: Mixed's new track first, then Rock from its end.
    QCOMPARE(first.mCopiedNames,
             QStringList({QStringLiteral("B song 1"), QStringLiteral("A song 3"),
                          QStringLiteral("A song 2"), QStringLiteral("A song 1"),
                          QStringLiteral("A song 0")}));
    QCOMPARE(first.mCopyPercents, QList<int>({0, 20, 40, 60, 80}));
    const int copying = first.mStates.indexOf(MusicSync::StateCopying);
    QVERIFY(first.mStates.indexOf(MusicSync::StatePreparing) < copying);
    QVERIFY(copying < first.mStates.indexOf(MusicSync::StateUpdatingPlaylists));
    QCOMPARE(first.mStates.last(), MusicSync::StateFinished);
    QVERIFY(QFileInfo::exists(mPhoneRoot + QStringLiteral("/Playlists_KVL/Mixed.m3u")));
    QCOMPARE(first.mDeleteQuestions + first.mDrmQuestions, 0);

    const QString probe = mPhoneRoot + u'/' + phoneFile(0);
    const QDateTime stamp = QFileInfo(probe).lastModified();
    RunRecord second;
    auto sync = makeSync(second);
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    QVERIFY(second.mCopiedNames.isEmpty());
    QVERIFY(!second.mStates.contains(MusicSync::StateCopying));
    QCOMPARE(second.mDeleteQuestions, 0);
    QCOMPARE(sync->copiedCount(), 0);
    QCOMPARE(sync->lastError(), 0);
    QCOMPARE(cacheRecords(), 5);
    QCOMPARE(QFileInfo(probe).lastModified(), stamp);

    // A full resynchronisation starts from an empty cache and records every track again.
    const QString idsFile = cachePath() + u'p';
    const qint64 idsSize = QFileInfo(idsFile).size();
    QFile ids(idsFile);
    QVERIFY(ids.open(QIODevice::Append));
    ids.write("stale");
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
    const QStringList written = QDir(mPhoneRoot + QStringLiteral("/Playlists_KVL"))
                                    .entryList({QStringLiteral("*.m3u")}, QDir::Files, QDir::Name);
    QCOMPARE(written, QStringList({QStringLiteral("Convert.m3u"), QStringLiteral("Jazz.m3u"),
                                   QStringLiteral("Mixed.m3u"), QStringLiteral("Rock.m3u")}));
    // The whole library's music but the protected track; no podcast.
    QCOMPARE(phoneMusicFiles().size(), 9);
    QCOMPARE(cacheRecords(), 9);
    QCOMPARE(record.mDrmQuestions, 1);
}

void TestMusicSync::deletion_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("threaded");
    QTest::newRow("confirmed") << true << false;
    QTest::newRow("refused") << false << false;
    QTest::newRow("confirmed from another thread") << true << true;
    QTest::newRow("refused from another thread") << false << true;
}

void TestMusicSync::deletion()
{
    QFETCH(bool, confirm);
    QFETCH(bool, threaded);
    configure({QStringLiteral("Rock"), QStringLiteral("Jazz")});
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QCOMPARE(phoneMusicFiles().size(), 8);

    configure({QStringLiteral("Rock"), QStringLiteral("Mixed")});
    QFile cache(cachePath());
    QVERIFY(cache.open(QIODevice::ReadOnly));
    const QByteArray cacheBefore = cache.readAll();
    cache.close();

    RunRecord record;
    record.mConfirmDelete = confirm;
    auto sync = makeSync(record, threaded ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
    int state = -1;
    if (threaded) {
        QSignalSpy finished(sync.get(), &MusicSync::runFinished);
        sync->StartInNewThread(false);
        QVERIFY(finished.wait(20000));
        QVERIFY(sync->wait(5000));
        state = finished.first().first().toInt();
    } else {
        state = sync->runGuarded(false);
    }
    QCOMPARE(record.mDeleteQuestions, 1);
    QStringList toDelete;
    for (int i = 0; i < sync->TracksToDelete().count(); ++i)
        toDelete.append(sync->TracksToDelete().at(i).mTrackName);
    toDelete.sort();
    QCOMPARE(toDelete, QStringList({QStringLiteral("B song 0"), QStringLiteral("B song 2"),
                                    QStringLiteral("B song 3")}));
    if (confirm) {
        QCOMPARE(state, MusicSync::StateFinished);
        QVERIFY(record.mStates.contains(MusicSync::StateDeleting));
        QCOMPARE(phoneMusicFiles(), QStringList({phoneFile(0), phoneFile(1), phoneFile(2),
                                                 phoneFile(3), phoneFile(5)}));
        QCOMPARE(sync->GetNonDeletedTracks().count(), 0);
        QCOMPARE(cacheRecords(), 5);
        // The dropped playlist's file is emptied.
        QVERIFY(QFileInfo(mPhoneRoot + QStringLiteral("/Playlists_KVL/Jazz.m3u")).size() < 20);
        const RunRecord third = run();
        QCOMPARE(third.mDeleteQuestions, 0);
        QVERIFY(third.mCopiedNames.isEmpty());
    } else {
        QCOMPARE(state, MusicSync::StateCancelled);
        for (int s : {MusicSync::StateDeleting, MusicSync::StateCopying, MusicSync::StateFinished})
            QVERIFY(!record.mStates.contains(s));
        QCOMPARE(phoneMusicFiles().size(), 8);
        QVERIFY(cache.open(QIODevice::ReadOnly));
        QCOMPARE(cache.readAll(), cacheBefore);
    }
}

void TestMusicSync::notEnoughSpace_data()
{
    QTest::addColumn<quint64>("freeBytes");
    QTest::addColumn<bool>("forceFull");
    QTest::addColumn<bool>("goOn");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("finalState");
    QTest::newRow("enough space") << (quint64(1) << 30) << false << false << false << 2;
    QTest::newRow("short, user goes on") << quint64(1500) << false << true << true << 2;
    QTest::newRow("short, user declines") << quint64(1500) << false << false << true << 6;
    QTest::newRow("full resync never asks") << quint64(1500) << true << false << false << 2;
}

void TestMusicSync::notEnoughSpace()
{
    QFETCH(quint64, freeBytes);
    QFETCH(bool, forceFull);
    QFETCH(bool, goOn);
    QFETCH(bool, asked);
    QFETCH(int, finalState);
    mSource->setFreeBytes(mPhoneRoot, freeBytes);
    configure({QStringLiteral("Rock")});
    const RunRecord record = run(forceFull, true, goOn);
    QCOMPARE(record.mFinalState, finalState);
    QCOMPARE(record.mSpaceQuestions,
             asked ? QList<qint64>{4000 - qint64(freeBytes)} : QList<qint64>());
    if (finalState == MusicSync::StateCancelled) {
        // Declined: the run still closes its cache and reports 2, then 6.
        QCOMPARE(record.mStates.mid(record.mStates.size() - 2),
                 QList<int>({MusicSync::StateFinished, MusicSync::StateCancelled}));
        QCOMPARE(cacheRecords(), 0);
    }
    QCOMPARE(phoneMusicFiles().size(), finalState == MusicSync::StateCancelled ? 0 : 4);
}

void TestMusicSync::podcastEpisodes_data()
{
    QTest::addColumn<int>("podcastSetting");
    QTest::addColumn<int>("episodes");
    QTest::addColumn<QStringList>("expected");
    const QStringList newestTwo{QStringLiteral("Episode 1"), QStringLiteral("Episode 3")};
    QStringList all;
    for (int i = 0; i < 5; ++i)
        all.append(QStringLiteral("Episode %1").arg(i));
    QTest::newRow("by name, two newest") << 2 << 2 << newestTwo;
    QTest::newRow("by name, no limit") << 2 << 0 << all;
    QTest::newRow("all podcasts, two newest") << 1 << 2 << newestTwo;
    QTest::newRow("podcasts off") << 0 << 0 << QStringList();
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
    QCOMPARE(QFileInfo::exists(mPhoneRoot + QStringLiteral("/Playlists_KVL/") + PodcastName +
                               QStringLiteral(".m3u")),
             !expected.isEmpty());
}

void TestMusicSync::albumArtOncePerAlbum_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("album art on") << true;
    QTest::newRow("album art off") << false;
}

void TestMusicSync::albumArtOncePerAlbum()
{
    QFETCH(bool, enabled);
    configure({QStringLiteral("Rock"), QStringLiteral("Jazz")});
    setOption(&SyncSettings::setEnableArtworkSync, enabled);
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QCOMPARE(QFileInfo::exists(mPhoneRoot + ArtFirst), enabled);
    QCOMPARE(QFileInfo::exists(mPhoneRoot + ArtSecond), enabled);
    QCOMPARE(albumArtPlacements(), enabled ? 2 : 0);
    if (enabled)
        QCOMPARE(QImage(mPhoneRoot + ArtFirst).size(), QSize(300, 150));
}

void TestMusicSync::forcedAlbumArtPassSwitchesItselfOff()
{
    configure({QStringLiteral("Rock"), QStringLiteral("Jazz")});
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QVERIFY(!QFileInfo::exists(mPhoneRoot + ArtFirst));

    setOption(&SyncSettings::setForceArtworkSync, true);
    const RunRecord forced = run();
    QCOMPARE(forced.mFinalState, MusicSync::StateFinished);
    QVERIFY(forced.mStates.contains(MusicSync::StateUpdatingAlbumArt));
    QVERIFY(QFileInfo::exists(mPhoneRoot + ArtFirst));
    QVERIFY(QFileInfo::exists(mPhoneRoot + ArtSecond));
    QCOMPARE(albumArtPlacements(), 2);
    SyncSettings settings;
    settings.load();
    QVERIFY(!settings.forceArtworkSync(mDevice->UniqueDeviceId()));
    QVERIFY(!run().mStates.contains(MusicSync::StateUpdatingAlbumArt));
}

void TestMusicSync::conversion_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("converted");
    QTest::newRow("converter works") << QString() << true;
    QTest::newRow("converter fails") << QStringLiteral("false") << false;
    QTest::newRow("converter missing") << QStringLiteral("/nonexistent/ffmpeg") << false;
}

void TestMusicSync::conversion()
{
    QFETCH(QString, program);
    QFETCH(bool, converted);
    if (!program.isEmpty())
        mConverter = program;
    configure({QStringLiteral("Convert")});
    setOption(&SyncSettings::setConvertAacToMp3, true);

    RunRecord record;
    auto sync = makeSync(record);
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    QCOMPARE(record.mDrmQuestions, 1);
    QCOMPARE(sync->GetDrmTracks().count(), 1);
    QCOMPARE(sync->copiedCount(), 2);
    const QString mp3 = QStringLiteral("Music/Gamma/Third/Aac song.mp3");
    if (converted) {
        QCOMPARE(phoneMusicFiles(), QStringList({phoneFile(0), mp3}));
        QFile file(mPhoneRoot + u'/' + mp3);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("converted"));
        QCOMPARE(sync->GetNonCopiedTracks().count(), 0);
        QCOMPARE(sync->lastError(), 0);
        QCOMPARE(cacheRecords(), 2);
        sync.reset();
        QVERIFY(run().mCopiedNames.isEmpty());
    } else {
        QCOMPARE(phoneMusicFiles(), QStringList({phoneFile(0)}));
        QCOMPARE(sync->GetNonCopiedTracks().count(), 1);
        QCOMPARE(sync->GetNonCopiedTracks().at(0).mTrackName, QStringLiteral("Aac song"));
        QCOMPARE(sync->lastError(), Device::CopyFailed);
        QCOMPARE(cacheRecords(), 1);
    }
}

void TestMusicSync::faultInOneTrackSkipsOnlyThatTrack()
{
    configure({QStringLiteral("Rock")});
    mDevice->mThrowOnUpload = QStringLiteral("A song 2");
    RunRecord record;
    auto sync = makeSync(record);
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    QCOMPARE(phoneMusicFiles(), QStringList({phoneFile(0), phoneFile(1), phoneFile(3)}));
    QCOMPARE(sync->GetNonCopiedTracks().count(), 1);
    QCOMPARE(sync->GetNonCopiedTracks().at(0).mTrackName, QStringLiteral("A song 2"));
    QCOMPARE(sync->copiedCount(), 4);
    QCOMPARE(sync->lastError(), Device::CopyFailed);
    QCOMPARE(cacheRecords(), 3);
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

    RunRecord record;
    auto sync = makeSync(record);
    QCOMPARE(sync->runGuarded(false), state);
    QCOMPARE(record.mFinalState, state);
    QCOMPARE(record.mFinishedSignals, 1);
    QCOMPARE(record.mStates.last(), state);
    QVERIFY(sync->hasFinished());
    QCOMPARE(mInhibitor->acquireCount(), 1);
    QVERIFY(!mInhibitor->isHeld());
    QCOMPARE(phoneMusicFiles().size(), files);
    QCOMPARE(sync->failureReason().isEmpty(), state != MusicSync::StateFailed);
    // The phone learns the PC version whatever happens.
    QVERIFY(QFileInfo::exists(mPhoneRoot + QStringLiteral("/VARUZ/pcversion.txt")));
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
    QSignalSpy finished(s, &MusicSync::runFinished);
    s->StartInNewThread(false);
    QVERIFY(finished.wait(20000));
    QVERIFY(s->wait(5000));
    QCOMPARE(finished.first().first().toInt(), MusicSync::StateCancelled);
    QCOMPARE(record.mStates.mid(record.mStates.size() - 2),
             QList<int>({MusicSync::StateFinished, MusicSync::StateCancelled}));
    QVERIFY(!record.mStates.contains(MusicSync::StateUpdatingPlaylists));
    QVERIFY(phoneMusicFiles().isEmpty());
    // The device was finalised: its metadata file is complete XML.
    QFile metadata(mPhoneRoot + QStringLiteral("/VARUZ/metadata0.xml"));
    QVERIFY(metadata.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&metadata);
    while (!reader.atEnd())
        reader.readNext();
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    sync.reset();

    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QCOMPARE(phoneMusicFiles().size(), 8);
}

void TestMusicSync::cancelEndsBusyLibraryWait()
{
    configure({QStringLiteral("Rock")});
    mFactory->faults().fail(QStringLiteral("CreateApp"), ITResult::CallRejected,
                            FaultScript::Always);
    RunRecord record;
    auto sync = makeSync(record);
    QSignalSpy finished(sync.get(), &MusicSync::runFinished);
    QSignalSpy progress(sync.get(), qOverload<int, int>(&MusicSync::ProgressUpdate));
    sync->StartInNewThread(false);
    QVERIFY(progress.wait(10000));
    QTest::qWait(300);
    QVERIFY(!sync->hasFinished());
    sync->Cancel();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toInt(), MusicSync::StateCancelled);
    QVERIFY(phoneMusicFiles().isEmpty());
    // The library is usable again once the run is over.
    QVERIFY(!mLibrary->isCancelled());
}

QTEST_GUILESS_MAIN(TestMusicSync)
#include "tst_musicsync.moc"
