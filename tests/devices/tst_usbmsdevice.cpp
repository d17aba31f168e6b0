#include "devices/fakevolumesource.h"
#include "devices/safefilecopy.h"
#include "devices/usbmsdevice.h"
#include "library/localplaylist.h"
#include "settings/syncsettings.h"
#include "sync/track.h"
#include "sync/trackcache.h"
#include "sync/tracklist.h"
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
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(aContent) == aContent.size();
}

LocalPlaylist playlist(const QString &aName, const QList<int> &aPositions)
{
    LocalPlaylist result;
    result.mName = aName;
    for (int position : aPositions)
        result.mEntries.append(LocalPlaylistEntry{position, 0});
    return result;
}

// Every file below aRoot, relative to it.
QStringList filesBelow(const QString &aRoot)
{
    QStringList result;
    QDirIterator it(aRoot, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
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
    void cleanup();
    void upload_data();
    void upload();
    void uploadFaults_data();
    void uploadFaults();
    void uploadWithoutLocation();
    void safeCopy();
    void metadataRuns();
    void metadataWithoutDataFolder();
    void uniqueId_data();
    void uniqueId();
    void uniqueIdReadWhenMounted();
    void setConfigured();
    void pcVersion();
    void playlistWriting();
    void playlistNamesStayInside_data();
    void playlistNamesStayInside();
    void removeOldPlaylists();
    void removeOldPlaylistsWithoutHint();
    void deleteTrack_data();
    void deleteTrack();
    void albumArt();
    void copyFileToDevice();
    void sizesAndMount();

private:
    Track localTrack(const QString &aArtist, const QString &aAlbum, const QString &aFileName,
                     const QByteArray &aContent = QByteArray("audio data"));
    QString drive(const QString &aRelative) const { return mRoot + QLatin1Char('/') + aRelative; }

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeVolumeSource> mSource;
    std::unique_ptr<UsbMSDevice> mDevice;
    QString mRoot;
};

void TestUsbMSDevice::init()
{
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
    QCOMPARE(QDir::homePath(), mHome->path());
    mRoot = mHome->filePath(QStringLiteral("drive"));
    QVERIFY(QDir().mkpath(mRoot + QStringLiteral("/VARUZ")));
    QVERIFY(QDir().mkpath(mHome->filePath(QStringLiteral("VARUZ"))));
    mSource = std::make_shared<FakeVolumeSource>();
    mSource->plug(mRoot, QStringLiteral("Fake Phone"), 1000, 400);
    mDevice = std::make_unique<UsbMSDevice>(mSource, mRoot, QStringLiteral("Fake Phone"), true);
}

void TestUsbMSDevice::cleanup()
{
    mDevice.reset();
    mHome.reset();
}

Track TestUsbMSDevice::localTrack(const QString &aArtist, const QString &aAlbum,
                                  const QString &aFileName, const QByteArray &aContent)
{
    const QString path = mHome->filePath(QStringLiteral("lib/") + aFileName);
    if (!aContent.isNull())
        writeFile(path, aContent);
    Track track(QStringLiteral("Song"), aAlbum, aArtist, 3, path, true, false, false, QString());
    return track;
}

void TestUsbMSDevice::upload_data()
{
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<QString>("deviceId");

    QTest::newRow("plain") << "Artist"
                           << "Album"
                           << "song.mp3" << false << "/Music/Artist/Album/song.mp3";
    QTest::newRow("no album") << "Artist"
                              << ""
                              << "song.mp3" << false << "/Music/Artist/song.mp3";
    QTest::newRow("no folders") << ""
                                << ""
                                << "song.mp3" << false << "/Music/song.mp3";
    QTest::newRow("converted") << "Artist"
                               << "Album"
                               << "song.m4a" << true << "/Music/Artist/Album/song.mp3";
    QTest::newRow("conversion not needed") << "Artist"
                                           << "Album"
                                           << "song.mp3" << true << "/Music/Artist/Album/song.mp3";
    QTest::newRow("folder rule") << "AC/DC"
                                 << "AC/DC: Live?"
                                 << "a.mp3" << false << "/Music/AC_DC/AC_DC_ Live_/a.mp3";
    QTest::newRow("fat illegal file name")
        << "A"
        << "B"
        << "what: why?.mp3" << false << "/Music/A/B/what_ why_.mp3";
    QTest::newRow("control characters") << "A\tB"
                                        << "Live\x01"
                                        << "x\ny.mp3" << false << "/Music/A_B/Live_/x_y.mp3";
    QTest::newRow("safe name kept")
        << QStringLiteral("Bj\u00f6rk & Co") << "Post (1995)"
        << QStringLiteral("01 Army of Me [\u00e9dit].mp3") << false
        << QStringLiteral("/Music/Bj\u00f6rk & Co/Post (1995)/01 Army of Me "
                          "[\u00e9dit].mp3");
}

void TestUsbMSDevice::upload()
{
    QFETCH(QString, artist);
    QFETCH(QString, album);
    QFETCH(QString, fileName);
    QFETCH(bool, convert);
    QFETCH(QString, deviceId);
    Track track = localTrack(artist, album, fileName, QByteArray(3 << 20, 'a') + "tail");
    track.mConvertToMp3 = convert;
    QByteArray expected = readAll(track.mPath);
    if (track.needsConversion()) {
        expected = "converted mp3";
        QVERIFY(writeFile(Track::conversionOutputPath(), expected));
    }
    QCOMPARE(mDevice->UploadTrack(track), 0);
    QCOMPARE(track.mDeviceId, deviceId);
    QVERIFY(track.mOnRemoteDevice);
    QCOMPARE(track.mSizeOnDevice, qint64(expected.size()));
    QCOMPARE(readAll(mRoot + deviceId), expected);
    QCOMPARE(filesBelow(drive(QStringLiteral("Music"))),
             QStringList{deviceId.mid(int(QStringLiteral("/Music/").size()))});
}

void TestUsbMSDevice::uploadFaults_data()
{
    QTest::addColumn<bool>("localFile");
    QTest::addColumn<QByteArray>("onPhone");
    QTest::addColumn<bool>("blockFolder");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("logLine");

    QTest::newRow("already on the phone") << true << QByteArray("old") << false << false << 0
                                          << QByteArray("Destination file already exists");
    QTest::newRow("local file missing") << false << QByteArray() << false << false << -6005
                                        << QByteArray("Source file doesn't exist");
    QTest::newRow("local file missing, on the phone")
        << false << QByteArray("kept") << false << false << 0
        << QByteArray("Destination file already exists");
    // A file where the folder should be: fails whoever runs the test.
    QTest::newRow("folder cannot be made")
        << true << QByteArray() << true << false << -6008 << QByteArray("Error making remote path");
    QTest::newRow("converted file missing")
        << true << QByteArray() << false << true << -6005 << QByteArray("Cannot open copy source");
}

void TestUsbMSDevice::uploadFaults()
{
    QFETCH(bool, localFile);
    QFETCH(QByteArray, onPhone);
    QFETCH(bool, blockFolder);
    QFETCH(bool, convert);
    QFETCH(int, result);
    QFETCH(QByteArray, logLine);
    const QString log = mHome->enableLog();
    const QString destination = drive(QStringLiteral("Music/A/B/s.mp3"));
    Track track = localTrack(QStringLiteral("A"), QStringLiteral("B"),
                             convert ? QStringLiteral("s.m4a") : QStringLiteral("s.mp3"),
                             localFile ? QByteArray("local") : QByteArray());
    track.mConvertToMp3 = convert;
    if (!onPhone.isNull())
        QVERIFY(writeFile(destination, onPhone));
    if (blockFolder)
        QVERIFY(writeFile(drive(QStringLiteral("Music/A")), "not a folder"));

    mDevice->PrepareForSync();
    QCOMPARE(mDevice->UploadTrack(track), result);
    mDevice->FinalizeSync();
    const bool marked = !onPhone.isNull();
    QCOMPARE(track.mOnRemoteDevice, marked);
    QCOMPARE(track.mDeviceId, marked ? QStringLiteral("/Music/A/B/s.mp3") : QString());
    QCOMPARE(track.mSizeOnDevice, qint64(onPhone.size()));
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/metadata0.xml"))).contains("<track "), marked);
    if (!blockFolder)
        QCOMPARE(readAll(destination), marked ? onPhone : QByteArray("<missing>"));
    mHome->disableLog();
    QVERIFY2(readAll(log).contains(logLine), logLine.constData());
}

void TestUsbMSDevice::uploadWithoutLocation()
{
    // A stream or a track whose file name names a folder on the phone.
    Track track = localTrack(QStringLiteral("A"), QStringLiteral("B"), QString(), QByteArray());
    track.mPath.clear();
    QVERIFY(QDir().mkpath(drive(QStringLiteral("Music/A/B/s.mp3"))));
    QCOMPARE(mDevice->UploadTrack(track), Device::CopyFailed);
    QVERIFY(!track.mOnRemoteDevice);
    QVERIFY(track.mDeviceId.isEmpty());
    track = localTrack(QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("s.mp3"));
    QCOMPARE(mDevice->UploadTrack(track), Device::CopyFailed);
    QVERIFY(!track.mOnRemoteDevice);
    QVERIFY(QFileInfo(drive(QStringLiteral("Music/A/B/s.mp3"))).isDir());
}

void TestUsbMSDevice::safeCopy()
{
    const QString source = mHome->filePath(QStringLiteral("big.bin"));
    QByteArray content(5 * (1 << 20) + 7, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 31 % 251);
    QVERIFY(writeFile(source, content));
    const QString folder = drive(QStringLiteral("copy"));
    QVERIFY(QDir().mkpath(folder));
    // Left over from a copy that was cut off.
    QVERIFY(writeFile(folder + QLatin1Char('/') + SafeFileCopy::TemporaryName, "partial"));

    QVERIFY(SafeFileCopy::copy(source, folder + QStringLiteral("/big.bin")));
    QCOMPARE(readAll(folder + QStringLiteral("/big.bin")), content);
    QCOMPARE(filesBelow(folder), QStringList{QStringLiteral("big.bin")});

    QVERIFY(writeFile(source, "new"));
    QVERIFY(!SafeFileCopy::copy(source, folder + QStringLiteral("/big.bin")));
    QCOMPARE(readAll(folder + QStringLiteral("/big.bin")).size(), content.size());
    QVERIFY(!SafeFileCopy::copy(mHome->filePath(QStringLiteral("none")),
                                folder + QStringLiteral("/none")));
    QVERIFY(!SafeFileCopy::copy(source, folder + QStringLiteral("/no/such/folder")));
    QVERIFY(SafeFileCopy::copy(source, folder + QStringLiteral("/big.bin"), true));
    QCOMPARE(readAll(folder + QStringLiteral("/big.bin")), QByteArray("new"));
    QCOMPARE(filesBelow(folder), QStringList{QStringLiteral("big.bin")});
}

void TestUsbMSDevice::metadataRuns()
{
    Track first = localTrack(QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("s.mp3"));
    // Decomposed accents become precomposed; markup is escaped.
    first.mTrackName = QStringLiteral("Cafe\u0301 <&> \"x\"");
    first.mArtistName = QStringLiteral("A");
    Track second = localTrack(QStringLiteral("Ren\u0303"), QString(), QStringLiteral("t.m4a"));
    second.mTrackNumberOnAlbum = 12;

    mDevice->PrepareForSync();
    QCOMPARE(mDevice->UploadTrack(first), 0);
    QCOMPARE(mDevice->UploadTrack(second), 0);
    mDevice->FinalizeSync();
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata>"
        "<track path=\"/Music/A/B/s.mp3\" artist=\"A\" album=\"B\" "
        "track_name=\"Caf\xc3\xa9 &lt;&amp;&gt; &quot;x&quot;\" track_number=\"3\"/>"
        "<track path=\"/Music/Re\xc3\xb1/t.m4a\" artist=\"Re\xc3\xb1\" album=\"\" "
        "track_name=\"Song\" track_number=\"12\"/></metadata>\n";
    const QByteArray written = readAll(drive(QStringLiteral("VARUZ/metadata0.xml")));
    QVERIFY2(written == expected, written.constData());

    // A run left without FinalizeSync keeps writing into its open file.
    Track third = localTrack(QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("u.mp3"));
    mDevice->PrepareForSync();
    QCOMPARE(mDevice->UploadTrack(third), 0);
    mDevice->PrepareForSync();
    mDevice->FinalizeSync();
    const QByteArray run2 = readAll(drive(QStringLiteral("VARUZ/metadata1.xml")));
    QVERIFY(run2.endsWith("track_number=\"3\"/></metadata>\n"));
    QCOMPARE(run2.count("<track "), 1);
    QVERIFY(!QFile::exists(drive(QStringLiteral("VARUZ/metadata2.xml"))));

    // A new object for the same drive (the next refresh) carries on numbering.
    UsbMSDevice again(mSource, mRoot, QStringLiteral("Fake Phone"), true);
    again.PrepareForSync();
    again.FinalizeSync();
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/metadata2.xml"))),
             QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata/>\n"));
}

void TestUsbMSDevice::metadataWithoutDataFolder()
{
    QVERIFY(QDir(drive(QStringLiteral("VARUZ"))).removeRecursively());
    mDevice->PrepareForSync();
    mDevice->FinalizeSync();
    QVERIFY(!QFile::exists(drive(QStringLiteral("VARUZ"))));
    // Once the folder exists the next run on the same object records again.
    QVERIFY(QDir().mkpath(drive(QStringLiteral("VARUZ"))));
    mDevice->PrepareForSync();
    mDevice->FinalizeSync();
    QVERIFY(QFile::exists(drive(QStringLiteral("VARUZ/metadata0.xml"))));
}

void TestUsbMSDevice::uniqueId_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("id");

    QTest::newRow("plain") << QByteArray("12345612Y") << "12345612Y";
    QTest::newRow("line end stays") << QByteArray("abc\n") << "abc\n";
    QTest::newRow("crlf stays") << QByteArray("abc\r\n") << "abc\r\n";
    QTest::newRow("spaces stay") << QByteArray(" a b ") << " a b ";
    QTest::newRow("empty") << QByteArray("") << "";
    QTest::newRow("missing") << QByteArray() << "TEMP-DEVICE-ID";
}

void TestUsbMSDevice::uniqueId()
{
    QFETCH(QByteArray, content);
    if (!content.isNull())
        QVERIFY(writeFile(drive(QStringLiteral("VARUZ/uniqueid")), content));
    UsbMSDevice device(mSource, mRoot, QStringLiteral("P"), true);
    QTEST(device.UniqueDeviceId(), "id");
    QVERIFY(!device.IsConfigured());
    QTEST(device.UniqueDeviceId(), "id");
}

void TestUsbMSDevice::uniqueIdReadWhenMounted()
{
    QVERIFY(writeFile(drive(QStringLiteral("VARUZ/uniqueid")), "first"));
    UsbMSDevice device(mSource, mRoot, QStringLiteral("P"), false);
    QCOMPARE(device.UniqueDeviceId(), QStringLiteral("TEMP-DEVICE-ID"));
    mSource->setResponding(mRoot, false);
    QVERIFY(!device.IsMounted());
    QCOMPARE(device.UniqueDeviceId(), QStringLiteral("TEMP-DEVICE-ID"));
    mSource->setResponding(mRoot, true);
    QVERIFY(device.IsMounted());
    QCOMPARE(device.UniqueDeviceId(), QStringLiteral("first"));
    // Read again on every mounted check: it was not read at construction.
    QVERIFY(writeFile(drive(QStringLiteral("VARUZ/uniqueid")), "second"));
    QVERIFY(device.IsMounted());
    QCOMPARE(device.UniqueDeviceId(), QStringLiteral("second"));
    // An object that read its id at construction keeps it.
    QVERIFY(mDevice->IsMounted());
    QCOMPARE(mDevice->UniqueDeviceId(), QStringLiteral("TEMP-DEVICE-ID"));
}

void TestUsbMSDevice::setConfigured()
{
    QVERIFY(QDir(drive(QStringLiteral("VARUZ"))).removeRecursively());
    mDevice->SetConfigured();
    const QString id = mDevice->UniqueDeviceId();
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]{6,17}Y$")).match(id).hasMatch(),
             qPrintable(id));
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/uniqueid"))), id.toLatin1());
    QVERIFY(!mDevice->IsConfigured());

    SyncSettings settings;
    settings.load();
    settings.setConfig(id, true, 0, {}, {}, QStringLiteral("Fake Phone"));
    QCOMPARE(settings.save(), 0);
    UsbMSDevice fresh(mSource, mRoot, QStringLiteral("Fake Phone"), false);
    QVERIFY(fresh.IsConfigured());
    QCOMPARE(fresh.UniqueDeviceId(), id);
    QVERIFY(fresh.configuredOrder() > 0);

    // An existing id file is never replaced.
    QVERIFY(writeFile(drive(QStringLiteral("VARUZ/uniqueid")), "kept"));
    fresh.SetConfigured();
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/uniqueid"))), QByteArray("kept"));
}

void TestUsbMSDevice::pcVersion()
{
    mDevice->setPcSoftwareVersion(QStringLiteral("1.10.2"));
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/pcversion.txt"))), QByteArray("1.10.2"));
    mDevice->setPcSoftwareVersion(QStringLiteral("1.9"));
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/pcversion.txt"))), QByteArray("1.9"));
}

void TestUsbMSDevice::playlistWriting()
{
    TrackList tracks;
    tracks.addTrack(Track(QStringLiteral("One"), QStringLiteral("B"), QStringLiteral("A"), 1,
                          QStringLiteral("/l/1.mp3"), true, true, true,
                          QStringLiteral("/Music/A/B/1.mp3")));
    tracks.addTrack(Track(QStringLiteral("Two"), QStringLiteral("B"), QStringLiteral("A"), 2,
                          QStringLiteral("/l/2.mp3"), true, true, true,
                          QStringLiteral("/Music/A/B/2.mp3")));
    const QString file = drive(QStringLiteral("Playlists_KVL/Mix.m3u"));
    const QString hint = drive(QStringLiteral("VARUZ/playlisthint"));
    const QByteArray content = "#EXTM3U\r\n#EXTINF:0,Two\r\n../Music/A/B/2.mp3\r\n"
                               "#EXTINF:0,One\r\n../Music/A/B/1.mp3\r\n";

    mDevice->createPlaylist(playlist(QStringLiteral("Mix"), {1, 0}), tracks, false);
    QCOMPARE(readAll(file), content);
    QCOMPARE(readAll(hint), QByteArray("Mix.m3u\n"));

    // Identical: neither the file nor the hint is touched.
    QVERIFY(writeFile(file, QByteArray(content).replace("#EXTINF:0,Two", "#EXTINF:0,Renamed")));
    mDevice->createPlaylist(playlist(QStringLiteral("Mix"), {1, 0}), tracks, false);
    QVERIFY(readAll(file).contains("Renamed"));
    QCOMPARE(readAll(hint), QByteArray("Mix.m3u\n"));

    mDevice->createPlaylist(playlist(QStringLiteral("Mix"), {1, 0}), tracks, true);
    QVERIFY(!readAll(file).contains("Renamed"));
    QCOMPARE(readAll(hint), QByteArray("Mix.m3u\nMix.m3u\n"));

    mDevice->createPlaylist(playlist(QStringLiteral("Mix"), {0}), tracks, false);
    QCOMPARE(readAll(file), QByteArray("#EXTM3U\r\n#EXTINF:0,One\r\n../Music/A/B/1.mp3\r\n"));
    QCOMPARE(readAll(hint), QByteArray("Mix.m3u\nMix.m3u\nMix.m3u\n"));
}

void TestUsbMSDevice::playlistNamesStayInside_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("climbing") << "../../x"
                              << ".._.._x.m3u";
    QTest::newRow("sub folder") << "a/b"
                                << "a_b.m3u";
    QTest::newRow("dot dot") << ".."
                             << "...m3u";
    QTest::newRow("fat illegal") << "Best: Of?"
                                 << "Best_ Of_.m3u";
    QTest::newRow("safe") << QStringLiteral("Rock'n'Roll \u00e9t\u00e9 2.0")
                          << QStringLiteral("Rock'n'Roll \u00e9t\u00e9 2.0.m3u");
}

void TestUsbMSDevice::playlistNamesStayInside()
{
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    TrackList tracks;
    mDevice->createPlaylist(playlist(name, {}), tracks, false);
    QCOMPARE(filesBelow(mHome->path()),
             QStringList({QStringLiteral("drive/Playlists_KVL/") + fileName,
                          QStringLiteral("drive/VARUZ/playlisthint")}));
    QCOMPARE(readAll(drive(QStringLiteral("Playlists_KVL/")) + fileName),
             QByteArray("#EXTM3U\r\n"));
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/playlisthint"))), fileName.toUtf8() + '\n');
}

void TestUsbMSDevice::removeOldPlaylists()
{
    TrackList tracks;
    const QByteArray old = "#EXTM3U\r\n#EXTINF:0,X\r\n../Music/X.mp3\r\n";
    QVERIFY(writeFile(drive(QStringLiteral("Playlists_KVL/A.m3u")), "#EXTM3U\r\n"));
    QVERIFY(writeFile(drive(QStringLiteral("Playlists_KVL/B.m3u")), old));
    QVERIFY(writeFile(drive(QStringLiteral("Playlists_KVL/rock.m3u")), old));
    QVERIFY(writeFile(drive(QStringLiteral("Playlists_KVL/notes.txt")), old));
    QVERIFY(QDir().mkpath(drive(QStringLiteral("Playlists_KVL/folder.m3u"))));
    QVERIFY(writeFile(drive(QStringLiteral("VARUZ/playlisthint")), "A.m3u\n"));

    mDevice->PrepareForSync();
    mDevice->createPlaylist(playlist(QStringLiteral("A"), {}), tracks, false);
    // FAT keeps the old spelling of a file rewritten under another case.
    mDevice->createPlaylist(playlist(QStringLiteral("Rock"), {}), tracks, false);
    QFile::remove(drive(QStringLiteral("Playlists_KVL/Rock.m3u")));
    mDevice->removeOldPlaylists();
    mDevice->FinalizeSync();

    QCOMPARE(readAll(drive(QStringLiteral("Playlists_KVL/A.m3u"))), QByteArray("#EXTM3U\r\n"));
    QCOMPARE(readAll(drive(QStringLiteral("Playlists_KVL/B.m3u"))), QByteArray("#EXTM3U\r\n"));
    QCOMPARE(readAll(drive(QStringLiteral("Playlists_KVL/rock.m3u"))), old);
    QCOMPARE(readAll(drive(QStringLiteral("Playlists_KVL/notes.txt"))), old);
    const QByteArray hint = readAll(drive(QStringLiteral("VARUZ/playlisthint")));
    QVERIFY(hint.startsWith("A.m3u\nRock.m3u\n"));
    QCOMPARE(hint.count("B.m3u\n"), 1);
    QCOMPARE(hint.count("rock.m3u\n"), 1);
    QCOMPARE(hint.count("A.m3u\n"), 1);
    QVERIFY(!hint.contains("notes") && !hint.contains("folder"));

    // A second run with nothing new lists nothing twice.
    mDevice->PrepareForSync();
    mDevice->createPlaylist(playlist(QStringLiteral("A"), {}), tracks, false);
    mDevice->removeOldPlaylists();
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/playlisthint"))).size(), hint.size());
    QCOMPARE(readAll(drive(QStringLiteral("Playlists_KVL/rock.m3u"))), QByteArray("#EXTM3U\r\n"));
}

void TestUsbMSDevice::removeOldPlaylistsWithoutHint()
{
    QVERIFY(QDir(drive(QStringLiteral("VARUZ"))).removeRecursively());
    QVERIFY(writeFile(drive(QStringLiteral("Playlists_KVL/B.m3u")), "#EXTM3U\r\nx\r\n"));
    mDevice->PrepareForSync();
    mDevice->removeOldPlaylists();
    QCOMPARE(readAll(drive(QStringLiteral("Playlists_KVL/B.m3u"))), QByteArray("#EXTM3U\r\n"));
    QVERIFY(!QFile::exists(drive(QStringLiteral("VARUZ"))));
}

void TestUsbMSDevice::deleteTrack_data()
{
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("result");

    QTest::newRow("file") << "/Music/A/B/s.mp3"
                          << "Music/A/B/s.mp3" << false << 0;
    QTest::newRow("read-only file") << "/Music/A/B/s.mp3"
                                    << "Music/A/B/s.mp3" << true << 0;
    QTest::newRow("missing file") << "/Music/A/B/s.mp3"
                                  << "" << false << 0;
    QTest::newRow("id without separator") << "Music/s.mp3"
                                          << "VARUZ/Music/s.mp3" << false << 0;
    QTest::newRow("folder") << "/Music/A"
                            << "Music/A/x.mp3" << false << -6006;
    QTest::newRow("escaping id") << "/../outside.txt"
                                 << "" << false << -6006;
    QTest::newRow("escaping deeper") << "/Music/../../../home/user/file"
                                     << "" << false << -6006;
    QTest::newRow("escaping relative id") << "../../outside.txt"
                                          << "" << false << -6006;
    QTest::newRow("through a link") << "/Music/link/outside.txt"
                                    << "" << false << -6006;
    QTest::newRow("empty id") << ""
                              << "" << false << -6006;
}

void TestUsbMSDevice::deleteTrack()
{
    QFETCH(QString, deviceId);
    QFETCH(QString, existing);
    QFETCH(bool, readOnly);
    QFETCH(int, result);
    const QString outside = mHome->filePath(QStringLiteral("outside.txt"));
    QVERIFY(writeFile(outside, "precious"));
    QVERIFY(QDir().mkpath(drive(QStringLiteral("Music"))));
    QVERIFY(QFile::link(mHome->path(), drive(QStringLiteral("Music/link"))));
    if (!existing.isEmpty()) {
        QVERIFY(writeFile(drive(existing), "audio"));
        if (readOnly)
            QVERIFY(QFile::setPermissions(drive(existing), QFileDevice::ReadOwner));
    }

    const QString log = mHome->enableLog();
    TrackCache cache;
    QCOMPARE(cache.openFile(mHome->filePath(QStringLiteral("VARUZ/mcache0"))),
             TrackCache::NewCacheCreated);
    Track track(QStringLiteral("s"), QStringLiteral("B"), QStringLiteral("A"), 1,
                QStringLiteral("/l/s.mp3"), true, true, false, deviceId);
    track.mSizeOnDevice = 100;
    QCOMPARE(cache.addTrack(track), 0);
    const qint64 before = cache.totalSizeOfUploadedFiles();

    QCOMPARE(mDevice->DeleteTrack(cache, track), result);
    QCOMPARE(readAll(outside), QByteArray("precious"));
    if (result == 0) {
        QVERIFY(!track.mOnRemoteDevice);
        QCOMPARE(cache.totalSizeOfUploadedFiles(),
                 before - (deviceId.isEmpty() ? 0 : track.mSizeOnDevice));
        if (!existing.isEmpty())
            QVERIFY(!QFile::exists(drive(existing)));
    } else {
        QVERIFY(track.mOnRemoteDevice);
        QCOMPARE(cache.totalSizeOfUploadedFiles(), before);
        if (!existing.isEmpty())
            QVERIFY(QFile::exists(drive(existing)));
    }
    cache.close();
    mHome->disableLog();
    const QByteArray tag = QTest::currentDataTag();
    QCOMPARE(readAll(log).contains("Device id names no file inside the drive"),
             tag.contains("escaping") || tag.contains("link") || tag.contains("empty"));
}

void TestUsbMSDevice::albumArt()
{
    const QString image = mHome->filePath(QStringLiteral("cover.jpg"));
    QVERIFY(writeFile(image, "jpeg"));
    Track track =
        localTrack(QStringLiteral("A"), QStringLiteral("Vol. 1"), QStringLiteral("s.mp3"));
    track.mDeviceId = QStringLiteral("/Music/A/Vol_ 1/s.mp3");
    const QString art = drive(QStringLiteral("Music/A/Vol_ 1/AlbumArt.jpg"));
    const QString hint = drive(QStringLiteral("VARUZ/refreshhint"));

    mDevice->uploadAlbumArt(track, image);
    QCOMPARE(readAll(art), QByteArray("jpeg"));
    QCOMPARE(readAll(hint), QByteArray("/Music/A/Vol_ 1/s.mp3\r\n"));

    // An existing picture stays, and the hint still names the track.
    QVERIFY(writeFile(image, "other"));
    track.mDeviceId = QStringLiteral("Music/t.mp3");
    mDevice->uploadAlbumArt(track, image);
    QCOMPARE(readAll(art), QByteArray("jpeg"));
    QCOMPARE(readAll(hint), QByteArray("/Music/A/Vol_ 1/s.mp3\r\n/VARUZ/Music/t.mp3\r\n"));

    // No picture placed, no hint line.
    Track other = localTrack(QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("u.mp3"));
    mDevice->uploadAlbumArt(other, mHome->filePath(QStringLiteral("missing.jpg")));
    QVERIFY(!QFile::exists(drive(QStringLiteral("Music/C/D/AlbumArt.jpg"))));
    QCOMPARE(readAll(hint).count("\r\n"), 2);
    QCOMPARE(filesBelow(drive(QStringLiteral("Music"))),
             QStringList{QStringLiteral("A/Vol_ 1/AlbumArt.jpg")});
}

void TestUsbMSDevice::copyFileToDevice()
{
    const QString local = mHome->filePath(QStringLiteral("messages.xml"));
    QVERIFY(writeFile(local, "first"));
    mDevice->CopyFileToDevice(local, QStringLiteral("VARUZ/messages.xml"), false);
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/messages.xml"))), QByteArray("first"));

    QVERIFY(writeFile(local, "second"));
    mDevice->CopyFileToDevice(local, QStringLiteral("VARUZ/messages.xml"), false);
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/messages.xml"))), QByteArray("first"));
    mDevice->CopyFileToDevice(local, QStringLiteral("/VARUZ/messages.xml"), true);
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/messages.xml"))), QByteArray("second"));
    // A replacement that cannot be read leaves the old file in place.
    mDevice->CopyFileToDevice(mHome->filePath(QStringLiteral("none")),
                              QStringLiteral("VARUZ/messages.xml"), true);
    QCOMPARE(readAll(drive(QStringLiteral("VARUZ/messages.xml"))), QByteArray("second"));

    mDevice->CopyFileToDevice(local, QStringLiteral("DCIM/Backup/img:1?.jpg"), false);
    QCOMPARE(readAll(drive(QStringLiteral("DCIM/Backup/img_1_.jpg"))), QByteArray("second"));
    mDevice->CopyFileToDevice(local, QStringLiteral("../../escaped.txt"), false);
    QVERIFY(!QFile::exists(mHome->filePath(QStringLiteral("escaped.txt"))));
    QVERIFY(QFile::exists(drive(QStringLiteral("__/__/escaped.txt"))));
    mDevice->CopyFileToDevice(mHome->filePath(QStringLiteral("none")), QStringLiteral("x"), false);
    QVERIFY(!QFile::exists(drive(QStringLiteral("x"))));
    QVERIFY(!filesBelow(mRoot).join(QLatin1Char(' ')).contains(SafeFileCopy::TemporaryName));
}

void TestUsbMSDevice::sizesAndMount()
{
    quint64 bytes = 1;
    QCOMPARE(mDevice->GetStorageCapacity(bytes), 0);
    QCOMPARE(bytes, quint64(1000));
    QCOMPARE(mDevice->GetFreeStorageSpace(bytes), 0);
    QCOMPARE(bytes, quint64(400));
    QVERIFY(mDevice->IsMounted());
    mSource->unplug(mRoot);
    QVERIFY(!mDevice->IsMounted());
    QCOMPARE(mDevice->GetFreeStorageSpace(bytes), 0);
    QCOMPARE(bytes, quint64(0));
}

QTEST_GUILESS_MAIN(TestUsbMSDevice)
#include "tst_usbmsdevice.moc"
