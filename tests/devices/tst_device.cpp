#include "core/localplaylist.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "devices/device.h"
#include "fakephonedevice.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
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
    void folderNames_data();
    void folderNames();
    void safeNames_data();
    void safeNames();
    void m3uBytes();
    void identical_data();
    void identical();

private:
    std::unique_ptr<TestHome> mHome;
    TrackList mTracks;
};

void TestDevice::init()
{
    mHome = std::make_unique<TestHome>();
    mTracks.clear();
    // The third never reached the phone.
    const QString ids[] = {u"/Music/Artist/Album/One.mp3"_qs, u"Music/Two.mp3"_qs, QString()};
    const QString names[] = {u"One"_qs, u"Caf\u00e9 \u2013 \u00dcber"_qs, u"Three"_qs};
    for (int i = 0; i < 3; ++i)
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

    QTest::newRow("replaced") << u"AC/DC a'b\u00e2c\u20acd\u2122e^f"_qs << u"Vol. 2: <>\\*|\"?"_qs
                              << QString() << u"AC_DC a_b_c_d_e_f"_qs << u"Vol_ 2_ _______"_qs;
    QTest::newRow("safe kept") << u"Bj\u00f6rk & Co (Live) [2]"_qs << u"S\u00edgur, #1!"_qs
                               << QString() << u"Bj\u00f6rk & Co (Live) [2]"_qs
                               << u"S\u00edgur, #1!"_qs;
    QTest::newRow("podcast") << u"V"_qs << u"Show: 1"_qs << u"pODCASTS/Show"_qs << u"Podcasts"_qs
                             << u"Show_ 1"_qs;
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
    FakePhoneDevice({}, {}).GetFolderNamesForTrack(track, artistFolder, albumFolder);
    QTEST(artistFolder, "artistFolder");
    QTEST(albumFolder, "albumFolder");
}

void TestDevice::safeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("playlistFile");

    QTest::newRow("safe") << u"Caf\u00e9 & Co. 'x' ^"_qs << u"Caf\u00e9 & Co. 'x' ^.m3u"_qs;
    QTest::newRow("fat illegal") << u"a\\b:c*d?e\"f<g>h|i"_qs << u"a_b_c_d_e_f_g_h_i.m3u"_qs;
    QTest::newRow("control") << u"t\th\x01\x1f\x7f"_qs << u"t_h__\x7f.m3u"_qs;
}

void TestDevice::safeNames()
{
    QFETCH(QString, name);
    QTEST(Device::playlistFileName(name), "playlistFile");
}

void TestDevice::m3uBytes()
{
    FakePhoneDevice device({}, {});
    const QString path = mHome->filePath(u"list.m3u"_qs);
    QVERIFY(writeFile(path, QByteArray(5000, 'x')));
    QCOMPARE(
        device.createPlaylist(LocalPlaylist{u"Mix"_qs, {{1, 0}, {2, 0}, {0, 0}, {7, 0}, {-1, 0}}},
                              mTracks, false, path),
        0);
    QCOMPARE(readAll(path), QByteArray("#EXTM3U\r\n"
                                       "#EXTINF:0,Caf\xc3\xa9 \xe2\x80\x93 \xc3\x9c"
                                       "ber\r\n../VARUZ/Music/Two.mp3\r\n"
                                       "#EXTINF:0,One\r\n../Music/Artist/Album/One.mp3\r\n"));
}

void TestDevice::identical_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("identical");

    const QByteArray one = "#EXTINF:0,One\r\n../Music/Artist/Album/One.mp3\r\n";
    const QByteArray two = "#EXTINF:0,Two\r\n../VARUZ/Music/Two.mp3\r\n";
    QTest::newRow("titles ignored")
        << "#EXTM3U\r\n" + QByteArray(one + two).replace("0,One", "12,Else") << true;
    QTest::newRow("other order") << "#EXTM3U\r\n" + two + one << false;
    QTest::newRow("entry missing") << "#EXTM3U\r\n" + one << false;
    QTest::newRow("no file") << QByteArray() << false;
}

void TestDevice::identical()
{
    QFETCH(QByteArray, content);
    const QString path = mHome->filePath(u"old.m3u"_qs);
    QVERIFY(content.isNull() || writeFile(path, content));
    QTEST(FakePhoneDevice({}, {}).identicalPlaylistAlreadyExists(
              path, LocalPlaylist{u"Mix"_qs, {{0, 0}, {1, 0}}}, mTracks),
          "identical");
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
