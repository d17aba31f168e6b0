#include "core/localplaylist.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "devices/safefilecopy.h"
#include "devices/stagedcopyqueue.h"
#include "devices/usbmsdevice.h"
#include "fakevolumesource.h"
#include "testhome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {
QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &aPath, const QByteArray &aContent)
{
    QDir().mkpath(QFileInfo(aPath).path());
    QFile file(aPath);
    return file.open(QIODevice::WriteOnly) && file.write(aContent) == aContent.size();
}

QStringList filesBelow(const QString &aRoot)
{
    QStringList result;
    QDirIterator it(aRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        result.append(QDir(aRoot).relativeFilePath(it.next()));
    result.sort();
    return result;
}
} // namespace

class TestUsbMSDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void upload_data();
    void upload();
    void uploadFaults_data();
    void uploadFaults();
    void safeCopy();
    void metadataRuns();
    void uniqueId();
    void playlists();
    void removeOldPlaylists();
    void deleteTrack_data();
    void deleteTrack();
    void albumArt();
    void copyFileToDevice();
    void cancelledUploads();
    void placedWhileCopying();
    void newAlbumFolderAppearsMeanwhile();

private:
    Track localTrack(const QString &aArtist, const QString &aAlbum, const QString &aFileName,
                     const QByteArray &aContent = "audio data");
    QString drive(const QString &aRelative) const { return mRoot + QLatin1Char('/') + aRelative; }

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeVolumeSource> mSource;
    std::unique_ptr<UsbMSDevice> mDevice;
    QString mRoot;
};

void TestUsbMSDevice::init()
{
    mHome = std::make_unique<TestHome>();
    mRoot = mHome->filePath(u"drive"_qs);
    QVERIFY(QDir().mkpath(drive(u"VARUZ"_qs)));
    QVERIFY(QDir().mkpath(mHome->filePath(u"VARUZ"_qs)));
    mSource = std::make_shared<FakeVolumeSource>();
    mSource->plug(mRoot, u"Fake Phone"_qs, 1000, 400);
    mDevice = std::make_unique<UsbMSDevice>(mSource, mRoot, u"Fake Phone"_qs, true);
}

Track TestUsbMSDevice::localTrack(const QString &aArtist, const QString &aAlbum,
                                  const QString &aFileName, const QByteArray &aContent)
{
    const QString path = mHome->filePath(u"lib/"_qs + aFileName);
    if (!aContent.isNull())
        writeFile(path, aContent);
    return Track(u"Song"_qs, aAlbum, aArtist, 3, path, true, false, false, QString());
}

void TestUsbMSDevice::upload_data()
{
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<QString>("deviceId");

    QTest::newRow("converted") << u"A"_qs << u"B"_qs << u"s.m4a"_qs << true
                               << u"/Music/A/B/s.mp3"_qs;
    QTest::newRow("converted, longer extension")
        << u"A"_qs << u"B"_qs << u"s.x.flac"_qs << true << u"/Music/A/B/s.x.mp3"_qs;
    QTest::newRow("fat illegal and control") << u"A\tB"_qs << u"Live\x01"_qs << u"w: y?\n.mp3"_qs
                                             << false << u"/Music/A_B/Live_/w_ y__.mp3"_qs;
    QTest::newRow("safe name kept")
        << u"Bj\u00f6rk & Co"_qs << u"Post (1995)"_qs << u"01 Me [\u00e9dit].mp3"_qs << false
        << u"/Music/Bj\u00f6rk & Co/Post (1995)/01 Me [\u00e9dit].mp3"_qs;
}

void TestUsbMSDevice::upload()
{
    QFETCH(QString, artist);
    QFETCH(QString, album);
    QFETCH(QString, fileName);
    QFETCH(bool, convert);
    QFETCH(QString, deviceId);
    Track track = localTrack(artist, album, fileName);
    track.mConvertToMp3 = convert;
    QByteArray expected = readAll(track.mPath);
    if (track.needsConversion()) {
        expected = "converted mp3";
        QVERIFY(writeFile(Track::conversionOutputPath(), expected));
    }
    QCOMPARE(mDevice->UploadTrack(track), 0);
    QVERIFY(!QFile::exists(mRoot + deviceId)); // staged until committed
    QStringList failed;
    QCOMPARE(mDevice->CommitUploads(failed), 0);
    QVERIFY(failed.isEmpty());
    QCOMPARE(track.mDeviceId, deviceId);
    QVERIFY(track.mOnRemoteDevice);
    QCOMPARE(track.mSizeOnDevice, qint64(expected.size()));
    QCOMPARE(filesBelow(drive(u"Music"_qs)), QStringList{deviceId.mid(7)});
    QCOMPARE(readAll(mRoot + deviceId), expected);
}

void TestUsbMSDevice::uploadFaults_data()
{
    QTest::addColumn<bool>("localFile");
    QTest::addColumn<QByteArray>("onPhone"); // "/A": a file where a folder should be
    QTest::addColumn<bool>("convert");
    QTest::addColumn<int>("result");

    QTest::newRow("complete copy on the phone") << true << QByteArray("LOCAL") << false << -6010;
    QTest::newRow("copy of another size on the phone") << true << QByteArray("old") << false << 0;
    QTest::newRow("source missing") << false << QByteArray() << false << -6005;
    QTest::newRow("converted file missing") << true << QByteArray() << true << -6005;
    QTest::newRow("folder cannot be made") << true << QByteArray("/A") << false << -6008;
}

void TestUsbMSDevice::uploadFaults()
{
    QFETCH(bool, localFile);
    QFETCH(QByteArray, onPhone);
    QFETCH(bool, convert);
    const QString destination = drive(u"Music/A/B/s.mp3"_qs);
    Track track = localTrack(u"A"_qs, u"B"_qs, convert ? u"s.m4a"_qs : u"s.mp3"_qs,
                             localFile ? QByteArray("local") : QByteArray());
    track.mConvertToMp3 = convert;
    if (onPhone == "/A")
        QVERIFY(writeFile(drive(u"Music/A"_qs), "not a folder"));
    else
        QVERIFY(onPhone.isNull() || writeFile(destination, onPhone));

    mDevice->PrepareForSync();
    QFETCH(int, result);
    QCOMPARE(mDevice->UploadTrack(track), result);
    QStringList failed;
    QCOMPARE(mDevice->CommitUploads(failed), 0);
    mDevice->FinalizeSync();
    const bool marked = result == 0 || result == Device::AlreadyOnDevice;
    QCOMPARE(track.mOnRemoteDevice, marked);
    QCOMPARE(track.mSizeOnDevice, qint64(marked ? 5 : 0));
    QCOMPARE(readAll(drive(u"VARUZ/metadata0.xml"_qs)).contains("<track "), marked);
    if (marked)
        QCOMPARE(readAll(destination), result == 0 ? QByteArray("local") : onPhone);
    if (onPhone.isNull())
        QVERIFY(!QFile::exists(destination));
}

void TestUsbMSDevice::safeCopy()
{
    const QString source = mHome->filePath(u"big.bin"_qs);
    QByteArray content(5 * (1 << 20) + 7, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 31 % 251);
    QVERIFY(writeFile(source, content));
    const QString folder = drive(u"copy/"_qs);
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(SafeFileCopy::copy(source, folder + u"big.bin"_qs));
    QVERIFY(!SafeFileCopy::copy(source, folder + u"no/such/folder"_qs));
    QCOMPARE(readAll(folder + u"big.bin"_qs), content);
    QCOMPARE(filesBelow(folder), QStringList{u"big.bin"_qs});
    QFile full(u"/dev/full"_qs);
    QVERIFY(full.open(QIODevice::WriteOnly));
    QCOMPARE(SafeFileCopy::copyData(source, full), SafeFileCopy::Result::NoSpace);

    // Copies on worker threads report each outcome; a failed one leaves nothing.
    StagedCopyQueue queue;
    const StagedCopyQueue::Handle done = queue.add(source, folder + u"queued.part"_qs);
    const StagedCopyQueue::Handle refused = queue.add(source, folder + u"no/such/queued.part"_qs);
    const StagedCopyQueue::Handle missing = queue.add(source + u".gone"_qs, folder + u"x.part"_qs);
    queue.waitForAll();
    QCOMPARE(done->load(), int(StagedCopyQueue::Done));
    QCOMPARE(refused->load(), int(StagedCopyQueue::Failed));
    QCOMPARE(missing->load(), int(StagedCopyQueue::Failed));
    QVERIFY(!queue.sawNoSpace());
    QCOMPARE(readAll(folder + u"queued.part"_qs), content);
    QCOMPARE(filesBelow(folder), (QStringList{u"big.bin"_qs, u"queued.part"_qs}));
    QVERIFY(QFile::remove(folder + u"queued.part"_qs));

    // Copies cut off in an earlier run go from the folders a run uses; other files stay.
    const QString album = drive(u"Music/A/B/"_qs);
    for (const QString &name :
         {u".mobrelay-copy.part"_qs, u".mobrelay-99-7.part"_qs, u".nomedia"_qs})
        QVERIFY(writeFile(album + name, "partial"));
    Track track = localTrack(u"A"_qs, u"B"_qs, u"s.mp3"_qs);
    mDevice->PrepareForSync();
    QCOMPARE(mDevice->UploadTrack(track), 0);
    const QStringList staged = filesBelow(album);
    QVERIFY(!staged.contains(u".mobrelay-copy.part"_qs) &&
            !staged.contains(u".mobrelay-99-7.part"_qs) && staged.contains(u".nomedia"_qs));
    QStringList failed;
    QCOMPARE(mDevice->CommitUploads(failed), 0);
    QCOMPARE(filesBelow(album), QStringList({u".nomedia"_qs, u"s.mp3"_qs}));
}

void TestUsbMSDevice::metadataRuns()
{
    Track first = localTrack(u"A"_qs, u"B"_qs, u"s.mp3"_qs);
    first.mTrackName = u"Cafe\u0301 <&> \"x\""_qs;
    mDevice->PrepareForSync();
    QCOMPARE(mDevice->UploadTrack(first), 0);
    QStringList failed;
    QCOMPARE(mDevice->CommitUploads(failed), 0);
    mDevice->FinalizeSync();
    QCOMPARE(
        readAll(drive(u"VARUZ/metadata0.xml"_qs)),
        QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata>"
                   "<track path=\"/Music/A/B/s.mp3\" artist=\"A\" album=\"B\" "
                   "track_name=\"Caf\xc3\xa9 &lt;&amp;&gt; &quot;x&quot;\" track_number=\"3\"/>"
                   "</metadata>\n"));

    // The next refresh makes a new object for the same drive; numbering carries on.
    UsbMSDevice again(mSource, mRoot, u"Fake Phone"_qs, true);
    again.PrepareForSync();
    again.FinalizeSync();
    QCOMPARE(readAll(drive(u"VARUZ/metadata1.xml"_qs)),
             QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata/>\n"));
}

void TestUsbMSDevice::uniqueId()
{
    QCOMPARE(mDevice->UniqueDeviceId(), u"TEMP-DEVICE-ID"_qs);
    mDevice->SetConfigured();
    const QString id = mDevice->UniqueDeviceId();
    QVERIFY2(QRegularExpression(u"^[0-9]{6,17}Y$"_qs).match(id).hasMatch(), qPrintable(id));
    QCOMPARE(readAll(drive(u"VARUZ/uniqueid"_qs)), id.toLatin1());
    // An existing id file is never replaced, and is read with its line end.
    QVERIFY(writeFile(drive(u"VARUZ/uniqueid"_qs), "abc\r\n"));
    mDevice->SetConfigured();
    QCOMPARE(UsbMSDevice(mSource, mRoot, u"P"_qs, true).UniqueDeviceId(), u"abc\r\n"_qs);
    // A device made before the drive was read takes the id it finds.
    UsbMSDevice unread(mSource, mRoot, u"P"_qs, false);
    unread.SetConfigured();
    QCOMPARE(unread.UniqueDeviceId(), u"abc\r\n"_qs);
}

void TestUsbMSDevice::playlists()
{
    TrackList tracks;
    for (const QString &name : {u"1"_qs, u"2"_qs})
        tracks.addTrack(Track(name, u"B"_qs, u"A"_qs, 1, u"/l/"_qs + name, true, true, true,
                              u"/Music/A/B/"_qs + name + u".mp3"_qs));
    const QByteArray content =
        "#EXTM3U\r\n#EXTINF:0,2\r\n../Music/A/B/2.mp3\r\n#EXTINF:0,1\r\n../Music/A/B/1.mp3\r\n";

    mDevice->createPlaylist(LocalPlaylist{u"Mix"_qs, {{1, 0}, {0, 0}}}, tracks, false);
    QCOMPARE(readAll(drive(u"Playlists_KVL/Mix.m3u"_qs)), content);

    // Names from the library stay inside the playlist folder.
    mDevice->createPlaylist(LocalPlaylist{u"../../x"_qs, {}}, tracks, false);
    mDevice->createPlaylist(LocalPlaylist{u"a/b"_qs, {}}, tracks, false);
    QCOMPARE(filesBelow(mHome->path()),
             QStringList({u"drive/Playlists_KVL/.._.._x.m3u"_qs, u"drive/Playlists_KVL/Mix.m3u"_qs,
                          u"drive/Playlists_KVL/a_b.m3u"_qs, u"drive/VARUZ/playlisthint"_qs}));
    QCOMPARE(readAll(drive(u"VARUZ/playlisthint"_qs)),
             QByteArray("Mix.m3u\n.._.._x.m3u\na_b.m3u\n"));
}

void TestUsbMSDevice::removeOldPlaylists()
{
    const QByteArray old = "#EXTM3U\r\n#EXTINF:0,X\r\n../Music/X.mp3\r\n";
    for (const QString &name : {u"A.m3u"_qs, u"B.m3u"_qs, u"notes.txt"_qs})
        QVERIFY(writeFile(drive(u"Playlists_KVL/"_qs + name), old));
    QVERIFY(QDir().mkpath(drive(u"Playlists_KVL/folder.m3u"_qs)));
    QVERIFY(writeFile(drive(u"VARUZ/playlisthint"_qs), "old.m3u\n"));
    mDevice->PrepareForSync();
    mDevice->createPlaylist(LocalPlaylist{u"A"_qs, {}}, TrackList(), false);
    mDevice->removeOldPlaylists();
    mDevice->FinalizeSync();
    QCOMPARE(readAll(drive(u"Playlists_KVL/B.m3u"_qs)), QByteArray("#EXTM3U\r\n"));
    QCOMPARE(readAll(drive(u"Playlists_KVL/notes.txt"_qs)), old);
    QCOMPARE(readAll(drive(u"VARUZ/playlisthint"_qs)), QByteArray("old.m3u\nA.m3u\nB.m3u\n"));
}

void TestUsbMSDevice::deleteTrack_data()
{
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QString>("existing"); // made read-only
    QTest::addColumn<int>("result");

    const QString song = u"/Music/A/B/s.mp3"_qs;
    QTest::newRow("read-only file") << song << song << 0;
    QTest::newRow("missing file") << song << QString() << 0;
    QTest::newRow("folder") << u"/Music/A"_qs << u"/Music/A/x.mp3"_qs << -6006;
    QTest::newRow("escaping") << u"/Music/../../../home/user/file"_qs << QString() << -6006;
    QTest::newRow("escaping through a link") << u"/Music/link/outside.txt"_qs << QString() << -6006;
    QTest::newRow("escaping empty id") << QString() << QString() << -6006;
}

void TestUsbMSDevice::deleteTrack()
{
    QFETCH(QString, deviceId);
    QFETCH(QString, existing);
    QFETCH(int, result);
    const QString outside = mHome->filePath(u"outside.txt"_qs);
    QVERIFY(writeFile(outside, "precious"));
    QVERIFY(QDir().mkpath(drive(u"Music"_qs)));
    QVERIFY(QFile::link(mHome->path(), drive(u"Music/link"_qs)));
    QVERIFY(existing.isEmpty() ||
            (writeFile(mRoot + existing, "audio") &&
             QFile::setPermissions(mRoot + existing, QFileDevice::ReadOwner)));

    Track track(u"s"_qs, u"B"_qs, u"A"_qs, 1, u"/l/s.mp3"_qs, true, true, false, deviceId);
    QCOMPARE(mDevice->DeleteTrack(track), result);
    QCOMPARE(readAll(outside), QByteArray("precious"));
    QCOMPARE(track.mOnRemoteDevice, result != 0);
    if (!existing.isEmpty())
        QCOMPARE(QFile::exists(mRoot + existing), result != 0);
}

void TestUsbMSDevice::albumArt()
{
    const QString image = mHome->filePath(u"cover.jpg"_qs);
    QVERIFY(writeFile(image, "jpeg"));
    Track track = localTrack(u"A"_qs, u"Vol. 1"_qs, u"s.mp3"_qs);
    track.mDeviceId = u"/Music/A/Vol_ 1/s.mp3"_qs;
    const QString art = drive(u"Music/A/Vol_ 1/AlbumArt.jpg"_qs);
    mDevice->uploadAlbumArt(track, image);
    // An existing picture stays, and the hint still names the track.
    QVERIFY(writeFile(image, "other"));
    track.mDeviceId = u"Music/t.mp3"_qs;
    mDevice->uploadAlbumArt(track, image);
    QCOMPARE(readAll(art), QByteArray("jpeg"));
    QCOMPARE(readAll(drive(u"VARUZ/refreshhint"_qs)),
             QByteArray("/Music/A/Vol_ 1/s.mp3\r\n/VARUZ/Music/t.mp3\r\n"));
    QCOMPARE(filesBelow(drive(u"Music"_qs)), QStringList{u"A/Vol_ 1/AlbumArt.jpg"_qs});
}

void TestUsbMSDevice::copyFileToDevice()
{
    const QString local = mHome->filePath(u"messages.xml"_qs);
    QVERIFY(writeFile(local, "new"));
    QVERIFY(writeFile(drive(u"VARUZ/messages.xml"_qs), "old"));
    // A replacement that cannot be read leaves the old file in place.
    QCOMPARE(mDevice->CopyFileToDevice(local + u"x"_qs, u"VARUZ/messages.xml"_qs, true),
             Device::CopyFailed);
    QCOMPARE(mDevice->CopyFileToDevice(local, u"../../escaped.txt"_qs, false), 0);
    QCOMPARE(readAll(drive(u"VARUZ/messages.xml"_qs)), QByteArray("old"));
    QVERIFY(!QFile::exists(mHome->filePath(u"escaped.txt"_qs)));
    QCOMPARE(filesBelow(mRoot), QStringList({u"VARUZ/messages.xml"_qs, u"__/__/escaped.txt"_qs}));
}

void TestUsbMSDevice::cancelledUploads()
{
    // Copies not yet begun when the run is cancelled are dropped, not finished:
    // nothing of them reaches the phone and the run learns which they were.
    mDevice->PrepareForSync();
    mDevice->SetCancelCheck([] { return true; });
    QList<Track> tracks;
    for (int i = 0; i < 3; ++i)
        tracks.append(localTrack(u"A"_qs, u"B"_qs, u"s%1.mp3"_qs.arg(i)));
    QStringList ids;
    for (Track &track : tracks) {
        QCOMPARE(mDevice->UploadTrack(track), 0);
        ids.append(track.mDeviceId);
    }
    QStringList dropped = mDevice->CancelUploads();
    dropped.sort();
    QCOMPARE(dropped, ids);
    QStringList failed;
    QCOMPARE(mDevice->CommitUploads(failed), 0);
    QVERIFY(failed.isEmpty());
    mDevice->SetCancelCheck({});
    mDevice->FinalizeSync();
    QCOMPARE(filesBelow(drive(u"Music"_qs)), QStringList{});
    QVERIFY(!readAll(drive(u"VARUZ/metadata0.xml"_qs)).contains("<track "));
}

void TestUsbMSDevice::placedWhileCopying()
{
    // Enough small tracks for the copies finished early to be flushed and named
    // while later ones are copied; the commit must name only the others.
    mDevice->PrepareForSync();
    constexpr int Count = 2100;
    QList<Track> tracks;
    for (int i = 0; i < Count; ++i) {
        tracks.append(localTrack(u"A%1"_qs.arg(i / 100), u"B%1"_qs.arg(i / 10),
                                 u"s%1.mp3"_qs.arg(i), QByteArray::number(i)));
        QCOMPARE(mDevice->UploadTrack(tracks.last()), 0);
    }
    const auto named = [this] { return filesBelow(drive(u"Music"_qs)).filter(u".mp3"_qs).size(); };
    QTRY_VERIFY(named() > 0);
    QStringList failed;
    QCOMPARE(mDevice->CommitUploads(failed), 0);
    QCOMPARE(failed, QStringList());
    mDevice->FinalizeSync();
    QCOMPARE(filesBelow(drive(u"Music"_qs)).size(), Count);
    QCOMPARE(named(), Count);
    for (int i : {0, 1999, Count - 1})
        QCOMPARE(readAll(mRoot + tracks.at(i).mDeviceId), QByteArray::number(i));
    QCOMPARE(readAll(drive(u"VARUZ/metadata0.xml"_qs)).count("<track "), Count);
}

void TestUsbMSDevice::newAlbumFolderAppearsMeanwhile()
{
    // A new album is filled in a folder of a temporary name, its cover too; if
    // the album's folder appears meanwhile, everything moves into it file by file.
    mDevice->PrepareForSync();
    const QString image = mHome->filePath(u"cover.jpg"_qs);
    QVERIFY(writeFile(image, "jpeg"));
    Track track = localTrack(u"A"_qs, u"B"_qs, u"s.mp3"_qs);
    QCOMPARE(mDevice->UploadTrack(track), 0);
    mDevice->uploadAlbumArt(track, image);
    QVERIFY(!QFileInfo::exists(drive(u"Music/A/B"_qs)));
    QVERIFY(writeFile(drive(u"Music/A/B/other.mp3"_qs), "theirs"));
    QStringList failed;
    QCOMPARE(mDevice->CommitUploads(failed), 0);
    QCOMPARE(failed, QStringList());
    QCOMPARE(filesBelow(drive(u"Music"_qs)),
             (QStringList{u"A/B/AlbumArt.jpg"_qs, u"A/B/other.mp3"_qs, u"A/B/s.mp3"_qs}));
    QCOMPARE(readAll(drive(u"Music/A/B/other.mp3"_qs)), QByteArray("theirs"));
    QCOMPARE(QDir(drive(u"Music/A"_qs)).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{u"B"_qs});
}

QTEST_GUILESS_MAIN(TestUsbMSDevice)
#include "tst_usbmsdevice.moc"
