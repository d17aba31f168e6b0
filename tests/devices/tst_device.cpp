#include "devices/device.h"
#include "library/localplaylist.h"
#include "settings/syncsettings.h"
#include "sync/track.h"
#include "sync/tracklist.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
// The base operations need a concrete device; the transport operations do nothing.
class BareDevice : public Device
{
public:
    explicit BareDevice(const QString &aId = QString(), int aVersion = -1)
        : mId(aId), mVersion(aVersion)
    {}
    using Device::createPlaylist;
    void CopyFileToDevice(const QString &, const QString &, bool) override {}
    int GetAndroidVersion() override { return mVersion; }
    int GetDeviceType() override { return TypeMtp; }
    void PrepareForSync() override {}
    void FinalizeSync() override {}
    bool IsMounted() override { return true; }
    int UploadTrack(Track &) override { return 0; }
    int DeleteTrack(TrackCache &, Track &) override { return 0; }
    QString UniqueDeviceId() override { return mId; }
    QString FriendlyName() override { return mId; }
    int GetStorageCapacity(quint64 &aBytes) override { return int(aBytes = 0); }
    int GetFreeStorageSpace(quint64 &aBytes) override { return int(aBytes = 0); }
    void SetConfigured() override {}
    void createPlaylist(const LocalPlaylist &, const TrackList &, bool) override {}
    void removeOldPlaylists() override {}
    void uploadAlbumArt(const Track &, const QString &) override {}
    void setPcSoftwareVersion(const QString &) override {}

    QString mId;
    int mVersion;
};

Track makeTrack(const QString &aName, const QString &aDeviceId)
{
    Track track(aName, QStringLiteral("Album"), QStringLiteral("Artist"), 1,
                QStringLiteral("/music/") + aName + QStringLiteral(".mp3"), true, true, false,
                aDeviceId);
    return track;
}

LocalPlaylist makePlaylist(const QList<int> &aPositions)
{
    LocalPlaylist playlist;
    playlist.mName = QStringLiteral("Mix");
    for (int position : aPositions)
        playlist.mEntries.append(LocalPlaylistEntry{position, 0});
    return playlist;
}

QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &aPath, const QByteArray &aContent)
{
    QFile file(aPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(aContent), aContent.size());
}
} // namespace

class TestDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void folderNames_data();
    void folderNames();
    void podcastFolder_data();
    void podcastFolder();
    void playlistEntryPath_data();
    void playlistEntryPath();
    void safeNames_data();
    void safeNames();
    void m3uBytes();
    void identical_data();
    void identical();
    void configured();

private:
    std::unique_ptr<TestHome> mHome;
    TrackList mTracks;
};

void TestDevice::init()
{
    // The previous home is gone by now, so HOME is restored before it is set again.
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
    QCOMPARE(QDir::homePath(), mHome->path());
    mTracks.clear();
    mTracks.addTrack(
        makeTrack(QStringLiteral("One"), QStringLiteral("/Music/Artist/Album/One.mp3")));
    mTracks.addTrack(
        makeTrack(QStringLiteral("Caf\u00e9 \u2013 \u00dcber"), QStringLiteral("Music/Two.mp3")));
}

void TestDevice::cleanup()
{
    mHome.reset();
}

void TestDevice::folderNames_data()
{
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");
    QTest::addColumn<bool>("compilation");
    QTest::addColumn<QString>("artistFolder");
    QTest::addColumn<QString>("albumFolder");

    const QString longName = QString(300, QLatin1Char('x'));
    QTest::newRow("slash colon question") << "AC/DC"
                                          << "AC/DC: Live?" << false << "AC_DC"
                                          << "AC_DC_ Live_";
    QTest::newRow("full stop") << "Mr. X"
                               << "Vol. 2" << false << "Mr_ X"
                               << "Vol_ 2";
    QTest::newRow("every replaced character")
        << QStringLiteral("a'b\u00e2c\u20acd\u2122e^f") << "<.>\\:*|/\"" << false << "a_b_c_d_e_f"
        << "_________";
    QTest::newRow("safe names unchanged") << QStringLiteral("Bj\u00f6rk & Friends (Live) [2]")
                                          << QStringLiteral("S\u00edgur R\u00f3s, #1!") << false
                                          << QStringLiteral("Bj\u00f6rk & Friends (Live) [2]")
                                          << QStringLiteral("S\u00edgur R\u00f3s, #1!");
    QTest::newRow("compilation") << "Various"
                                 << "Hits" << true << "Compilation"
                                 << "Hits";
    QTest::newRow("empty") << ""
                           << "" << false << ""
                           << "";
    QTest::newRow("cut after replacement")
        << (QStringLiteral("a.") + longName) << longName << false
        << QString(QStringLiteral("a_") + longName).left(255) << longName.left(255);
    QTest::newRow("no half surrogate pair")
        << (QString(254, QLatin1Char('y')) + QStringLiteral("\U0001F600")) << "x" << false
        << QString(254, QLatin1Char('y')) << "x";
}

void TestDevice::folderNames()
{
    QFETCH(QString, artist);
    QFETCH(QString, album);
    QFETCH(bool, compilation);
    Track track(QStringLiteral("t"), album, artist, 1, mHome->filePath(QStringLiteral("a/b/t.mp3")),
                true, false, false, QString());
    track.mIsCompilation = compilation;
    QString artistFolder;
    QString albumFolder;
    BareDevice().GetFolderNamesForTrack(track, artistFolder, albumFolder);
    QTEST(artistFolder, "artistFolder");
    QTEST(albumFolder, "albumFolder");
}

void TestDevice::podcastFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("artistFolder");

    QTest::newRow("podcast show") << "Podcasts/Show" << true << "Podcasts";
    QTest::newRow("any case") << "pODCASTS/Show" << true << "Podcasts";
    QTest::newRow("file directly inside") << "Podcasts" << true << "Compilation";
    QTest::newRow("missing folder") << "Podcasts/Show" << false << "Compilation";
}

void TestDevice::podcastFolder()
{
    QFETCH(QString, folder);
    QFETCH(bool, create);
    const QString path = mHome->filePath(QStringLiteral("lib/") + folder);
    if (create)
        QVERIFY(QDir().mkpath(path));
    Track track(QStringLiteral("t"), QStringLiteral("Show: One"), QStringLiteral("Host"), 1,
                path + QStringLiteral("/episode.mp3"), true, false, false, QString());
    track.mIsCompilation = true;
    QString artistFolder;
    QString albumFolder;
    BareDevice().GetFolderNamesForTrack(track, artistFolder, albumFolder);
    QTEST(artistFolder, "artistFolder");
    QCOMPARE(albumFolder, QStringLiteral("Show_ One"));
}

void TestDevice::playlistEntryPath_data()
{
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QString>("line");

    QTest::newRow("drive id") << "/Music/A/B/song.mp3"
                              << "../Music/A/B/song.mp3";
    QTest::newRow("relative id") << "Music/a.mp3"
                                 << "../VARUZ/Music/a.mp3";
    QTest::newRow("dot id") << "./a.mp3"
                            << ".../a.mp3";
    QTest::newRow("empty id") << ""
                              << "..";
}

void TestDevice::playlistEntryPath()
{
    QFETCH(QString, deviceId);
    QFETCH(QString, line);
    BareDevice device;
    QCOMPARE(QStringLiteral("..") + device.PlaylistEntryPath(deviceId), line);
    QCOMPARE(device.playlistLine(deviceId), line);
    QCOMPARE(device.SplitPath(QStringLiteral("/Music//A/")), QStringList({u"Music"_qs, u"A"_qs}));
}

void TestDevice::safeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("safe");
    QTest::addColumn<QString>("playlistFile");

    QTest::newRow("already safe") << QStringLiteral("Caf\u00e9 & Co. (Best Of) 'x' ^")
                                  << QStringLiteral("Caf\u00e9 & Co. (Best Of) 'x' ^")
                                  << QStringLiteral("Caf\u00e9 & Co. (Best Of) 'x' ^.m3u");
    QTest::newRow("climbing") << "../../x"
                              << ".._.._x"
                              << ".._.._x.m3u";
    QTest::newRow("folder") << "a/b"
                            << "a_b"
                            << "a_b.m3u";
    QTest::newRow("fat illegal") << "a\\b:c*d?e\"f<g>h|i"
                                 << "a_b_c_d_e_f_g_h_i"
                                 << "a_b_c_d_e_f_g_h_i.m3u";
    QTest::newRow("control characters") << "tab\there\x01\x1f\x7f"
                                        << "tab_here__\x7f"
                                        << "tab_here__\x7f.m3u";
    QTest::newRow("parent") << ".."
                            << "__"
                            << "...m3u";
    QTest::newRow("current") << "."
                             << "_"
                             << "..m3u";
    QTest::newRow("long") << QString(300, QLatin1Char('p')) << QString(300, QLatin1Char('p'))
                          << QString(251, QLatin1Char('p')) + QStringLiteral(".m3u");
}

void TestDevice::safeNames()
{
    QFETCH(QString, name);
    QTEST(Device::fatSafeName(name), "safe");
    QTEST(Device::playlistFileName(name), "playlistFile");
}

void TestDevice::m3uBytes()
{
    const QString path = mHome->filePath(QStringLiteral("list.m3u"));
    writeFile(path, QByteArray(5000, 'x'));
    BareDevice device;
    QCOMPARE(device.createPlaylist(makePlaylist({1, 0, 7, -1, 1}), mTracks, false, path), 0);
    const QByteArray expected = "#EXTM3U\r\n"
                                "#EXTINF:0,Caf\xc3\xa9 \xe2\x80\x93 \xc3\x9c"
                                "ber\r\n"
                                "../VARUZ/Music/Two.mp3\r\n"
                                "#EXTINF:0,One\r\n"
                                "../Music/Artist/Album/One.mp3\r\n"
                                "#EXTINF:0,Caf\xc3\xa9 \xe2\x80\x93 \xc3\x9c"
                                "ber\r\n"
                                "../VARUZ/Music/Two.mp3\r\n";
    QCOMPARE(readAll(path), expected);

    QCOMPARE(device.createPlaylist(makePlaylist({}), mTracks, true, path), 0);
    QCOMPARE(readAll(path), QByteArray("#EXTM3U\r\n"));

    const QString unopenable = mHome->filePath(QStringLiteral("no/such/folder/x.m3u"));
    QCOMPARE(device.createPlaylist(makePlaylist({0}), mTracks, false, unopenable), 0);
    QVERIFY(!QFile::exists(unopenable));
}

void TestDevice::identical_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<int>>("entries");
    QTest::addColumn<bool>("identical");
    QTest::addColumn<QByteArray>("logLine");

    const QByteArray one = "#EXTINF:0,One\r\n../Music/Artist/Album/One.mp3\r\n";
    const QByteArray two = "#EXTINF:0,Two\r\n../VARUZ/Music/Two.mp3\r\n";
    const QByteArray yes = "playlistIsIdentical returns: = true";
    const QByteArray differs = "Playlist is not identical";
    const QByteArray extra = "existing one has extra stuff at the end";
    QTest::newRow("same") << "#EXTM3U\r\n" + one + two << QList<int>{0, 1} << true << yes;
    QTest::newRow("other titles and numbers")
        << QByteArray("#EXTM3U\r\n#EXTINF:12,Else\r\n../Music/Artist/Album/One.mp3\r\n"
                      "garbage\r\n../VARUZ/Music/Two.mp3\r\n")
        << QList<int>{0, 1} << true << yes;
    QTest::newRow("other order") << "#EXTM3U\r\n" + two + one << QList<int>{0, 1} << false
                                 << differs;
    QTest::newRow("extra entry") << "#EXTM3U\r\n" + one + two + one << QList<int>{0, 1} << false
                                 << extra;
    QTest::newRow("entry missing") << "#EXTM3U\r\n" + one << QList<int>{0, 1} << false << differs;
    QTest::newRow("bare line ends")
        << QByteArray("#EXTM3U\n#EXTINF:0,One\n../Music/Artist/Album/One.mp3\n") << QList<int>{0}
        << false << differs;
    QTest::newRow("path case differs")
        << QByteArray("#EXTM3U\r\n#EXTINF:0,One\r\n../music/Artist/Album/One.mp3\r\n")
        << QList<int>{0} << false << differs;
    QTest::newRow("last line without end")
        << "#EXTM3U\r\n" + one.chopped(2) << QList<int>{0} << true << yes;
    QTest::newRow("blank line after") << "#EXTM3U\r\n" + one + "\r\n"
                                      << QList<int>{0} << true << yes;
    QTest::newRow("empty file, empty playlist")
        << QByteArray("#EXTM3U\r\n") << QList<int>{} << true << yes;
    QTest::newRow("empty file, one entry")
        << QByteArray("#EXTM3U\r\n") << QList<int>{0} << false << differs;
    QTest::newRow("entries, empty playlist")
        << "#EXTM3U\r\n" + one << QList<int>{} << false << extra;
    QTest::newRow("no file") << QByteArray() << QList<int>{} << false
                             << QByteArray("Can't open playlist file.");
}

void TestDevice::identical()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<int>, entries);
    QFETCH(QByteArray, logLine);
    const QString log = mHome->enableLog();
    const QString path = mHome->filePath(QStringLiteral("old.m3u"));
    if (!content.isNull())
        writeFile(path, content);
    QTEST(BareDevice().identicalPlaylistAlreadyExists(path, makePlaylist(entries), mTracks),
          "identical");
    mHome->disableLog();
    QVERIFY2(readAll(log).contains(logLine), logLine.constData());
}

void TestDevice::configured()
{
    BareDevice first(QStringLiteral("first-id"));
    BareDevice second(QStringLiteral("second-id"));
    BareDevice stranger(QStringLiteral("stranger"));
    QVERIFY(!first.IsConfigured());
    QCOMPARE(first.configuredOrder(), -1);

    SyncSettings settings;
    settings.load();
    QCOMPARE(settings.setConfig(first.mId, true, 0, {}, {}, QStringLiteral("First")), 0);
    QCOMPARE(settings.setConfig(second.mId, true, 0, {}, {}, QStringLiteral("Second")), 0);
    QCOMPARE(settings.save(), 0);

    QVERIFY(first.IsConfigured());
    QVERIFY(second.IsConfigured());
    QVERIFY(!stranger.IsConfigured());
    QVERIFY(first.configuredOrder() > 0);
    QVERIFY(second.configuredOrder() > first.configuredOrder());
    QCOMPARE(stranger.configuredOrder(), -1);
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
