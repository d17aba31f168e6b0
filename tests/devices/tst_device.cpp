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
    explicit BareDevice(const QString &aId = QString()) : mId(aId) {}
    using Device::createPlaylist;
    void CopyFileToDevice(const QString &, const QString &, bool) override {}
    int GetAndroidVersion() override { return -1; }
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
};

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

bool writeFile(const QString &aPath, const QByteArray &aContent)
{
    QFile file(aPath);
    return file.open(QIODevice::WriteOnly) && file.write(aContent) == aContent.size();
}
} // namespace

class TestDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { mHome.reset(); }
    void folderNames_data();
    void folderNames();
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
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
    mTracks.clear();
    const QString ids[] = {u"/Music/Artist/Album/One.mp3"_qs, u"Music/Two.mp3"_qs};
    const QString names[] = {u"One"_qs, u"Caf\u00e9 \u2013 \u00dcber"_qs};
    for (int i = 0; i < 2; ++i)
        mTracks.addTrack(Track(names[i], u"Album"_qs, u"Artist"_qs, 1, u"/music/"_qs + names[i],
                               true, true, false, ids[i]));
}

void TestDevice::folderNames_data()
{
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("libFolder"); // created below home/lib when not empty
    QTest::addColumn<QString>("artistFolder");
    QTest::addColumn<QString>("albumFolder");

    const QString longName(300, QLatin1Char('x'));
    const QString y254(254, QLatin1Char('y'));
    QTest::newRow("replaced") << u"AC/DC a'b\u00e2c\u20acd\u2122e^f"_qs << u"Vol. 2: <>\\*|\"?"_qs
                              << QString() << u"AC_DC a_b_c_d_e_f"_qs << u"Vol_ 2_ _______"_qs;
    QTest::newRow("safe kept") << u"Bj\u00f6rk & Co (Live) [2]"_qs << u"S\u00edgur, #1!"_qs
                               << QString() << u"Bj\u00f6rk & Co (Live) [2]"_qs
                               << u"S\u00edgur, #1!"_qs;
    QTest::newRow("cut after replacement")
        << u"a."_qs + longName << longName << QString() << QString(u"a_"_qs + longName).left(255)
        << longName.left(255);
    QTest::newRow("no half surrogate")
        << y254 + u"\U0001F600"_qs << u"x"_qs << QString() << y254 << u"x"_qs;
    QTest::newRow("podcast") << u"V"_qs << u"Show: 1"_qs << u"pODCASTS/Show"_qs << u"Podcasts"_qs
                             << u"Show_ 1"_qs;
    QTest::newRow("file directly in podcasts is a compilation")
        << u"V"_qs << u"S"_qs << u"Podcasts"_qs << u"Compilation"_qs << u"S"_qs;
}

void TestDevice::folderNames()
{
    QFETCH(QString, artist);
    QFETCH(QString, album);
    QFETCH(QString, libFolder);
    const QString folder = mHome->filePath(u"lib/"_qs + libFolder);
    QVERIFY(QDir().mkpath(folder));
    Track track(u"t"_qs, album, artist, 1, folder + u"/t.mp3"_qs, true, false, false, QString());
    track.mIsCompilation = !libFolder.isEmpty();
    QString artistFolder;
    QString albumFolder;
    BareDevice().GetFolderNamesForTrack(track, artistFolder, albumFolder);
    QTEST(artistFolder, "artistFolder");
    QTEST(albumFolder, "albumFolder");
}

void TestDevice::safeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("playlistFile");

    QTest::newRow("safe") << u"Caf\u00e9 & Co. 'x' ^"_qs << u"Caf\u00e9 & Co. 'x' ^.m3u"_qs;
    QTest::newRow("climbing") << u"../../x"_qs << u".._.._x.m3u"_qs;
    QTest::newRow("fat illegal") << u"a\\b:c*d?e\"f<g>h|i"_qs << u"a_b_c_d_e_f_g_h_i.m3u"_qs;
    QTest::newRow("control") << u"t\th\x01\x1f\x7f"_qs << u"t_h__\x7f.m3u"_qs;
    QTest::newRow("parent") << u".."_qs << u"...m3u"_qs;
    QTest::newRow("long") << QString(300, QLatin1Char('p'))
                          << QString(251, QLatin1Char('p')) + u".m3u"_qs;
}

void TestDevice::safeNames()
{
    QFETCH(QString, name);
    QTEST(Device::playlistFileName(name), "playlistFile");
}

void TestDevice::m3uBytes()
{
    BareDevice device;
    QCOMPARE(device.SplitPath(u"/Music//A/"_qs), QStringList({u"Music"_qs, u"A"_qs}));

    const QString path = mHome->filePath(u"list.m3u"_qs);
    QVERIFY(writeFile(path, QByteArray(5000, 'x')));
    QCOMPARE(device.createPlaylist(makePlaylist({1, 0, 7, -1}), mTracks, false, path), 0);
    QCOMPARE(readAll(path), QByteArray("#EXTM3U\r\n"
                                       "#EXTINF:0,Caf\xc3\xa9 \xe2\x80\x93 \xc3\x9c"
                                       "ber\r\n../VARUZ/Music/Two.mp3\r\n"
                                       "#EXTINF:0,One\r\n../Music/Artist/Album/One.mp3\r\n"));
    QCOMPARE(device.createPlaylist(makePlaylist({}), mTracks, true, path), 0);
    QCOMPARE(readAll(path), QByteArray("#EXTM3U\r\n"));

    const QString unopenable = mHome->filePath(u"no/such/folder/x.m3u"_qs);
    QCOMPARE(device.createPlaylist(makePlaylist({0}), mTracks, false, unopenable), 0);
    QVERIFY(!QFile::exists(unopenable));
}

void TestDevice::identical_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<int>>("entries");
    QTest::addColumn<bool>("identical");

    const QByteArray one = "#EXTINF:0,One\r\n../Music/Artist/Album/One.mp3\r\n";
    const QByteArray two = "#EXTINF:0,Two\r\n../VARUZ/Music/Two.mp3\r\n";
    const QList<int> both{0, 1};
    QTest::newRow("same") << "#EXTM3U\r\n" + one + two << both << true;
    QTest::newRow("titles ignored")
        << QByteArray("#EXTM3U\r\n#EXTINF:12,Else\r\n../Music/Artist/"
                      "Album/One.mp3\r\nx\r\n../VARUZ/Music/Two.mp3\r\n")
        << both << true;
    QTest::newRow("other order") << "#EXTM3U\r\n" + two + one << both << false;
    QTest::newRow("extra lines") << "#EXTM3U\r\n" + one + two + one << both << false;
    QTest::newRow("entry missing") << "#EXTM3U\r\n" + one << both << false;
    QTest::newRow("bare line ends")
        << QByteArray("#EXTM3U\n#EXTINF:0,One\n../Music/Artist/Album/One.mp3\n") << QList<int>{0}
        << false;
    QTest::newRow("path case differs") << "#EXTM3U\r\n" + one.toLower() << QList<int>{0} << false;
    QTest::newRow("no final line end") << "#EXTM3U\r\n" + one.chopped(2) << QList<int>{0} << true;
    QTest::newRow("both empty") << QByteArray("#EXTM3U\r\n") << QList<int>{} << true;
    QTest::newRow("no file") << QByteArray() << QList<int>{} << false;
}

void TestDevice::identical()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<int>, entries);
    const QString path = mHome->filePath(u"old.m3u"_qs);
    QVERIFY(content.isNull() || writeFile(path, content));
    QTEST(BareDevice().identicalPlaylistAlreadyExists(path, makePlaylist(entries), mTracks),
          "identical");
}

void TestDevice::configured()
{
    BareDevice first(u"first-id"_qs);
    BareDevice second(u"second-id"_qs);
    QVERIFY(!first.IsConfigured());
    QCOMPARE(first.configuredOrder(), -1);

    SyncSettings settings;
    settings.load();
    QCOMPARE(settings.setConfig(first.mId, true, 0, {}, {}, u"First"_qs), 0);
    QCOMPARE(settings.setConfig(second.mId, true, 0, {}, {}, u"Second"_qs), 0);
    QCOMPARE(settings.save(), 0);
    QVERIFY(first.IsConfigured() && second.IsConfigured());
    QVERIFY(!BareDevice(u"stranger"_qs).IsConfigured());
    QVERIFY(first.configuredOrder() > 0);
    QVERIFY(second.configuredOrder() > first.configuredOrder());
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
