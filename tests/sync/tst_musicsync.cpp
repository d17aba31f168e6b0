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
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

namespace {

enum Playlist
{
    Rock,
    Jazz,
    Mixed,
    Convert
};
const QStringList PlaylistNames{QStringLiteral("Rock"), QStringLiteral("Jazz"),
                                QStringLiteral("Mixed"), QStringLiteral("Convert")};
const QString PodcastName = QStringLiteral("Talk Show");

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
};

enum class Answer
{
    Yes,
    No
};

} // namespace

class TestMusicSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void firstRunCopiesSecondRunCopiesNothing();
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
    void earlyEnds_data();
    void earlyEnds();
    void cancelWhileCopyingEndsCancelled();
    void cancelEndsBusyLibraryWait();
    void fullResyncStartsFromEmptyCache();

private:
    void configure(const QList<int> &aPlaylists, bool aAllMusic = false, int aPodcastSetting = 0,
                   int aEpisodes = 0);
    std::unique_ptr<MusicSync> makeSync(RunRecord &aRecord, Answer aDelete = Answer::Yes,
                                        Answer aSpace = Answer::Yes);
    RunRecord run(bool aForceFull = false, Answer aDelete = Answer::Yes,
                  Answer aSpace = Answer::Yes);
    QString cachePath() const;
    // Cache records of tracks on the phone.
    int cacheRecords() const;
    QStringList phoneMusicFiles() const;
    QString phoneFile(int aTrack) const;
    void addTrack(const QString &aArtist, const QString &aAlbum, const QString &aName,
                  const QString &aExtension, bool aArtwork);

    std::unique_ptr<TestHome> mHome;
    QString mPhoneRoot;
    QString mMedia;
    LibrarySnapshot mSnapshot;
    std::shared_ptr<FakeVolumeSource> mSource;
    std::unique_ptr<UsbMSDevice> mDevice;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    FakePowerInhibitor *mInhibitor = nullptr;
    QString mConverter;
};

static QByteArray coverJpeg()
{
    QImage image(600, 300, QImage::Format_RGB32);
    image.fill(Qt::red);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return buffer.data();
}

void TestMusicSync::addTrack(const QString &aArtist, const QString &aAlbum, const QString &aName,
                             const QString &aExtension, bool aArtwork)
{
    const QString folder = mMedia + QLatin1Char('/') + aArtist + QLatin1Char('/') + aAlbum;
    QDir().mkpath(folder);
    LibrarySnapshot::TrackRecord track;
    track.mName = aName;
    track.mAlbum = aAlbum;
    track.mArtist = aArtist;
    track.mPath = folder + QLatin1Char('/') + aName + aExtension;
    track.mSize = 1000;
    track.mTrackNumber = int(mSnapshot.mTracks.size()) % 10 + 1;
    track.mDateAdded = 40000 + double(mSnapshot.mTracks.size());
    if (aArtwork)
        track.mArtwork.append({1, coverJpeg()});
    QFile file(track.mPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(int(track.mSize), 'a') + aName.toUtf8());
    mSnapshot.addTrack(track);
}

void TestMusicSync::init()
{
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
    mPhoneRoot = mHome->filePath(QStringLiteral("phone"));
    mMedia = mHome->filePath(QStringLiteral("media"));
    QVERIFY(QDir().mkpath(mPhoneRoot));

    mSnapshot = LibrarySnapshot();
    for (int i = 0; i < 4; ++i)
        addTrack(QStringLiteral("Alpha"), QStringLiteral("First"),
                 QStringLiteral("A song %1").arg(i), QStringLiteral(".mp3"), true);
    for (int i = 0; i < 4; ++i)
        addTrack(QStringLiteral("Beta"), QStringLiteral("Second"),
                 QStringLiteral("B song %1").arg(i), QStringLiteral(".mp3"), true);
    addTrack(QStringLiteral("Gamma"), QStringLiteral("Third"), QStringLiteral("Aac song"),
             QStringLiteral(".m4a"), false);
    QList<qint32> episodes;
    for (int i = 0; i < 5; ++i) {
        addTrack(PodcastName, PodcastName, QStringLiteral("Episode %1").arg(i),
                 QStringLiteral(".mp3"), false);
        mSnapshot.mTracks.last().mPodcast = true;
        // Added out of order, so that "newest" differs from list order.
        mSnapshot.mTracks.last().mDateAdded = 41000 + (i * 3) % 5;
        episodes.append(qint32(mSnapshot.mTracks.size() - 1));
    }
    mSnapshot.addPlaylist(PlaylistNames[Rock], ITUserPlaylist::SpecialKindNone, {0, 1, 2, 3});
    mSnapshot.addPlaylist(PlaylistNames[Jazz], ITUserPlaylist::SpecialKindNone, {4, 5, 6, 7});
    mSnapshot.addPlaylist(PlaylistNames[Mixed], ITUserPlaylist::SpecialKindNone, {2, 5});
    mSnapshot.addPlaylist(PlaylistNames[Convert], ITUserPlaylist::SpecialKindNone, {8, 0});
    mSnapshot.addPlaylist(QString(), ITUserPlaylist::SpecialKindNone, {6});
    mSnapshot.addPlaylist(QStringLiteral("Podcasts"), ITUserPlaylist::SpecialKindPodcasts,
                          episodes);
    mSnapshot.addMissingMusicPlaylist();

    mSource = std::make_shared<FakeVolumeSource>();
    mSource->plug(mPhoneRoot);
    mDevice = std::make_unique<UsbMSDevice>(mSource, mPhoneRoot, QStringLiteral("Phone"), false);
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
    mLibrary.reset();
    mFactory.reset();
    mDevice.reset();
    mSource.reset();
    mHome.reset();
}

void TestMusicSync::configure(const QList<int> &aPlaylists, bool aAllMusic, int aPodcastSetting,
                              int aEpisodes)
{
    QStringList names;
    for (int p : aPlaylists)
        names.append(PlaylistNames.at(p));
    SyncSettings settings;
    settings.load();
    const QString id = mDevice->UniqueDeviceId();
    QCOMPARE(settings.setConfig(id, aAllMusic, aPodcastSetting, names, {PodcastName},
                                QStringLiteral("Phone")),
             0);
    settings.setNumberOfEpisodesToSync(id, aEpisodes);
    settings.setEnableArtworkSync(id, false);
    QCOMPARE(settings.save(), 0);
}

std::unique_ptr<MusicSync> TestMusicSync::makeSync(RunRecord &aRecord, Answer aDelete,
                                                   Answer aSpace)
{
    auto sync = std::make_unique<MusicSync>(mLibrary.get(), mDevice.get());
    auto inhibitor = std::make_unique<FakePowerInhibitor>();
    mInhibitor = inhibitor.get();
    sync->setPowerInhibitor(std::move(inhibitor));
    sync->setConverterProgram(mConverter);
    MusicSync *s = sync.get();
    // Direct connections: the answers are given on the worker thread itself.
    connect(
        s, qOverload<int, int>(&MusicSync::ProgressUpdate), s,
        [&aRecord](int aState, int) { aRecord.mStates.append(aState); }, Qt::DirectConnection);
    connect(
        s, qOverload<int, int, QString>(&MusicSync::ProgressUpdate), s,
        [&aRecord](int aState, int aPercent, const QString &aName) {
            if (aState == MusicSync::StateCopying) {
                aRecord.mCopyPercents.append(aPercent);
                aRecord.mCopiedNames.append(aName);
            }
        },
        Qt::DirectConnection);
    connect(
        s, &MusicSync::ConfirmDeleteTracks, s,
        [&aRecord, s, aDelete] {
            ++aRecord.mDeleteQuestions;
            s->setDeleteConfirmed(aDelete == Answer::Yes);
        },
        Qt::DirectConnection);
    connect(
        s, &MusicSync::DrmTracksFound, s, [&aRecord] { ++aRecord.mDrmQuestions; },
        Qt::DirectConnection);
    connect(
        s, &MusicSync::notEnoughSpace, s,
        [&aRecord, s, aSpace](qint64 aBytes) {
            aRecord.mSpaceQuestions.append(aBytes);
            if (aSpace == Answer::No)
                s->Cancel();
        },
        Qt::DirectConnection);
    connect(
        s, &MusicSync::runFinished, s,
        [&aRecord](int aState) {
            aRecord.mFinalState = aState;
            ++aRecord.mFinishedSignals;
        },
        Qt::DirectConnection);
    return sync;
}

RunRecord TestMusicSync::run(bool aForceFull, Answer aDelete, Answer aSpace)
{
    RunRecord record;
    auto sync = makeSync(record, aDelete, aSpace);
    const int state = sync->runGuarded(aForceFull);
    [&] {
        QCOMPARE(state, record.mFinalState);
        QCOMPARE(record.mFinishedSignals, 1);
        QVERIFY(!mInhibitor->isHeld());
    }();
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
    const int opened = cache.openFile(cachePath());
    if (opened != 0)
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
                    {QStringLiteral("*.mp3"), QStringLiteral("*.m4a")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(mPhoneRoot.size() + 1));
    files.sort();
    return files;
}

QString TestMusicSync::phoneFile(int aTrack) const
{
    const LibrarySnapshot::TrackRecord &t = mSnapshot.mTracks.at(aTrack);
    return QStringLiteral("Music/") + t.mArtist + QLatin1Char('/') + t.mAlbum + QLatin1Char('/') +
           QFileInfo(t.mPath).fileName();
}

void TestMusicSync::firstRunCopiesSecondRunCopiesNothing()
{
    configure({Rock, Mixed});
    const RunRecord first = run();
    QCOMPARE(first.mFinalState, MusicSync::StateFinished);
    QCOMPARE(phoneMusicFiles(),
             QStringList({phoneFile(0), phoneFile(1), phoneFile(2), phoneFile(3), phoneFile(5)}));
    QCOMPARE(cacheRecords(), 5);
    // Backwards through the list: Mixed's new track first, then Rock from its end.
    QCOMPARE(first.mCopiedNames,
             QStringList({QStringLiteral("B song 1"), QStringLiteral("A song 3"),
                          QStringLiteral("A song 2"), QStringLiteral("A song 1"),
                          QStringLiteral("A song 0")}));
    QCOMPARE(first.mCopyPercents, QList<int>({0, 20, 40, 60, 80}));
    const int preparing = first.mStates.indexOf(MusicSync::StatePreparing);
    const int copying = first.mStates.indexOf(MusicSync::StateCopying);
    const int playlists = first.mStates.indexOf(MusicSync::StateUpdatingPlaylists);
    QVERIFY(preparing >= 0 && preparing < copying && copying < playlists);
    QCOMPARE(first.mStates.last(), MusicSync::StateFinished);
    QVERIFY(QFileInfo::exists(mPhoneRoot + QStringLiteral("/Playlists_KVL/Rock.m3u")));
    QVERIFY(QFileInfo::exists(mPhoneRoot + QStringLiteral("/Playlists_KVL/Mixed.m3u")));
    QCOMPARE(first.mDeleteQuestions, 0);

    const QDateTime stamp = QFileInfo(mPhoneRoot + QLatin1Char('/') + phoneFile(0)).lastModified();
    RunRecord second;
    auto sync = makeSync(second);
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    QVERIFY(second.mCopiedNames.isEmpty());
    QVERIFY(!second.mStates.contains(MusicSync::StateCopying));
    QCOMPARE(second.mDeleteQuestions, 0);
    QCOMPARE(sync->copiedCount(), 0);
    QCOMPARE(sync->lastError(), 0);
    QCOMPARE(sync->GetNonCopiedTracks().count(), 0);
    QCOMPARE(cacheRecords(), 5);
    QCOMPARE(QFileInfo(mPhoneRoot + QLatin1Char('/') + phoneFile(0)).lastModified(), stamp);
}

void TestMusicSync::allMusicWritesEveryUserPlaylist()
{
    configure({}, true);
    const RunRecord record = run();
    QCOMPARE(record.mFinalState, MusicSync::StateFinished);
    QStringList written = QDir(mPhoneRoot + QStringLiteral("/Playlists_KVL"))
                              .entryList({QStringLiteral("*.m3u")}, QDir::Files, QDir::Name);
    QCOMPARE(written, QStringList({QStringLiteral("Convert.m3u"), QStringLiteral("Jazz.m3u"),
                                   QStringLiteral("Mixed.m3u"), QStringLiteral("Rock.m3u")}));
    // The whole library's music, and no podcast (podcasts are off).
    QCOMPARE(phoneMusicFiles().size(), 9);
    QCOMPARE(cacheRecords(), 9);
}

void TestMusicSync::deletion_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("refused") << false;
}

void TestMusicSync::deletion()
{
    QFETCH(bool, confirm);
    configure({Rock, Jazz});
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QCOMPARE(phoneMusicFiles().size(), 8);

    configure({Rock, Mixed});
    QFile cache(cachePath());
    QVERIFY(cache.open(QIODevice::ReadOnly));
    const QByteArray cacheBefore = cache.readAll();
    cache.close();

    RunRecord record;
    auto sync = makeSync(record, confirm ? Answer::Yes : Answer::No);
    const int state = sync->runGuarded(false);
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
        QVERIFY(QFile(mPhoneRoot + QStringLiteral("/Playlists_KVL/Jazz.m3u")).size() < 20);
        const RunRecord third = run();
        QCOMPARE(third.mDeleteQuestions, 0);
        QVERIFY(third.mCopiedNames.isEmpty());
    } else {
        QCOMPARE(state, MusicSync::StateCancelled);
        QCOMPARE(record.mStates.last(), MusicSync::StateCancelled);
        QVERIFY(!record.mStates.contains(MusicSync::StateDeleting));
        QVERIFY(!record.mStates.contains(MusicSync::StateCopying));
        QVERIFY(!record.mStates.contains(MusicSync::StateFinished));
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
    const quint64 plenty = quint64(1) << 30;
    QTest::newRow("enough space") << plenty << false << false << false << 2;
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
    configure({Rock});
    const RunRecord record = run(forceFull, Answer::Yes, goOn ? Answer::Yes : Answer::No);
    QCOMPARE(record.mFinalState, finalState);
    QCOMPARE(record.mSpaceQuestions.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(record.mSpaceQuestions.first(), 4 * 1000 - qint64(freeBytes));
    if (finalState == MusicSync::StateCancelled) {
        // Declined: the run still closes its cache and reports 2, then 6.
        QCOMPARE(record.mStates.mid(record.mStates.size() - 2),
                 QList<int>({MusicSync::StateFinished, MusicSync::StateCancelled}));
        QCOMPARE(cacheRecords(), 0);
        QVERIFY(phoneMusicFiles().isEmpty());
    } else {
        QCOMPARE(phoneMusicFiles().size(), 4);
    }
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
    const RunRecord record = run();
    QCOMPARE(record.mFinalState, MusicSync::StateFinished);
    QStringList names;
    for (const QString &file : phoneMusicFiles())
        names.append(QFileInfo(file).completeBaseName());
    names.sort();
    QCOMPARE(names, expected);
    const QString playlist =
        mPhoneRoot + QStringLiteral("/Playlists_KVL/") + PodcastName + QStringLiteral(".m3u");
    QCOMPARE(QFileInfo::exists(playlist), !expected.isEmpty());
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
    configure({Rock, Jazz});
    SyncSettings settings;
    settings.load();
    settings.setEnableArtworkSync(mDevice->UniqueDeviceId(), enabled);
    settings.save();
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);

    const QString first = mPhoneRoot + QStringLiteral("/Music/Alpha/First/AlbumArt.jpg");
    const QString second = mPhoneRoot + QStringLiteral("/Music/Beta/Second/AlbumArt.jpg");
    QCOMPARE(QFileInfo::exists(first), enabled);
    QCOMPARE(QFileInfo::exists(second), enabled);
    QFile hint(mPhoneRoot + QStringLiteral("/VARUZ/refreshhint"));
    const int placements = hint.open(QIODevice::ReadOnly) ? int(hint.readAll().count('\n')) : 0;
    QCOMPARE(placements, enabled ? 2 : 0);
    if (enabled) {
        const QImage cover(first);
        QCOMPARE(cover.size(), QSize(300, 150));
    }
}

void TestMusicSync::forcedAlbumArtPassSwitchesItselfOff()
{
    configure({Rock, Jazz});
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    const QString first = mPhoneRoot + QStringLiteral("/Music/Alpha/First/AlbumArt.jpg");
    QVERIFY(!QFileInfo::exists(first));

    SyncSettings settings;
    settings.load();
    settings.setForceArtworkSync(mDevice->UniqueDeviceId(), true);
    settings.save();
    const RunRecord forced = run();
    QCOMPARE(forced.mFinalState, MusicSync::StateFinished);
    QVERIFY(forced.mStates.contains(MusicSync::StateUpdatingAlbumArt));
    QVERIFY(QFileInfo::exists(first));
    QVERIFY(QFileInfo::exists(mPhoneRoot + QStringLiteral("/Music/Beta/Second/AlbumArt.jpg")));
    QFile hint(mPhoneRoot + QStringLiteral("/VARUZ/refreshhint"));
    QVERIFY(hint.open(QIODevice::ReadOnly));
    QCOMPARE(hint.readAll().count('\n'), 2);
    hint.close();
    settings.load();
    QVERIFY(!settings.forceArtworkSync(mDevice->UniqueDeviceId()));

    const RunRecord after = run();
    QVERIFY(!after.mStates.contains(MusicSync::StateUpdatingAlbumArt));
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
    configure({Convert});
    SyncSettings settings;
    settings.load();
    settings.setConvertAacToMp3(mDevice->UniqueDeviceId(), true);
    settings.save();

    RunRecord record;
    auto sync = makeSync(record);
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    const QString mp3 = QStringLiteral("Music/Gamma/Third/Aac song.mp3");
    if (converted) {
        QCOMPARE(phoneMusicFiles(), QStringList({phoneFile(0), mp3}));
        QFile file(mPhoneRoot + QLatin1Char('/') + mp3);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("converted"));
        QCOMPARE(sync->GetNonCopiedTracks().count(), 0);
        QCOMPARE(sync->lastError(), 0);
        QCOMPARE(cacheRecords(), 2);
        sync.reset();
        const RunRecord again = run();
        QVERIFY(again.mCopiedNames.isEmpty());
        QCOMPARE(phoneMusicFiles().size(), 2);
    } else {
        QCOMPARE(phoneMusicFiles(), QStringList({phoneFile(0)}));
        QCOMPARE(sync->GetNonCopiedTracks().count(), 1);
        QCOMPARE(sync->GetNonCopiedTracks().at(0).mTrackName, QStringLiteral("Aac song"));
        QCOMPARE(sync->lastError(), Device::CopyFailed);
        QCOMPARE(cacheRecords(), 1);
        QCOMPARE(sync->copiedCount(), 2);
    }
}

void TestMusicSync::earlyEnds_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("state");
    QTest::newRow("no settings file")
        << QStringLiteral("settings") << MusicSync::StateSettingsUnreadable;
    QTest::newRow("phone not configured")
        << QStringLiteral("unconfigured") << MusicSync::StateNotConfigured;
    QTest::newRow("cache cannot be opened") << QStringLiteral("cache") << MusicSync::StateFailed;
}

void TestMusicSync::earlyEnds()
{
    QFETCH(QString, situation);
    QFETCH(int, state);
    if (situation == QLatin1String("unconfigured")) {
        SyncSettings settings;
        settings.load();
        settings.setConfig(QStringLiteral("another phone"), true, 0, {}, {}, QString());
        settings.save();
    } else if (situation == QLatin1String("cache")) {
        configure({Rock});
        QVERIFY(QDir().mkpath(cachePath()));
    }
    RunRecord record;
    auto sync = makeSync(record);
    QCOMPARE(sync->runGuarded(false), state);
    QCOMPARE(record.mFinalState, state);
    QCOMPARE(record.mFinishedSignals, 1);
    QCOMPARE(record.mStates.last(), state);
    QVERIFY(sync->hasFinished());
    QVERIFY(!mInhibitor->isHeld());
    QCOMPARE(mInhibitor->acquireCount(), 1);
    QVERIFY(phoneMusicFiles().isEmpty());
    QCOMPARE(sync->failureReason().isEmpty(), state != MusicSync::StateFailed);
    // The phone is told the PC version whatever happens.
    QVERIFY(QFileInfo::exists(mPhoneRoot + QStringLiteral("/VARUZ/pcversion.txt")));
}

void TestMusicSync::cancelWhileCopyingEndsCancelled()
{
    configure({Rock, Jazz});
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
    QVERIFY(phoneMusicFiles().isEmpty());
    QVERIFY(!record.mStates.contains(MusicSync::StateUpdatingPlaylists));
    // The device was finalised: its metadata file is complete.
    QFile metadata(mPhoneRoot + QStringLiteral("/VARUZ/metadata0.xml"));
    QVERIFY(metadata.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&metadata);
    while (!reader.atEnd())
        reader.readNext();
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    sync.reset();

    const RunRecord next = run();
    QCOMPARE(next.mFinalState, MusicSync::StateFinished);
    QCOMPARE(phoneMusicFiles().size(), 8);
}

void TestMusicSync::cancelEndsBusyLibraryWait()
{
    configure({Rock});
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
    QVERIFY(!mLibrary->isCancelled());
}

void TestMusicSync::fullResyncStartsFromEmptyCache()
{
    configure({Rock});
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QFile stale(cachePath() + QLatin1Char('p'));
    QVERIFY(stale.open(QIODevice::Append));
    stale.write(QByteArray(7, 'x'));
    stale.close();
    const qint64 staleSize = stale.size();

    const RunRecord record = run(true);
    QCOMPARE(record.mFinalState, MusicSync::StateFinished);
    // Files already on the phone are taken as copied, and recorded afresh.
    QCOMPARE(record.mCopiedNames.size(), 4);
    QCOMPARE(cacheRecords(), 4);
    QVERIFY(QFileInfo(cachePath() + QLatin1Char('p')).size() < staleSize);
    QCOMPARE(phoneMusicFiles().size(), 4);
}

QTEST_GUILESS_MAIN(TestMusicSync)
#include "tst_musicsync.moc"
