#include "devices/usbmsdevice.h"
#include "fakepowerinhibitor.h"
#include "fakevolumesource.h"
#include "library/ituserplaylist.h"
#include "library/localmusiclibrary.h"
#include "scriptedappfactory.h"
#include "settings/syncsettings.h"
#include "sync/musicsync.h"
#include "testhome.h"

#include <QBuffer>
#include <QDirIterator>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

#include <csignal>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>

namespace {

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
        if (aTrack.mTrackName == mFullAtUpload)
            return Device::DeviceFull;
        return UsbMSDevice::UploadTrack(aTrack);
    }
    int CommitUploads(QStringList &aFailedIds) override
    {
        const int result = UsbMSDevice::CommitUploads(aFailedIds);
        // From here no file of this process can be written to: the cache write fails.
        if (mStopFileWrites) {
            rlimit limit = {};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 0;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        return result;
    }
    void createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                        bool aForce) override
    {
        if (mThrowOnPlaylist)
            throw std::runtime_error("playlist");
        UsbMSDevice::createPlaylist(aPlaylist, aTracks, aForce);
    }
    QString mThrowOnUpload;
    QString mFullAtUpload;
    bool mThrowOnPlaylist = false;
    bool mStopFileWrites = false;
};

QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &aPath, const QByteArray &aContent)
{
    QDir().mkpath(QFileInfo(aPath).path());
    QFile file(aPath);
    return file.open(QIODevice::WriteOnly) && file.write(aContent) == aContent.size();
}

QByteArray coverPicture()
{
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

// What one run showed through its signals, and how it answers the questions.
struct RunRecord
{
    int mFinalState = -1; // -2 when the end was signalled twice
    QList<int> mStates;
    int mPercent = -1; // with the last state
    int mCopied = -1;  // copiedCount at the end
    QString mReason;
    QStringList mCopiedNames;
    int mDeleteQuestions = 0;
    QList<qint64> mSpaceQuestions;
    bool mGoOnWhenShort = true;
};

} // namespace

class TestMusicSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void runsKeepThePhoneInStep();
    void notEnoughSpace_data();
    void notEnoughSpace();
    void earlyEnds_data();
    void earlyEnds();
    void cancelWhileCopyingEndsCancelled();
    void unreadableLibraryDeletesNothing_data();
    void unreadableLibraryDeletesNothing();
    void droppedTracks_data();
    void droppedTracks();

private:
    void configure(const QStringList &aPlaylists, int aPodcastSetting = 0, bool aAllMusic = false,
                   bool aAlbumArt = false);
    std::unique_ptr<MusicSync> makeSync(RunRecord &aRecord,
                                        Qt::ConnectionType aQuestions = Qt::DirectConnection);
    RunRecord run(bool aForceFull = false, bool aGoOnWhenShort = true);
    static int runInThread(MusicSync &aSync);
    QString cachePath() const;
    QStringList phoneMusicFiles() const;
    // Every file outside the phone's data folder, with its content.
    QMap<QString, QByteArray> phoneContents() const;
    static QStringList phoneFiles(const QList<int> &aTracks);

    std::unique_ptr<TestHome> mHome;
    QString mPhoneRoot;
    std::shared_ptr<FakeVolumeSource> mSource;
    std::unique_ptr<FaultyPhone> mDevice;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    FakePowerInhibitor *mInhibitor = nullptr;
    bool mFailInhibitor = false;
};

// Tracks 0-3 Alpha/First "A song 0-3", 4-7 Beta/Second "B song 0-3", 8 a live
// "B song 0" of Beta/Second in a file of the same name, 9 and 10 episodes of Pod and Talk.
void TestMusicSync::init()
{
    mLibrary.reset();
    mDevice.reset();
    mFailInhibitor = false;
    mHome = std::make_unique<TestHome>();
    mPhoneRoot = mHome->filePath(u"phone"_qs);
    QVERIFY(QDir().mkpath(mPhoneRoot));
    LibrarySnapshot snapshot;
    const QByteArray cover = coverPicture();
    for (int n = 0; n < 11; ++n) {
        LibrarySnapshot::TrackRecord track;
        track.mArtist = n < 4 ? u"Alpha"_qs : n < 9 ? u"Beta"_qs : u"Host"_qs;
        track.mAlbum = n < 4 ? u"First"_qs : n < 9 ? u"Second"_qs : n == 9 ? u"Pod"_qs : u"Talk"_qs;
        track.mName = u"%1 song %2"_qs.arg(QChar(n < 4 ? u'A' : u'B')).arg(n % 4);
        const QString folder = mHome->filePath(
            u"media/"_qs + (n == 8 ? u"live"_qs : track.mArtist) + u'/' + track.mAlbum);
        QVERIFY(QDir().mkpath(folder));
        track.mPath = folder + u'/' + track.mName + u".mp3"_qs;
        if (n >= 8)
            track.mName = n == 8 ? u"B song 0 (live)"_qs : u"Episode %1"_qs.arg(n);
        track.mSize = 1000;
        track.mTrackNumber = n % 4 + 1;
        track.mPodcast = n > 8;
        track.mArtwork = {{1, cover}};
        QVERIFY(writeFile(track.mPath, QByteArray(1000, 'a')));
        snapshot.addTrack(track);
    }
    const int none = ITUserPlaylist::SpecialKindNone;
    snapshot.addPlaylist(u"Rock"_qs, none, {0, 1, 2, 3});
    snapshot.addPlaylist(u"Jazz"_qs, none, {4, 5, 6, 7});
    snapshot.addPlaylist(u"Mixed"_qs, none, {2, 5});
    snapshot.addPlaylist(u"Twin"_qs, none, {8});
    snapshot.addPlaylist(u"Podcasts"_qs, ITUserPlaylist::SpecialKindPodcasts, {9, 10});
    snapshot.addMissingMusicPlaylist();

    mSource = std::make_shared<FakeVolumeSource>();
    mSource->plug(mPhoneRoot);
    mDevice = std::make_unique<FaultyPhone>(mSource, mPhoneRoot, u"Phone"_qs, false);
    mDevice->SetConfigured();
    mFactory = std::make_shared<ScriptedAppFactory>(snapshot);
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
}

// Podcast setting 2 chooses Pod and Talk by name.
void TestMusicSync::configure(const QStringList &aPlaylists, int aPodcastSetting, bool aAllMusic,
                              bool aAlbumArt)
{
    SyncSettings settings;
    settings.load();
    const QString id = mDevice->UniqueDeviceId();
    QCOMPARE(
        settings.setConfig(id, aAllMusic, aPodcastSetting, aPlaylists, {u"Pod"_qs, u"Talk"_qs}, id),
        0);
    settings.setEnableArtworkSync(id, aAlbumArt);
    settings.setForceArtworkSync(id, aAlbumArt);
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
    MusicSync *s = sync.get();
    RunRecord *r = &aRecord;
    connect(
        s, qOverload<int, int>(&MusicSync::ProgressUpdate), s,
        [r](int aState, int aPercent) {
            r->mStates.append(aState);
            r->mPercent = aPercent;
        },
        Qt::DirectConnection);
    connect(
        s, qOverload<int, int, QString>(&MusicSync::ProgressUpdate), s,
        [r](int aState, int, const QString &aName) {
            if (aState == MusicSync::StateCopying)
                r->mCopiedNames.append(aName);
        },
        Qt::DirectConnection);
    connect(
        s, &MusicSync::ConfirmDeleteTracks, this,
        [r, s] {
            ++r->mDeleteQuestions;
            s->setDeleteConfirmed(true);
        },
        aQuestions);
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
        [r](int aState) { r->mFinalState = r->mFinalState == -1 ? aState : -2; },
        Qt::DirectConnection);
    return sync;
}

RunRecord TestMusicSync::run(bool aForceFull, bool aGoOnWhenShort)
{
    RunRecord record;
    record.mGoOnWhenShort = aGoOnWhenShort;
    auto sync = makeSync(record);
    const int state = sync->runGuarded(aForceFull);
    record.mCopied = sync->copiedCount();
    record.mReason = sync->failureReason();
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

QStringList TestMusicSync::phoneMusicFiles() const
{
    QStringList files;
    // Every file: a temporary copy left behind would show here too.
    QDirIterator it(mPhoneRoot + u"/Music"_qs, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(mPhoneRoot.size() + 1));
    files.sort();
    return files;
}

QMap<QString, QByteArray> TestMusicSync::phoneContents() const
{
    QMap<QString, QByteArray> files;
    QDirIterator it(mPhoneRoot, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.startsWith(mPhoneRoot + u"/VARUZ/"_qs))
            files.insert(path.mid(mPhoneRoot.size() + 1), readAll(path));
    }
    return files;
}

QStringList TestMusicSync::phoneFiles(const QList<int> &aTracks)
{
    QStringList files;
    for (const int n : aTracks)
        files.append(n < 4 ? u"Music/Alpha/First/A song %1.mp3"_qs.arg(n)
                           : u"Music/Beta/Second/B song %1.mp3"_qs.arg(n - 4));
    return files;
}

void TestMusicSync::runsKeepThePhoneInStep()
{
    configure({u"Rock"_qs, u"Jazz"_qs});
    mDevice->mThrowOnUpload = u"A song 2"_qs;
    RunRecord first;
    auto sync = makeSync(first);
    // One failed track is listed as not copied and the run goes on.
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    QCOMPARE(sync->GetNonCopiedTracks().count(), 1);
    QCOMPARE(sync->GetNonCopiedTracks().at(0).mTrackName, u"A song 2"_qs);
    QCOMPARE(sync->lastError(), Device::CopyFailed);
    QCOMPARE(phoneMusicFiles(), phoneFiles({0, 1, 3, 4, 5, 6, 7}));

    // The window answers the delete question from its own thread while the run waits.
    mDevice->mThrowOnUpload.clear();
    configure({u"Rock"_qs, u"Mixed"_qs});
    RunRecord second;
    sync = makeSync(second, Qt::BlockingQueuedConnection);
    QCOMPARE(runInThread(*sync), MusicSync::StateFinished);
    QCOMPARE(second.mDeleteQuestions, 1);
    QCOMPARE(sync->TracksToDelete().count(), 3);
    QCOMPARE(second.mCopiedNames, QStringList{u"A song 2"_qs});
    const QStringList wanted = phoneFiles({0, 1, 2, 3, 5});
    QCOMPARE(phoneMusicFiles(), wanted);
    QVERIFY(QFileInfo(mPhoneRoot + u"/Playlists_KVL/Jazz.m3u"_qs).size() < 20);
    // The cache matches the phone: the next run has nothing to do, and says it is done.
    const RunRecord third = run();
    QVERIFY(third.mCopiedNames.isEmpty());
    QCOMPARE(third.mDeleteQuestions, 0);
    QCOMPARE(first.mPercent, 100);
    QCOMPARE(third.mPercent, 100);

    // A full resynchronisation copies everything again; a machine that may sleep is no failure.
    mFailInhibitor = true;
    const RunRecord forced = run(true);
    QCOMPARE(forced.mFinalState, MusicSync::StateFinished);
    QCOMPARE(forced.mCopiedNames.size(), 5);
    QCOMPARE(forced.mCopied, 0); // all five were found complete on the phone
    QCOMPARE(phoneMusicFiles(), wanted);
    QVERIFY(run().mCopiedNames.isEmpty());
}

void TestMusicSync::notEnoughSpace_data()
{
    QTest::addColumn<bool>("goOn");
    QTest::newRow("user goes on") << true;
    QTest::newRow("user declines") << false;
}

// The four Rock tracks need 4000 bytes; the phone has 1500.
void TestMusicSync::notEnoughSpace()
{
    QFETCH(bool, goOn);
    mSource->setFreeBytes(mPhoneRoot, 1500);
    configure({QStringLiteral("Rock")});
    const RunRecord record = run(false, goOn);
    QCOMPARE(record.mFinalState, goOn ? MusicSync::StateFinished : MusicSync::StateCancelled);
    QCOMPARE(record.mSpaceQuestions, QList<qint64>{2500});
    QCOMPARE(phoneMusicFiles().size(), goOn ? 4 : 0);
    QCOMPARE(record.mStates.contains(MusicSync::StateFinished), goOn);
}

void TestMusicSync::earlyEnds_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("onPhone");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("nextHanded"); // by the next run, without the fault
    QTest::addColumn<int>("nextCopied");
    QTest::newRow("no settings file") << u"settings"_qs << 5 << 0 << QString() << 0 << 0;
    QTest::newRow("phone not configured") << u"phone"_qs << 4 << 0 << QString() << 0 << 0;
    QTest::newRow("cache cannot be opened") << u"cache"_qs << 3 << 0 << u"cache"_qs << 0 << 0;
    QTest::newRow("fault outside a track") << u"fault"_qs << 3 << 4 << u"unexpected"_qs << 0 << 0;
    // Copied backwards: A song 3 is on the phone and recorded, the rest is not tried.
    QTest::newRow("phone full") << u"full"_qs << 3 << 1 << u"phone is full"_qs << 3 << 3;
    // All four are on the phone but none recorded: the next run finds them in place.
    QTest::newRow("cache not writable") << u"stop writes"_qs << 3 << 4 << u"cache"_qs << 4 << 0;
}

// Every run ends in one final state, with the machine allowed to sleep again,
// and a cache that names no track the phone does not have.
void TestMusicSync::earlyEnds()
{
    QFETCH(QString, situation);
    QFETCH(int, state);
    QFETCH(int, onPhone);
    QFETCH(QString, reason);
    if (situation == u"phone")
        QCOMPARE(SyncSettings().save(), 0);
    else if (situation != u"settings")
        configure({u"Rock"_qs});
    if (situation == u"cache")
        QVERIFY(QDir().mkpath(cachePath()));
    mDevice->mThrowOnPlaylist = situation == u"fault";
    mDevice->mFullAtUpload = situation == u"full" ? u"A song 2"_qs : QString();
    mDevice->mStopFileWrites = situation == u"stop writes";
    std::signal(SIGXFSZ, SIG_IGN);

    const RunRecord record = run();
    rlimit limit = {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_FSIZE, &limit);
    QCOMPARE(record.mFinalState, state);
    QVERIFY2(record.mReason.contains(reason, Qt::CaseInsensitive), qPrintable(record.mReason));
    QCOMPARE(phoneMusicFiles().size(), onPhone);
    // A run that reached the phone leaves its metadata file complete; the others leave none.
    // (With writes stopped for the whole process, no file can be completed.)
    const QStringList metadata = QDir(mPhoneRoot + u"/VARUZ"_qs).entryList({u"metadata*"_qs});
    QCOMPARE(metadata.size(), state == MusicSync::StateFailed ? 1 : 0);
    for (const QString &name : situation == u"stop writes" ? QStringList() : metadata) {
        QXmlStreamReader xml(readAll(mPhoneRoot + u"/VARUZ/"_qs + name));
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(name + u": "_qs + xml.errorString()));
    }
    mDevice->mThrowOnPlaylist = false;
    mDevice->mFullAtUpload.clear();
    mDevice->mStopFileWrites = false;
    const RunRecord next = run();
    QTEST(int(next.mCopiedNames.size()), "nextHanded");
    QTEST(next.mCopied, "nextCopied");
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
    QVERIFY(!record.mStates.contains(MusicSync::StateFinished));
    QVERIFY(phoneMusicFiles().isEmpty());
    // The device was finalised: its metadata file is there for the phone.
    QVERIFY(QFileInfo(mPhoneRoot + QStringLiteral("/VARUZ/metadata0.xml")).size() > 0);
}

void TestMusicSync::unreadableLibraryDeletesNothing_data()
{
    QTest::addColumn<int>("podcastSetting");
    QTest::addColumn<bool>("allMusic");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("object");
    QTest::newRow("chosen playlist") << 2 << false << u"Playlist.Tracks"_qs << u"Jazz"_qs;
    QTest::newRow("track of a chosen playlist")
        << 2 << false << u"FileTrack.Location"_qs << u"B song 1"_qs;
    QTest::newRow("chosen podcasts") << 2 << false << u"Playlist.Tracks"_qs << u"Podcasts"_qs;
    // Talk, the podcast of the episode, would be missing from the listing.
    QTest::newRow("podcast listing") << 1 << false << u"Track.Album"_qs << u"Episode 10"_qs;
    // Rock would be missing from the listing, and its playlist file emptied.
    QTest::newRow("playlist listing") << 2 << true << u"Playlist.Name"_qs << u"Rock"_qs;
}

void TestMusicSync::unreadableLibraryDeletesNothing()
{
    QFETCH(int, podcastSetting);
    QFETCH(bool, allMusic);
    QFETCH(QString, call);
    QFETCH(QString, object);
    configure({u"Rock"_qs, u"Jazz"_qs}, podcastSetting, allMusic);
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    const QMap<QString, QByteArray> before = phoneContents();
    QVERIFY(before.contains(u"Music/Host/Talk/B song 2.mp3"_qs));
    mFactory->faults().fail(call, ITResult::Fail, FaultScript::Always, object);
    const RunRecord record = run();
    QCOMPARE(record.mFinalState, MusicSync::StateFailed);
    QCOMPARE(record.mDeleteQuestions, 0);
    QCOMPARE(phoneContents(), before);
}

void TestMusicSync::droppedTracks_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("left"); // in Beta's folder
    QTest::addColumn<int>("notDeleted");
    const QString cover = u"Music/Beta/Second/AlbumArt.jpg"_qs;
    QTest::newRow("album emptied") << QString() << QStringList() << 0;
    QTest::newRow("cover of the user's") << cover << QStringList{cover} << 0;
    QTest::newRow("file of the user's")
        << u"Music/Beta/notes.txt"_qs << QStringList{u"Music/Beta/notes.txt"_qs} << 0;
    QTest::newRow("file shared with a kept track")
        << u"twin"_qs << QStringList{cover, u"Music/Beta/Second/B song 0.mp3"_qs} << 0;
    QTest::newRow("cache not updated") << u"cache"_qs << QStringList() << 5;
}

// The second run drops Beta's album: its tracks, its cover and its emptied folders go.
void TestMusicSync::droppedTracks()
{
    QFETCH(QString, situation);
    QFETCH(QStringList, left);
    QFETCH(int, notDeleted);
    configure({u"Rock"_qs, u"Jazz"_qs, u"Twin"_qs}, 0, false, true);
    QCOMPARE(run().mFinalState, MusicSync::StateFinished);
    QVERIFY(readAll(mPhoneRoot + u"/Music/Beta/Second/AlbumArt.jpg"_qs).startsWith("\xFF\xD8"));
    if (situation.startsWith(u"Music/"_qs))
        QVERIFY(writeFile(mPhoneRoot + u'/' + situation, "the user's"));
    configure(situation == u"twin" ? QStringList{u"Rock"_qs, u"Twin"_qs} : QStringList{u"Rock"_qs},
              0, false, true);
    const QString hint = mPhoneRoot + u"/VARUZ/refreshhint"_qs;
    const qsizetype hinted = readAll(hint).size();

    RunRecord record;
    auto sync = makeSync(record);
    if (situation == u"cache")
        connect(
            sync.get(), &MusicSync::ConfirmDeleteTracks, this,
            [this] { QFile::resize(cachePath(), 0); }, Qt::DirectConnection);
    QCOMPARE(sync->runGuarded(false), MusicSync::StateFinished);
    QCOMPARE(sync->GetNonDeletedTracks().count(), notDeleted);
    QStringList expected =
        phoneFiles({0, 1, 2, 3}) + QStringList{u"Music/Alpha/First/AlbumArt.jpg"_qs} + left;
    expected.sort();
    QCOMPARE(phoneMusicFiles(), expected);
    QCOMPARE(QFileInfo::exists(mPhoneRoot + u"/Music/Beta"_qs), !left.isEmpty());
    // Covers are renewed only for tracks still on the phone.
    const QByteArray renewed = readAll(hint).mid(hinted).trimmed();
    QVERIFY(!renewed.isEmpty());
    for (const QByteArray &line : renewed.split('\n'))
        QVERIFY2(QFileInfo::exists(mPhoneRoot + QString::fromUtf8(line.trimmed())), line.data());
}

QTEST_GUILESS_MAIN(TestMusicSync)
#include "tst_musicsync.moc"
