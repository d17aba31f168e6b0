#include "app/apppaths.h"
#include "settings/syncsettings.h"
#include "sync/track.h"
#include "sync/trackcache.h"
#include "sync/tracklist.h"
#include "testhome.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <limits>
#include <memory>

namespace {

// Layout of a cache holding the single record written by oneRecordTrack().
constexpr int RecordStart = 44;
constexpr int NameLengthWord = 52;
constexpr int IdRecord = 98;
constexpr int IdPositionValue = 106;
constexpr int IdLengthTag = 114;
constexpr int IdLengthValue = 122;
constexpr int FlagsRecord = 126;
constexpr int OneRecordFileSize = 154;

// Magic, format 1, total size, file size; then the record of oneRecordTrack().
const QByteArray NewCacheBytes = QByteArray::fromHex(
    "e8030000 e9030000 04000000 01000000 ea030000 08000000 0000000000000000 eb030000 04000000 "
    "2c000000");
const QByteArray OneRecordBytes = QByteArray::fromHex(
    "e8030000 e9030000 04000000 01000000 ea030000 08000000 e803000000000000 eb030000 04000000 "
    "9a000000 00000000 01000000 06000000 610062006300 02000000 00000000 03000000 00000000 "
    "04000000 00000000 05000000 04000000 01000000 09000000 08000000 0000000000000000 "
    "0a000000 04000000 04000000 07000000 04000000 01000000 08000000 08000000 e803000000000000");

Track makeTrack(const QString &aName, const QString &aDeviceId, qint64 aSize,
                const QString &aPath = QString(), int aNumber = 1,
                const QString &aAlbum = u"Album"_qs)
{
    Track track(aName, aAlbum, aAlbum.isEmpty() ? QString() : u"Artist"_qs, aNumber, aPath, false,
                true, false, aDeviceId);
    track.mSizeOnDevice = aSize;
    return track;
}

Track oneRecordTrack()
{
    return makeTrack(u"abc"_qs, u"X1"_qs, 1000, QString(), 1, QString());
}

QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file rather than truncating it: ext4 flushes a file truncated
// to zero when it is closed, which made many rewrites slow.
void writeAll(const QString &aPath, const QByteArray &aBytes)
{
    QFile::remove(aPath);
    QFile file(aPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(aBytes), aBytes.size());
}

qint32 int32At(const QByteArray &aBytes, qsizetype aOffset)
{
    return qFromLittleEndian<qint32>(aBytes.constData() + aOffset);
}

template <typename T> void patch(QByteArray &aBytes, qsizetype aOffset, T aValue)
{
    qToLittleEndian(aValue, aBytes.data() + aOffset);
}

// Offsets of every length word in a well-formed cache, found by walking its tags.
QList<qsizetype> lengthWords(const QByteArray &aBytes)
{
    QList<qsizetype> words;
    qsizetype pos = 4;
    while (pos + 4 <= aBytes.size()) {
        const qint32 tag = int32At(aBytes, pos);
        pos += 4;
        if (tag == 0)
            continue;
        words.append(pos);
        pos += 4 + int32At(aBytes, pos);
    }
    return words;
}

bool isReadResult(int aCode)
{
    return aCode == 0 || aCode == TrackCache::EndOfFile || aCode == TrackCache::ReadFailed ||
           aCode == TrackCache::BadFormat;
}

} // namespace

class TestTrackCache : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void exactBytes();
    void roundTrip();
    void damagedFile_data();
    void damagedFile();
    void inPlaceUpdates();
    void inPlaceUpdateChecksPositions_data();
    void inPlaceUpdateChecksPositions();
    void openThroughSettings();
    void fullDiskIsReported();
    void randomCorruption();

private:
    QString cachePath() const { return mHome->filePath(QStringLiteral("mcache0")); }
    QString idsPath() const { return cachePath() + QLatin1Char('p'); }
    void writeCache(QList<Track> aTracks);
    // Reads the whole cache, expecting aResult.
    TrackList readCache(int aResult = 0);

    std::unique_ptr<TestHome> mHome;
};

void TestTrackCache::init()
{
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
}

void TestTrackCache::writeCache(QList<Track> aTracks)
{
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
    for (Track &track : aTracks)
        QCOMPARE(cache.addTrack(track), 0);
    QCOMPARE(cache.close(), 0);
}

TrackList TestTrackCache::readCache(int aResult)
{
    TrackCache cache;
    TrackList list;
    [&] {
        QCOMPARE(cache.openFile(cachePath()), 0);
        QCOMPARE(cache.updateTrackList(list), aResult);
    }();
    return list;
}

void TestTrackCache::exactBytes()
{
    writeCache({});
    QCOMPARE(readAll(cachePath()), NewCacheBytes);
    QCOMPARE(QFile(idsPath()).size(), 0);
    QCOMPARE(readCache().count(), 0);

    QFile::remove(cachePath());
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
    Track track = oneRecordTrack();
    QCOMPARE(cache.addTrack(track), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 1000);
    QVERIFY(track.mInCache);
    QCOMPARE(track.mFlagsFilePosition, FlagsRecord);
    QCOMPARE(track.mPersistentIdRecordPosition, IdRecord);
    cache.close();
    QCOMPARE(readAll(cachePath()).toHex(' '), OneRecordBytes.toHex(' '));
    QCOMPARE(readAll(idsPath()), QByteArray("X\0001\0", 4));
}

void TestTrackCache::roundTrip()
{
    QList<Track> written{
        makeTrack(u"夜に駆ける 🎵 Déjà"_qs, u"/Music/Sigur Rós/x.mp3"_qs, 123, u"/m/Rós.mp3"_qs, 7),
        makeTrack(u"Converted"_qs, u"/Music/B/A/aac.mp3"_qs, 777, u"/m/aac.m4a"_qs, 2),
        makeTrack(u"Not on phone"_qs, u"id-9"_qs, 55, u"/m/g.mp3"_qs, 0, QString()),
        makeTrack(u"No id stores size 0"_qs, QString(), 5000, u"/m/n.mp3"_qs, 4),
        makeTrack(QString(5000, u'n'), u"id"_qs, 1, u"/m/l.mp3"_qs, -3)};
    written[1].mConvertToMp3 = true;
    written[2].mOnRemoteDevice = false;
    writeCache(written);

    const TrackList list = readCache();
    QCOMPARE(list.count(), written.size());
    for (int i = 0; i < list.count(); ++i) {
        const Track &read = list.at(i);
        const Track &expected = written.at(i);
        QCOMPARE(read.mTrackName, expected.mTrackName);
        QCOMPARE(read.mAlbumName, expected.mAlbumName);
        QCOMPARE(read.mArtistName, expected.mArtistName);
        QCOMPARE(read.mPath, expected.mPath);
        QCOMPARE(read.mTrackNumberOnAlbum, expected.mTrackNumberOnAlbum);
        QCOMPARE(read.mDeviceId, expected.mDeviceId);
        QCOMPARE(read.mOnRemoteDevice, expected.mOnRemoteDevice);
        QCOMPARE(read.mConvertedOnDevice, i == 1);
        QCOMPARE(read.mSizeOnDevice, expected.sizeOnDeviceOrZero());
    }
    QCOMPARE(list.totalSizeOnDevice(), 123 + 777 + 1);
}

void TestTrackCache::damagedFile_data()
{
    QTest::addColumn<int>("length"); // the file is cut there, or else patched
    QTest::addColumn<int>("offset");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("records");

    const int readFailed = TrackCache::ReadFailed;
    const int bad = TrackCache::BadFormat;
    QTest::newRow("cut in total size") << 30 << 0 << qint64(0) << readFailed << 0;
    QTest::newRow("cut after header") << RecordStart << 0 << qint64(0) << 0 << 0;
    QTest::newRow("cut in the marker") << RecordStart + 2 << 0 << qint64(0) << readFailed << 0;
    QTest::newRow("cut after the marker") << RecordStart + 4 << 0 << qint64(0) << 0 << 1;
    QTest::newRow("cut after the name") << NameLengthWord + 10 << 0 << qint64(0) << 0 << 1;
    QTest::newRow("cut in the size") << OneRecordFileSize - 3 << 0 << qint64(0) << readFailed << 0;
    QTest::newRow("wrong magic") << -1 << 0 << qint64(999) << bad << 0;
    QTest::newRow("huge string length") << -1 << NameLengthWord << qint64(0x7ffffffe) << bad << 0;
    QTest::newRow("tag 6 in a record") << -1 << IdLengthTag << qint64(6) << bad << 0;
    QTest::newRow("id past the end") << -1 << IdLengthValue << qint64(6) << bad << 0;
    QTest::newRow("negative id position") << -1 << IdPositionValue << qint64(-2) << bad << 0;
    QTest::newRow("huge id position")
        << -1 << IdPositionValue << std::numeric_limits<qint64>::max() << bad << 0;
    QTest::newRow("no record marker") << -1 << RecordStart << qint64(77) << bad << 0;
}

// A record cut short is kept only as "not on the phone", so its track is copied again.
void TestTrackCache::damagedFile()
{
    QFETCH(int, length);
    QFETCH(int, offset);
    QFETCH(qint64, value);
    QFETCH(int, result);
    QFETCH(int, records);
    writeCache({oneRecordTrack()});
    QByteArray bytes = readAll(cachePath());
    if (length >= 0)
        bytes.truncate(length);
    else if (offset == IdPositionValue) // the one 64-bit value of a record
        patch(bytes, offset, value);
    else
        patch(bytes, offset, qint32(value));
    writeAll(cachePath(), bytes);

    const TrackList list = readCache(result);
    QCOMPARE(list.count(), records);
    if (records == 1) {
        QVERIFY(!list.at(0).mOnRemoteDevice);
        QVERIFY(list.at(0).mDeviceId.isEmpty());
    }
}

// Deleting (twice) and re-adding rewrite records in place and keep the total right.
void TestTrackCache::inPlaceUpdates()
{
    Track converted = makeTrack(u"First"_qs, u"A"_qs, 500, u"/m/s.m4a"_qs);
    converted.mConvertToMp3 = true;
    writeCache({converted, makeTrack(u"Second"_qs, u"id2"_qs, 300)});
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    const qint64 size = QFile(cachePath()).size();
    for (int attempt = 0; attempt < 2; ++attempt) {
        QCOMPARE(cache.removeDeletedTrack(list.at(0)), 0);
        QCOMPARE(cache.totalSizeOfUploadedFiles(), 300);
        QCOMPARE(int32At(readAll(cachePath()), list.at(0).mFlagsFilePosition + 8) & 1, 0);
    }
    // The total never goes below zero.
    QCOMPARE(cache.setTotalSizeOfUploadedFiles(100), 0);
    QCOMPARE(cache.removeDeletedTrack(list.at(1)), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 0);

    Track &track = list.at(0);
    track.mDeviceId = u"BB"_qs;
    track.mSizeOnDevice = 250;
    QCOMPARE(cache.addTrack(track), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 250);
    QCOMPARE(QFile(cachePath()).size(), size);
    QCOMPARE(readAll(idsPath()), QByteArray("A\0i\0d\0002\0B\0B\0", 12));
    cache.close();

    const TrackList reread = readCache();
    QCOMPARE(reread.count(), 2);
    QCOMPARE(reread.at(0).mDeviceId, u"BB"_qs);
    QVERIFY(reread.at(0).mOnRemoteDevice);
    QVERIFY(reread.at(0).mConvertedOnDevice);
    QVERIFY(!reread.at(1).mOnRemoteDevice);
}

void TestTrackCache::inPlaceUpdateChecksPositions_data()
{
    QTest::addColumn<bool>("remove");
    QTest::addColumn<int>("flagsPosition");
    QTest::addColumn<qint64>("idRecordPosition");

    QTest::newRow("delete: flags past the end") << true << OneRecordFileSize - 4 << qint64(0);
    QTest::newRow("delete: not a flags record") << true << RecordStart + 4 << qint64(0);
    QTest::newRow("add: not a flags record") << false << IdRecord << qint64(IdRecord);
    QTest::newRow("add: not an id record") << false << FlagsRecord << qint64(FlagsRecord);
}

// Positions from a damaged file must not let an update write anywhere else.
void TestTrackCache::inPlaceUpdateChecksPositions()
{
    QFETCH(bool, remove);
    QFETCH(int, flagsPosition);
    QFETCH(qint64, idRecordPosition);
    writeCache({oneRecordTrack()});
    const QByteArray before = readAll(cachePath());

    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    Track track = list.at(0);
    track.mFlagsFilePosition = flagsPosition;
    track.mPersistentIdRecordPosition = idRecordPosition;
    const int result = remove ? cache.removeDeletedTrack(track) : cache.addTrack(track);
    QCOMPARE(result, int(TrackCache::BadFormat));
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 1000);
    cache.close();
    QCOMPARE(readAll(cachePath()), before);
}

void TestTrackCache::openThroughSettings()
{
    TrackCache cache;
    QCOMPARE(cache.open(u"phone-1"_qs), int(SyncSettings::SettingsUnreadable));
    SyncSettings settings;
    settings.load();
    QCOMPARE(settings.setConfig(u"phone-1"_qs, true, 0, {}, {}, u"Phone"_qs), 0);
    QCOMPARE(cache.open(u"phone-2"_qs), int(SyncSettings::DeviceNotConfigured));
    QCOMPARE(cache.open(u"phone-1"_qs), int(TrackCache::NewCacheCreated));
    QCOMPARE(cache.cacheFileName(), AppPaths::cacheFilePrefix() + QLatin1Char('0'));
    cache.close();
    QCOMPARE(cache.open(u"phone-1"_qs), 0);
}

// A failed write is reported and leaves the track out of the cache.
void TestTrackCache::fullDiskIsReported()
{
    if (!QFile::exists(u"/dev/full"_qs))
        QSKIP("needs /dev/full to simulate a full disk");
    QVERIFY(QFile::link(u"/dev/full"_qs, idsPath()));
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), int(TrackCache::NewCacheCreated));
    Track track = oneRecordTrack();
    QCOMPARE(cache.addTrack(track), int(TrackCache::WriteFailed));
    QVERIFY(!track.mInCache);
    cache.close();
    QCOMPARE(readAll(cachePath()), NewCacheBytes);
}

void TestTrackCache::randomCorruption()
{
    {
        TrackCache cache;
        QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
        for (int i = 0; i < 12; ++i) {
            Track track = makeTrack(u"Track é %1"_qs.arg(i), u"id-%1"_qs.arg(i), 1000 + i,
                                    u"/m/%1.m4a"_qs.arg(i), i);
            track.mConvertToMp3 = i % 3 == 0;
            QCOMPARE(cache.addTrack(track), 0);
            if (i % 4 == 1)
                QCOMPARE(cache.removeDeletedTrack(track), 0);
            if (i % 5 == 2) {
                track.mDeviceId = u"again-%1"_qs.arg(i);
                QCOMPARE(cache.addTrack(track), 0);
            }
        }
    }
    const QByteArray base = readAll(cachePath());
    const QByteArray baseIds = readAll(idsPath());
    const QList<qsizetype> words = lengthWords(base);
    QVERIFY(words.size() > 100);
    const qint32 badLengths[] = {0x7fffffff, 0x40000000, -1, std::numeric_limits<qint32>::min(),
                                 3,          8,          4,  1 << 20};

    QHash<int, int> outcomes;
    QRandomGenerator rng(20261206);
    for (int iteration = 0; iteration < 2000; ++iteration) {
        QByteArray bytes = base;
        QByteArray ids = baseIds;
        const int kind = rng.bounded(5);
        if (kind == 0)
            bytes.truncate(rng.bounded(int(bytes.size())));
        if (kind == 1 || kind == 4) {
            for (int n = rng.bounded(1, 5); n > 0; --n)
                bytes[rng.bounded(int(bytes.size()))] = char(rng.bounded(256));
        }
        if (kind == 2 || kind == 4) {
            const qsizetype word = words.at(rng.bounded(int(words.size())));
            const qint32 length = badLengths[rng.bounded(int(std::size(badLengths)))];
            patch(bytes, word, rng.bounded(2) ? length : int32At(bytes, word) + 1);
        }
        if (kind == 3) {
            if (rng.bounded(2))
                ids.truncate(rng.bounded(int(ids.size())));
            else
                ids[rng.bounded(int(ids.size()))] = char(rng.bounded(256));
        }
        writeAll(cachePath(), bytes);
        writeAll(idsPath(), ids);

        const QByteArray context = "iteration " + QByteArray::number(iteration);
        TrackCache cache;
        const int opened = cache.openFile(cachePath());
        QVERIFY2(opened == 0 || (opened == TrackCache::NewCacheCreated && bytes.isEmpty()),
                 context.constData());
        TrackList list;
        const int result = cache.updateTrackList(list);
        ++outcomes[result];
        QVERIFY2(isReadResult(result),
                 QByteArray(context + " gave " + QByteArray::number(result)).constData());

        // In-place updates never move the end of the file, whatever they find.
        const qint64 size = QFile(cachePath()).size();
        for (int i = 0; i < list.count(); ++i) {
            const int removed = cache.removeDeletedTrack(list.at(i));
            QVERIFY2(removed == 0 || removed == TrackCache::BadFormat, context.constData());
        }
        if (list.count() > 0) {
            Track again = list.at(0);
            const int added = cache.addTrack(again);
            QVERIFY2(added == 0 || added == TrackCache::BadFormat, context.constData());
        }
        QCOMPARE(QFile(cachePath()).size(), size);
    }
    // The damage must reach every kind of outcome, or the loop tests little.
    QVERIFY(outcomes.value(0) > 0);
    QVERIFY(outcomes.value(TrackCache::ReadFailed) > 0);
    QVERIFY(outcomes.value(TrackCache::BadFormat) > 0);
}

QTEST_GUILESS_MAIN(TestTrackCache)
#include "tst_trackcache.moc"
