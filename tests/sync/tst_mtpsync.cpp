#include "devices/mtp/devicemtpmac.h"
#include "devices/mtp/deviceparentmtpmac.h"
#include "fakemtpphone.h"
#include "fakemtptransport.h"
#include "fakepowerinhibitor.h"
#include "library/ituserplaylist.h"
#include "library/localmusiclibrary.h"
#include "scriptedappfactory.h"
#include "settings/syncsettings.h"
#include "sync/musicsync.h"
#include "testhome.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

namespace {
enum Fault
{
    NoFault,
    FailOnce,
    FailLeavingObject,
    FailAlways,
    UnplugWhileCopying,
    UnplugWhileDeleting,
    RefuseDeletes,
    Full,
};

struct RunResult
{
    int mState = -1;
    QString mReason;
    int mNotCopied = 0;
    int mNotDeleted = 0;
};

QByteArray coverPicture()
{
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

const QString Rock = QStringLiteral("Rock");
const QString Jazz = QStringLiteral("Jazz");
const QString Mixed = QStringLiteral("Mixed");
} // namespace

// The whole run over the in-memory phone, as over a folder.
class TestMtpSync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void runsKeepThePhoneInStep();
    void faults_data();
    void faults();

private:
    void configure(const QStringList &aPlaylists);
    RunResult run();
    // Every file on the phone outside VARUZ.
    QStringList phoneFiles() const;
    // Files of tracks 0-3 (Alpha/First) and 4-7 (Beta/Second), with covers and playlists.
    static QStringList wanted(bool aBeta, const QStringList &aPlaylists);

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeMtpPhone> mPhone;
    std::shared_ptr<FakeMtpTransport> mTransport;
    std::unique_ptr<DeviceParentMtpMac> mParent;
    DeviceMtpMac *mDevice = nullptr;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
};

void TestMtpSync::init()
{
    mHome = std::make_unique<TestHome>();
    LibrarySnapshot snapshot;
    const QByteArray cover = coverPicture();
    for (int n = 0; n < 8; ++n) {
        LibrarySnapshot::TrackRecord track;
        track.mArtist = n < 4 ? u"Alpha"_qs : u"Beta"_qs;
        track.mAlbum = n < 4 ? u"First"_qs : u"Second"_qs;
        track.mName = u"Song %1"_qs.arg(n);
        track.mPath = mHome->filePath(u"media/"_qs + track.mName + u".mp3"_qs);
        QDir().mkpath(mHome->filePath(u"media"_qs));
        QFile file(track.mPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(1000 + n, 'x')) > 0);
        track.mSize = file.size();
        track.mTrackNumber = n + 1;
        track.mArtwork = {{1, cover}};
        snapshot.addTrack(track);
    }
    const int none = ITUserPlaylist::SpecialKindNone;
    snapshot.addPlaylist(Rock, none, {0, 1, 2, 3});
    snapshot.addPlaylist(Jazz, none, {4, 5, 6, 7});
    snapshot.addPlaylist(Mixed, none, {2, 5});
    snapshot.addMissingMusicPlaylist();
    mLibrary = std::make_unique<LocalMusicLibrary>(std::make_shared<ScriptedAppFactory>(snapshot));

    mPhone = std::make_shared<FakeMtpPhone>();
    mPhone->put(u"/VARUZ/android.xml"_qs, "<app version=\"2\"/>");
    mTransport = std::make_shared<FakeMtpTransport>();
    mTransport->addPhone(mPhone);
    mParent = std::make_unique<DeviceParentMtpMac>(mTransport, mPhone->rawDevice());
    QCOMPARE(mParent->open(), 0);
    mDevice = new DeviceMtpMac(*mParent, mPhone->storages().first());
    mParent->addDevice(mDevice);
    mDevice->SetConfigured();
}

void TestMtpSync::cleanup()
{
    mLibrary.reset();
    if (mParent)
        qDeleteAll(mParent->devices());
    mParent.reset();
}

void TestMtpSync::configure(const QStringList &aPlaylists)
{
    SyncSettings settings;
    settings.load();
    const QString id = mDevice->UniqueDeviceId();
    QCOMPARE(settings.setConfig(id, false, 0, aPlaylists, {}, id), 0);
    settings.setEnableArtworkSync(id, true);
    QCOMPARE(settings.save(), 0);
}

RunResult TestMtpSync::run()
{
    MusicSync sync(mLibrary.get(), mDevice);
    sync.setPowerInhibitor(std::make_unique<FakePowerInhibitor>());
    connect(
        &sync, &MusicSync::ConfirmDeleteTracks, &sync, [&sync] { sync.setDeleteConfirmed(true); },
        Qt::DirectConnection);
    RunResult result;
    result.mState = sync.runGuarded(false);
    result.mReason = sync.failureReason();
    result.mNotCopied = sync.GetNonCopiedTracks().count();
    result.mNotDeleted = sync.GetNonDeletedTracks().count();
    return result;
}

QStringList TestMtpSync::phoneFiles() const
{
    QStringList files = mPhone->files();
    files.removeIf([](const QString &aPath) { return aPath.startsWith(u"/VARUZ/"_qs); });
    return files;
}

QStringList TestMtpSync::wanted(bool aBeta, const QStringList &aPlaylists)
{
    QStringList files{u"/Music/Alpha/First/folder.jpg"_qs};
    for (int n = 0; n < (aBeta ? 8 : 4); ++n)
        files.append(
            (n < 4 ? u"/Music/Alpha/First/Song %1.mp3"_qs : u"/Music/Beta/Second/Song %1.mp3"_qs)
                .arg(n));
    if (aBeta)
        files.append(u"/Music/Beta/Second/folder.jpg"_qs);
    for (const QString &name : aPlaylists)
        files.append(u"/Playlists_KVL/"_qs + name + u".m3u"_qs);
    files.sort();
    return files;
}

void TestMtpSync::runsKeepThePhoneInStep()
{
    configure({Rock, Jazz, Mixed});
    QCOMPARE(run().mState, MusicSync::StateFinished);
    QCOMPARE(phoneFiles(), wanted(true, {Jazz, Mixed, Rock}));
    QCOMPARE(mPhone->content(u"/Playlists_KVL/Mixed.m3u"_qs),
             QByteArray("#EXTM3U\r\n#EXTINF:0,Song 2\r\n../Music/Alpha/First/Song 2.mp3\r\n"
                        "#EXTINF:0,Song 5\r\n../Music/Beta/Second/Song 5.mp3\r\n"));
    QCOMPARE(mPhone->content(u"/VARUZ/synccomplete"_qs), QByteArray("sync-complete"));

    // Nothing changed: only the completion marker is sent, and no music folder is listed.
    mPhone->resetCounts();
    QCOMPARE(run().mState, MusicSync::StateFinished);
    QCOMPARE(mPhone->sends(), 1);
    QCOMPARE(mPhone->listedFolders(), QStringList({u"/"_qs, u"/Playlists_KVL"_qs, u"/VARUZ"_qs}));
    QCOMPARE(phoneFiles(), wanted(true, {Jazz, Mixed, Rock}));

    // Narrowed to Rock: Beta's tracks, its cover and its folders go, and the other playlists.
    configure({Rock});
    QCOMPARE(run().mState, MusicSync::StateFinished);
    QCOMPARE(phoneFiles(), wanted(false, {Rock}));
    QVERIFY(!mPhone->exists(u"/Music/Beta"_qs));
}

void TestMtpSync::faults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("notCopied");
    QTest::addColumn<int>("notDeleted");

    const int finished = MusicSync::StateFinished;
    const int failed = MusicSync::StateFailed;
    QTest::newRow("a send fails once") << int(FailOnce) << finished << QString() << 0 << 0;
    QTest::newRow("copied anyway") << int(FailLeavingObject) << finished << QString() << 0 << 0;
    QTest::newRow("sends always fail") << int(FailAlways) << finished << QString() << 4 << 0;
    QTest::newRow("unplugged while copying")
        << int(UnplugWhileCopying) << failed << u"disconnected"_qs << 1 << 0;
    QTest::newRow("unplugged while deleting")
        << int(UnplugWhileDeleting) << failed << u"disconnected"_qs << 0 << 1;
    QTest::newRow("deletes refused") << int(RefuseDeletes) << finished << QString() << 0 << 4;
    QTest::newRow("phone full") << int(Full) << failed << u"full"_qs << 1 << 0;
}

// Rock is on the phone; the run with the fault moves to Jazz. Whatever the
// fault did, the next run ends with exactly Jazz on the phone, and the one
// after that has nothing to do.
void TestMtpSync::faults()
{
    QFETCH(int, fault);
    configure({Rock});
    QCOMPARE(run().mState, MusicSync::StateFinished);
    const QStringList before = phoneFiles();
    QStringList jazz = wanted(true, {Jazz});
    jazz.removeIf([](const QString &aPath) { return aPath.startsWith(u"/Music/Alpha"_qs); });
    configure({Jazz});
    mPhone->resetCounts();
    switch (fault) {
    case FailOnce:
    case FailLeavingObject:
        mPhone->failSends(1, fault == FailLeavingObject);
        break;
    case FailAlways:
        mPhone->failSends(FakeMtpPhone::Always);
        break;
    case UnplugWhileCopying:
        mPhone->unplugAt(24);
        break;
    case UnplugWhileDeleting:
        mPhone->unplugAt(9);
        break;
    case RefuseDeletes:
        mPhone->refuseDeletes(FakeMtpPhone::Always);
        break;
    case Full:
        // Rock's room comes back with its deletion; Jazz is a few bytes larger.
        mPhone->setFreeBytes(0);
        break;
    }
    const RunResult faulty = run();
    QTEST(faulty.mState, "state");
    QFETCH(QString, reason);
    QVERIFY2(faulty.mReason.contains(reason, Qt::CaseInsensitive), qPrintable(faulty.mReason));
    QTEST(faulty.mNotCopied, "notCopied");
    QTEST(faulty.mNotDeleted, "notDeleted");
    // Nothing half sent under a track's name, nothing left under a temporary one.
    const QStringList files = phoneFiles();
    for (const QString &path : files)
        QVERIFY2(!path.contains(u".part"_qs), qPrintable(path));
    if (fault == UnplugWhileCopying || fault == UnplugWhileDeleting) {
        // Some of the work was done before the phone went, and the run is not marked complete.
        QVERIFY(files != before && files != jazz);
        QVERIFY(!mPhone->exists(u"/VARUZ/synccomplete"_qs));
    }

    mPhone->failSends(0);
    mPhone->refuseDeletes(0);
    mPhone->setFreeBytes(quint64(1) << 30);
    mPhone->setPlugged(true);
    QCOMPARE(run().mState, MusicSync::StateFinished);
    QCOMPARE(phoneFiles(), jazz);
    mPhone->resetCounts();
    QCOMPARE(run().mState, MusicSync::StateFinished);
    QCOMPARE(mPhone->sends(), 1);
}

QTEST_GUILESS_MAIN(TestMtpSync)
#include "tst_mtpsync.moc"
