#include "core/tracklist.h"
#include "testhome.h"

#include <QFile>
#include <QTest>

namespace {
Track libraryTrack(const QString &aPath, bool aConvert = false, qint64 aSize = 1000)
{
    Track t(QStringLiteral("Song"), QStringLiteral("Album"), QStringLiteral("Artist"), 3, aPath,
            true, false, false, QString());
    t.mConvertToMp3 = aConvert;
    t.mLocalFileSize = aSize;
    return t;
}

Track phoneTrack(const QString &aPath, const QString &aDeviceId, qint64 aSize)
{
    Track t(QStringLiteral("Song"), QStringLiteral("Album"), QStringLiteral("Artist"), 3, aPath,
            false, true, true, aDeviceId);
    t.mSizeOnDevice = aSize;
    return t;
}
} // namespace

class TestTrackList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void uniqueId_data();
    void uniqueId();
    void mergesByUniqueId_data();
    void mergesByUniqueId();
    void phoneThenPlaylistCountsOnce();
    void playlistTrackAlreadyOnPhoneIsNotCopied();
    void missingStoredPathIsReplaced();
    void flagsAreOnlySetByMerges();
    void recordsStayPutWhileTheListGrows();
};

void TestTrackList::uniqueId_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<bool>("convertedOnDevice");
    QTest::addColumn<QString>("expected");
    const QString base = QStringLiteral("SongAlbumArtist3");
    QTest::newRow("aac") << "/m/a.m4a" << false << false << base;
    QTest::newRow("MP3 any case") << "/m/a.Mp3" << false << false << base + u"mp3";
    QTest::newRow("aac to convert") << "/m/a.m4a" << true << false << base + u"mp3";
    QTest::newRow("converted on phone") << "/m/a.m4a" << false << true << base + u"mp3";
    QTest::newRow("short path has no extension") << "mp3" << false << false << base;
}

void TestTrackList::uniqueId()
{
    QFETCH(QString, path);
    QFETCH(bool, convert);
    QFETCH(bool, convertedOnDevice);
    QFETCH(QString, expected);
    Track t = libraryTrack(path, convert);
    t.mConvertedOnDevice = convertedOnDevice;
    QCOMPARE(t.uniqueId(), expected);
}

void TestTrackList::mergesByUniqueId_data()
{
    QTest::addColumn<bool>("convert");
    QTest::addColumn<int>("expectedCount");
    QTest::newRow("without conversion mp3 and m4a differ") << false << 2;
    QTest::newRow("with conversion they merge") << true << 1;
}

void TestTrackList::mergesByUniqueId()
{
    QFETCH(bool, convert);
    QFETCH(int, expectedCount);
    TrackList list;
    const int first = list.addTrack(libraryTrack(QStringLiteral("/m/a.mp3"), convert, 10));
    const int second = list.addTrack(libraryTrack(QStringLiteral("/m/a.m4a"), convert, 20));
    QCOMPARE(first, 0);
    QCOMPARE(list.count(), expectedCount);
    QCOMPARE(second, expectedCount - 1);
    QCOMPARE(list.totalTracksToCopy(), expectedCount);
    QCOMPARE(list.totalLocalSizeToSync(), expectedCount == 2 ? 30 : 10);
}

void TestTrackList::phoneThenPlaylistCountsOnce()
{
    TrackList list;
    list.addTrack(phoneTrack(QStringLiteral("/m/a.mp3"), QStringLiteral("/Music/a.mp3"), 500));
    QCOMPARE(list.totalTracksToCopy(), 0);
    QCOMPARE(list.totalSizeOnDevice(), 500);
    const int pos = list.addTrack(libraryTrack(QStringLiteral("/m/a.mp3"), false, 700));
    QCOMPARE(pos, 0);
    QCOMPARE(list.count(), 1);
    QCOMPARE(list.totalTracksToCopy(), 0);
    QCOMPARE(list.totalLocalSizeToSync(), 700);
    QCOMPARE(list.totalSizeOnDevice(), 500);
    list.addTrack(libraryTrack(QStringLiteral("/m/a.mp3"), false, 700));
    QCOMPARE(list.totalLocalSizeToSync(), 700);
    QVERIFY(list.at(0).mOnLocalSyncPlaylist);
    QVERIFY(list.at(0).mOnRemoteDevice);
    // A phone record without an id counts no bytes.
    Track noId = phoneTrack(QStringLiteral("/m/b.mp3"), QString(), 900);
    noId.mTrackNumberOnAlbum = 4;
    list.addTrack(noId);
    QCOMPARE(list.totalSizeOnDevice(), 500);
}

void TestTrackList::playlistTrackAlreadyOnPhoneIsNotCopied()
{
    TrackList list;
    Track both = libraryTrack(QStringLiteral("/m/a.mp3"));
    both.mOnRemoteDevice = true;
    list.addTrack(both);
    QCOMPARE(list.totalTracksToCopy(), 0);

    // A merge of such a track into a record on neither side adds and takes back one.
    TrackList merged;
    Track neither = libraryTrack(QStringLiteral("/m/a.mp3"));
    neither.mOnLocalSyncPlaylist = false;
    merged.addTrack(neither);
    merged.addTrack(both);
    QCOMPARE(merged.totalTracksToCopy(), 0);
    QCOMPARE(merged.totalLocalSizeToSync(), 1000);
}

void TestTrackList::missingStoredPathIsReplaced()
{
    TestHome home;
    const QString existing = home.filePath(QStringLiteral("exists.mp3"));
    QFile file(existing);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    TrackList list;
    list.addTrack(phoneTrack(home.filePath(QStringLiteral("gone.mp3")), QStringLiteral("/x"), 1));
    list.addTrack(libraryTrack(existing));
    QCOMPARE(list.at(0).mPath, existing);

    list.addTrack(libraryTrack(home.filePath(QStringLiteral("elsewhere.mp3"))));
    QCOMPARE(list.at(0).mPath, existing);
}

void TestTrackList::flagsAreOnlySetByMerges()
{
    TrackList list;
    Track first = libraryTrack(QStringLiteral("/m/a.m4a"), true);
    first.mIsCompilation = true;
    first.mDateAdded = 0;
    list.addTrack(first);
    Track second = phoneTrack(QStringLiteral("/m/a.m4a"), QStringLiteral("/id"), 5);
    second.mConvertedOnDevice = true;
    second.mDateAdded = 41000;
    list.addTrack(second);
    QCOMPARE(list.count(), 1);
    const Track &merged = list.at(0);
    QVERIFY(merged.mOnLocalSyncPlaylist && merged.mOnRemoteDevice && merged.mInCache);
    QVERIFY(merged.mIsCompilation && merged.mConvertToMp3);
    QCOMPARE(merged.mDateAdded, 41000);

    Track later = libraryTrack(QStringLiteral("/m/a.m4a"), true);
    later.mOnLocalSyncPlaylist = false;
    later.mDateAdded = 42000;
    list.addTrack(later);
    QVERIFY(list.at(0).mOnLocalSyncPlaylist && list.at(0).mIsCompilation);
    QCOMPARE(list.at(0).mDateAdded, 41000);
}

void TestTrackList::recordsStayPutWhileTheListGrows()
{
    TrackList list;
    list.addTrack(libraryTrack(QStringLiteral("/m/first.mp3")));
    Track &first = list.at(0);
    for (int i = 0; i < 5000; ++i) {
        Track t = libraryTrack(QStringLiteral("/m/t.mp3"));
        t.mTrackNumberOnAlbum = 100 + i;
        list.addTrack(t);
    }
    QCOMPARE(&first, &list.at(0));
    QCOMPARE(list.totalTracksToCopy(), 5001);
}

QTEST_GUILESS_MAIN(TestTrackList)
#include "tst_tracklist.moc"
