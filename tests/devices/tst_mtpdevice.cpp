#include "core/localplaylist.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "devices/mtp/devicemtpmac.h"
#include "devices/mtp/deviceparentmtpmac.h"
#include "devices/mtp/mtpconnection.h"
#include "devices/mtp/mtpfile.h"
#include "devices/mtp/mtpmacdevicerefresher.h"
#include "fakemtpphone.h"
#include "fakemtptransport.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {
const QString Album = QStringLiteral("/Music/Artist/Album");
const QByteArray OwnCover = QByteArrayLiteral("\xFF\xD8 Mobrelay album cover");
} // namespace

class TestMtpDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void storageFiles_data();
    void storageFiles();
    void runFiles();
    void upload_data();
    void upload();
    void deleteTrack_data();
    void deleteTrack();
    void playlists();
    void albumArtOnce();
    void refresher();

private:
    DeviceMtpMac &open();
    Track track(const QString &aName, const QByteArray &aContent);

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeMtpPhone> mPhone;
    std::shared_ptr<FakeMtpTransport> mTransport;
    std::unique_ptr<DeviceParentMtpMac> mParent;
};

void TestMtpDevice::init()
{
    mHome = std::make_unique<TestHome>();
    mPhone = std::make_shared<FakeMtpPhone>();
    mTransport = std::make_shared<FakeMtpTransport>();
    mTransport->addPhone(mPhone);
}

void TestMtpDevice::cleanup()
{
    if (mParent)
        qDeleteAll(mParent->devices());
    mParent.reset();
}

DeviceMtpMac &TestMtpDevice::open()
{
    mParent = std::make_unique<DeviceParentMtpMac>(mTransport, mPhone->rawDevice());
    mParent->open();
    auto *device = new DeviceMtpMac(*mParent, mPhone->storages().first());
    mParent->addDevice(device);
    return *device;
}

Track TestMtpDevice::track(const QString &aName, const QByteArray &aContent)
{
    Track track;
    track.mTrackName = aName;
    track.mArtistName = u"Artist"_qs;
    track.mAlbumName = u"Album"_qs;
    track.mPath = mHome->filePath(aName);
    QFile file(track.mPath);
    if (file.open(QIODevice::WriteOnly))
        file.write(aContent);
    return track;
}

void TestMtpDevice::storageFiles_data()
{
    QTest::addColumn<QByteArray>("marker");
    QTest::addColumn<QByteArray>("uniqueId");
    QTest::addColumn<QString>("friendlyName"); // of the phone
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("shownName");

    QTest::newRow("marker with version")
        << QByteArray("<app version=\"7\"/>") << QByteArray("12Y") << u"Pixel"_qs << 7 << u"12Y"_qs
        << u"Pixel Internal shared storage"_qs;
    QTest::newRow("no version attribute")
        << QByteArray("<app/>") << QByteArray() << QString() << 0 << Device::TempDeviceId
        << u"Model F (MTP) Fakemaker Internal shared storage"_qs;
    QTest::newRow("empty marker") << QByteArray() << QByteArray() << u"P"_qs << -1
                                  << Device::TempDeviceId << u"P Internal shared storage"_qs;
}

void TestMtpDevice::storageFiles()
{
    QFETCH(QByteArray, marker);
    QFETCH(QByteArray, uniqueId);
    QFETCH(QString, friendlyName);
    mPhone->put(u"/VARUZ/android.xml"_qs, marker);
    if (!uniqueId.isEmpty())
        mPhone->put(u"/VARUZ/uniqueid"_qs, uniqueId);
    mPhone->mFriendlyName = friendlyName;
    DeviceMtpMac &device = open();
    QTEST(device.GetAndroidVersion(), "version");
    QTEST(device.UniqueDeviceId(), "id");
    QTEST(device.FriendlyName(), "shownName");
    QTEST(mParent->GetAndroidVersion(), "version");
}

// An id the phone carries is kept, even one that was not there when the
// device was opened; the free space is asked for afresh.
void TestMtpDevice::runFiles()
{
    DeviceMtpMac &device = open();
    const QByteArray id = "77Y";
    mPhone->put(u"/VARUZ/uniqueid"_qs, id);
    device.SetConfigured();
    QCOMPARE(device.UniqueDeviceId(), QString::fromLatin1(id));
    device.SetConfigured();
    QCOMPARE(mPhone->content(u"/VARUZ/uniqueid"_qs), id);

    quint64 bytes = 0;
    mPhone->setFreeBytes(1234);
    QCOMPARE(device.GetFreeStorageSpace(bytes), 0);
    QCOMPARE(bytes, quint64(1234));
}

void TestMtpDevice::upload_data()
{
    QTest::addColumn<QByteArray>("onPhone"); // "-" for nothing
    QTest::addColumn<bool>("convert");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("converted") << QByteArray("-") << true << 0 << u"a.mp3"_qs
                               << QByteArray("music");
    QTest::newRow("already there") << QByteArray("MUSIC") << false << Device::AlreadyOnDevice
                                   << u"a.m4a"_qs << QByteArray("MUSIC");
    QTest::newRow("wrong size replaced")
        << QByteArray("mus") << false << 0 << u"a.m4a"_qs << QByteArray("music");
}

void TestMtpDevice::upload()
{
    QFETCH(QByteArray, onPhone);
    QFETCH(bool, convert);
    QFETCH(int, result);
    QFETCH(QString, name);
    if (onPhone != "-")
        mPhone->put(Album + u'/' + name, onPhone);
    DeviceMtpMac &device = open();
    Track song = track(u"a.m4a"_qs, "music");
    song.mConvertToMp3 = convert;
    if (convert) {
        QDir().mkpath(QFileInfo(Track::conversionOutputPath()).path());
        QFile converted(Track::conversionOutputPath());
        QVERIFY(converted.open(QIODevice::WriteOnly) && converted.write("music") == 5);
    }

    QCOMPARE(device.UploadTrack(song), result);
    QTEST(mPhone->content(Album + u'/' + name), "after");
    QVERIFY(song.mOnRemoteDevice);
    QCOMPARE(song.mDeviceId, Album + u'/' + name);
    QCOMPARE(song.mSizeOnDevice, 5);
    // Never a second object of the name, and no temporary one left behind.
    QCOMPARE(mPhone->names(Album), QStringList{name});
}

void TestMtpDevice::deleteTrack_data()
{
    QTest::addColumn<QByteArray>("cover");
    QTest::addColumn<bool>("otherTrack");
    QTest::addColumn<QStringList>("leftInMusic"); // every path left under /Music

    const QString cover = Album + u"/folder.jpg"_qs;
    QTest::newRow("the user's cover stays")
        << QByteArray("\xFF\xD8 photo") << false
        << QStringList{u"/Music"_qs, u"/Music/Artist"_qs, Album, cover};
    QTest::newRow("album keeps its other track")
        << OwnCover << true
        << QStringList{u"/Music"_qs, u"/Music/Artist"_qs, Album, Album + u"/b.mp3"_qs, cover};
}

void TestMtpDevice::deleteTrack()
{
    QFETCH(QByteArray, cover);
    QFETCH(bool, otherTrack);
    QFETCH(QStringList, leftInMusic);
    mPhone->put(Album + u"/a.mp3"_qs, "a");
    mPhone->put(Album + u"/folder.jpg"_qs, cover);
    if (otherTrack)
        mPhone->put(Album + u"/b.mp3"_qs, "b");
    DeviceMtpMac &device = open();
    Track song;
    song.mDeviceId = Album + u"/a.mp3"_qs;
    song.mOnRemoteDevice = true;

    QCOMPARE(device.DeleteTrack(song), 0);
    QVERIFY(!song.mOnRemoteDevice);
    QStringList left;
    for (const QString &path :
         QStringList{u"/Music"_qs, u"/Music/Artist"_qs, Album, Album + u"/a.mp3"_qs,
                     Album + u"/b.mp3"_qs, Album + u"/folder.jpg"_qs}) {
        if (mPhone->exists(path))
            left.append(path);
    }
    QCOMPARE(left, leftInMusic);

    // A file already gone counts as deleted.
    song.mOnRemoteDevice = true;
    QCOMPARE(device.DeleteTrack(song), 0);
    QVERIFY(!song.mOnRemoteDevice);
}

// A playlist that changed is replaced, an unchanged one is not sent again unless the run
// forces it, and those the run did not write go.
void TestMtpDevice::playlists()
{
    mPhone->put(u"/Playlists_KVL/Old.m3u"_qs, "#EXTM3U\r\n");
    mPhone->put(u"/Playlists_KVL/Rock.m3u"_qs, "#EXTM3U\r\n");
    DeviceMtpMac &device = open();
    TrackList tracks;
    Track song(u"Song"_qs, u"Album"_qs, u"Artist"_qs, 1, {}, true, true, false,
               Album + u"/s.mp3"_qs);
    tracks.addTrack(song);
    const LocalPlaylist rock{u"Rock"_qs, {{0, 0}}};
    const QByteArray rockFile = "#EXTM3U\r\n#EXTINF:0,Song\r\n../Music/Artist/Album/s.mp3\r\n";

    device.PrepareForSync();
    device.createPlaylist(rock, tracks, false);
    device.removeOldPlaylists();
    QCOMPARE(mPhone->names(u"/Playlists_KVL"_qs), QStringList{u"Rock.m3u"_qs});
    QCOMPARE(mPhone->content(u"/Playlists_KVL/Rock.m3u"_qs), rockFile);

    const int sends = mPhone->sends();
    device.createPlaylist(rock, tracks, false);
    QCOMPARE(mPhone->sends(), sends);
    device.createPlaylist(rock, tracks, true);
    QCOMPARE(mPhone->sends(), sends + 1);
    QCOMPARE(mPhone->names(u"/Playlists_KVL"_qs), QStringList{u"Rock.m3u"_qs});
}

void TestMtpDevice::albumArtOnce()
{
    DeviceMtpMac &device = open();
    const Track song = track(u"a.mp3"_qs, "music");
    const QString image = mHome->filePath(u"cover.jpg"_qs);
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(OwnCover) > 0);
    file.close();
    device.uploadAlbumArt(song, image);
    // A cover already there is left alone: not sent again, and no failure.
    const int sends = mPhone->sends();
    device.uploadAlbumArt(song, image);
    QCOMPARE(mPhone->sends(), sends);
    QCOMPARE(mPhone->names(Album), QStringList{u"folder.jpg"_qs});
    QCOMPARE(mPhone->content(Album + u"/folder.jpg"_qs), OwnCover);
}

void TestMtpDevice::refresher()
{
    // Two phones of one model, told apart; a third held by another program, a
    // fourth locked.
    auto twin = std::make_shared<FakeMtpPhone>(u"FAKE0002"_qs, 1, 2);
    auto held = std::make_shared<FakeMtpPhone>(u"FAKE0003"_qs, 2, 1);
    auto locked = std::make_shared<FakeMtpPhone>(u"FAKE0004"_qs, 3, 1);
    locked->setLocked(true);
    mTransport->addPhone(locked);
    twin->addStorage(u"SD card"_qs, 1000, 500);
    twin->put(u"/VARUZ/android.xml"_qs, "<app version=\"3\"/>", 1);
    held->setHeld(true);
    mTransport->addPhone(twin);
    mTransport->addPhone(held);
    MtpMacDeviceRefresher refresher(mTransport);
    QSignalSpy unable(&refresher, &MtpRefresher::unableToOpenDevice);
    QList<DeviceParent *> known;
    const auto enumerate = [&] {
        refresher.start(known);
        QVERIFY(refresher.wait(5000));
        QVERIFY(!refresher.isActive());
    };

    enumerate();
    QList<DeviceParent *> added = refresher.takeAdded();
    QCOMPARE(added.size(), 2);
    QCOMPARE(refresher.takeGone(), QList<DeviceParent *>());
    QCOMPARE(unable.size(), 1);
    QVERIFY(refresher.lastOpenError().contains(u"gvfs"_qs));
    auto *first = dynamic_cast<DeviceParentMtpMac *>(added.at(0));
    auto *second = dynamic_cast<DeviceParentMtpMac *>(added.at(1));
    QVERIFY(first && second);
    QCOMPARE(first->identity(), u"FAKE0001"_qs);
    QCOMPARE(second->identity(), u"FAKE0002"_qs);
    // Without a marker on any storage the phone's devices are disabled.
    QCOMPARE(first->devices().size(), 1);
    QVERIFY(first->devices().at(0)->isDisabled());
    QCOMPARE(second->devices().size(), 2);
    QVERIFY(!second->devices().at(0)->isDisabled() && !second->devices().at(1)->isDisabled());
    QCOMPARE(second->devices().at(1)->GetAndroidVersion(), 3);

    // Known phones are not opened again; the held phone is told about once;
    // the locked one is listed once unlocked.
    known = added;
    const int opens = mPhone->opens() + twin->opens();
    locked->setLocked(false);
    enumerate();
    const QList<DeviceParent *> unlocked = refresher.takeAdded();
    QCOMPARE(unlocked.size(), 1);
    QCOMPARE(unlocked.at(0)->devices().size(), 1);
    added += unlocked;
    known = added;
    QCOMPARE(mPhone->opens() + twin->opens(), opens);
    QCOMPARE(unable.size(), 1);

    // A held work lock ends the enumeration at once; then the unplugged phone is gone.
    twin->setPlugged(false);
    QVERIFY(refresher.tryLock(0));
    enumerate();
    QVERIFY(refresher.takeGone().isEmpty());
    refresher.unlock();
    enumerate();
    QCOMPARE(refresher.takeGone(), QList<DeviceParent *>{second});
    for (DeviceParent *phone : std::as_const(added)) {
        qDeleteAll(phone->devices());
        delete phone;
    }
}

QTEST_GUILESS_MAIN(TestMtpDevice)
#include "tst_mtpdevice.moc"
