#include "app/apppaths.h"
#include "app/logger.h"
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
constexpr int TrackNumberLengthWord = 90;
constexpr int IdRecord = 98;
constexpr int IdPositionValue = 106;
constexpr int IdLengthTag = 114;
constexpr int IdLengthValue = 122;
constexpr int FlagsRecord = 126;
constexpr int OneRecordFileSize = 154;

const QByteArray NewCacheBytes = QByteArray::fromHex("e8030000"
                                                     "e9030000 04000000 01000000"
                                                     "ea030000 08000000 0000000000000000"
                                                     "eb030000 04000000 2c000000");

const QByteArray OneRecordBytes = QByteArray::fromHex("e8030000"
                                                      "e9030000 04000000 01000000"
                                                      "ea030000 08000000 e803000000000000"
                                                      "eb030000 04000000 9a000000"
                                                      "00000000"
                                                      "01000000 06000000 610062006300"
                                                      "02000000 00000000"
                                                      "03000000 00000000"
                                                      "04000000 00000000"
                                                      "05000000 04000000 01000000"
                                                      "09000000 08000000 0000000000000000"
                                                      "0a000000 04000000 04000000"
                                                      "07000000 04000000 01000000"
                                                      "08000000 08000000 e803000000000000");

Track makeTrack(const QString &aName, const QString &aDeviceId, qint64 aSize,
                const QString &aPath = QString(), int aNumber = 1)
{
    Track track(aName, QStringLiteral("Album"), QStringLiteral("Artist"), aNumber, aPath, false,
                true, false, aDeviceId);
    track.mSizeOnDevice = aSize;
    return track;
}

Track oneRecordTrack()
{
    Track track(QStringLiteral("abc"), QString(), QString(), 1, QString(), false, true, false,
                QStringLiteral("X1"));
    track.mSizeOnDevice = 1000;
    return track;
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

void patch32(QByteArray &aBytes, qsizetype aOffset, qint32 aValue)
{
    qToLittleEndian(aValue, aBytes.data() + aOffset);
}

void patch64(QByteArray &aBytes, qsizetype aOffset, qint64 aValue)
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
    void cleanup();

    void newCacheIsExactlyTheHeader();
    void oneRecordHasExactBytes();
    void roundTrip_data();
    void roundTrip();
    void truncatedFile_data();
    void truncatedFile();
    void malformedFile_data();
    void malformedFile();
    void unknownTagIsLogged();
    void deletingTwice();
    void reAddingRewritesInPlace();
    void inPlaceUpdateChecksPositions_data();
    void inPlaceUpdateChecksPositions();
    void maxRecordsTakesTotalFromHeader();
    void clearKeepsIdentifiers();
    void openThroughSettings();
    void fullDiskIsReported();
    void randomCorruption();

private:
    QString cachePath() const { return mHome->filePath(QStringLiteral("mcache0")); }
    QString idsPath() const { return cachePath() + QLatin1Char('p'); }
    void writeOneRecordCache();

    std::unique_ptr<TestHome> mHome;
};

void TestTrackCache::init()
{
    mHome = std::make_unique<TestHome>();
    QVERIFY(mHome->isValid());
}

void TestTrackCache::cleanup()
{
    mHome.reset();
}

void TestTrackCache::writeOneRecordCache()
{
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
    Track track = oneRecordTrack();
    QCOMPARE(cache.addTrack(track), 0);
    QCOMPARE(cache.close(), 0);
}

void TestTrackCache::newCacheIsExactlyTheHeader()
{
    {
        TrackCache cache;
        QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
        QCOMPARE(cache.close(), 0);
    }
    QCOMPARE(readAll(cachePath()), NewCacheBytes);
    QVERIFY(QFile::exists(idsPath()));
    QCOMPARE(QFile(idsPath()).size(), 0);

    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    QCOMPARE(cache.readHeader(), 0);
    Track track;
    QCOMPARE(cache.readTrack(track), TrackCache::EndOfFile);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    QCOMPARE(list.count(), 0);
}

void TestTrackCache::oneRecordHasExactBytes()
{
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
    Track track = oneRecordTrack();
    QCOMPARE(cache.addTrack(track), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 1000);
    QVERIFY(track.mInCache);
    QCOMPARE(track.mFlagsFilePosition, FlagsRecord);
    QCOMPARE(track.mPersistentIdRecordPosition, IdRecord);
    cache.close();

    const QByteArray bytes = readAll(cachePath());
    QCOMPARE(bytes.toHex(' '), OneRecordBytes.toHex(' '));
    QCOMPARE(int32At(bytes, 40), bytes.size());
    QCOMPARE(readAll(idsPath()), QByteArray("X\0"
                                            "1\0",
                                            4));
}

void TestTrackCache::roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("album");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<bool>("onPhone");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<qint64>("size");

    QTest::newRow("plain") << u"Song"_qs << u"Album"_qs << u"Band"_qs << u"/m/song.mp3"_qs << 3
                           << u"/Music/Band/Album/song.mp3"_qs << true << false << qint64(4000000);
    QTest::newRow("accents") << u"Déjà vu"_qs << u"Ærø"_qs << u"Sigur Rós"_qs
                             << u"/m/Sigur Rós/Ágætis.mp3"_qs << 7 << u"/Music/Sigur Rós/x.mp3"_qs
                             << true << false << qint64(123);
    QTest::newRow("cjk and emoji")
        << u"夜に駆ける 🎵"_qs << u"アルバム"_qs << u"𝄞 Clef"_qs << u"/m/夜.m4a"_qs << 1
        << u"4294967"_qs << true << false << qint64(1);
    QTest::newRow("converted") << u"AAC"_qs << u"A"_qs << u"B"_qs << u"/m/aac.m4a"_qs << 2
                               << u"/Music/B/A/aac.mp3"_qs << true << true << qint64(777);
    QTest::newRow("convert of mp3 is no conversion")
        << u"Already"_qs << u"A"_qs << u"B"_qs << u"/m/x.MP3"_qs << 2 << u"id"_qs << true << true
        << qint64(9);
    QTest::newRow("not on phone") << u"Gone"_qs << u""_qs << u""_qs << u"/m/g.mp3"_qs << 0
                                  << u"id-9"_qs << false << false << qint64(55);
    QTest::newRow("no device id stores size 0")
        << u"NoId"_qs << u"A"_qs << u"B"_qs << u"/m/n.mp3"_qs << 4 << QString() << true << false
        << qint64(5000);
    QTest::newRow("negative number and long name")
        << QString(5000, QLatin1Char('n')) << u"A"_qs << u"B"_qs << u"/m/l.mp3"_qs << -3 << u"id"_qs
        << true << false << qint64(1);
}

void TestTrackCache::roundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, album);
    QFETCH(QString, artist);
    QFETCH(QString, path);
    QFETCH(int, number);
    QFETCH(QString, deviceId);
    QFETCH(bool, onPhone);
    QFETCH(bool, convert);
    QFETCH(qint64, size);

    Track written(name, album, artist, number, path, true, onPhone, false, deviceId);
    written.mSizeOnDevice = size;
    written.mConvertToMp3 = convert;
    Track second = makeTrack(u"Second"_qs, u"second-id"_qs, 10);
    {
        TrackCache cache;
        QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
        QCOMPARE(cache.addTrack(written), 0);
        QCOMPARE(cache.addTrack(second), 0);
        QCOMPARE(cache.close(), 0);
    }

    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    QCOMPARE(list.count(), 2);
    const Track &read = list.at(0);
    QCOMPARE(read.mTrackName, name);
    QCOMPARE(read.mAlbumName, album);
    QCOMPARE(read.mArtistName, artist);
    QCOMPARE(read.mPath, path);
    QCOMPARE(read.mTrackNumberOnAlbum, number);
    QCOMPARE(read.mDeviceId, deviceId);
    QCOMPARE(read.mOnRemoteDevice, onPhone);
    QCOMPARE(read.mConvertedOnDevice, written.needsConversion());
    QCOMPARE(read.mSizeOnDevice, deviceId.isEmpty() ? 0 : size);
    QVERIFY(read.mInCache);
    QVERIFY(!read.mOnLocalSyncPlaylist);
    QCOMPARE(read.mFlagsFilePosition, written.mFlagsFilePosition);
    QCOMPARE(read.mPersistentIdRecordPosition, written.mPersistentIdRecordPosition);
    QCOMPARE(list.at(1).mDeviceId, u"second-id"_qs);
    const qint64 expectedTotal = (onPhone ? written.sizeOnDeviceOrZero() : 0) + 10;
    QCOMPARE(list.totalSizeOnDevice(), expectedTotal);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), expectedTotal);
}

void TestTrackCache::truncatedFile_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("records");

    QTest::newRow("partial magic") << 2 << int(TrackCache::BadFormat) << 0;
    QTest::newRow("magic only") << 4 << int(TrackCache::EndOfFile) << 0;
    QTest::newRow("inside total size") << 30 << int(TrackCache::ReadFailed) << 0;
    QTest::newRow("integrity missing") << 32 << int(TrackCache::EndOfFile) << 0;
    QTest::newRow("header only") << RecordStart << 0 << 0;
    QTest::newRow("inside the marker") << RecordStart + 2 << int(TrackCache::ReadFailed) << 0;
    QTest::newRow("right after the marker") << RecordStart + 4 << 0 << 1;
    QTest::newRow("inside a length") << NameLengthWord + 2 << int(TrackCache::ReadFailed) << 0;
    QTest::newRow("inside a string") << NameLengthWord + 7 << int(TrackCache::BadFormat) << 0;
    QTest::newRow("after the name") << NameLengthWord + 10 << 0 << 1;
    QTest::newRow("inside the size") << OneRecordFileSize - 3 << int(TrackCache::ReadFailed) << 0;
}

void TestTrackCache::truncatedFile()
{
    QFETCH(int, length);
    QFETCH(int, result);
    QFETCH(int, records);
    writeOneRecordCache();
    writeAll(cachePath(), readAll(cachePath()).left(length));

    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), result);
    QCOMPARE(list.count(), records);
    if (records == 1) {
        const Track &partial = list.at(0);
        QCOMPARE(partial.mTrackName, length > NameLengthWord ? u"abc"_qs : QString());
        QVERIFY(partial.mInCache);
        QVERIFY(!partial.mOnRemoteDevice);
        QVERIFY(partial.mDeviceId.isEmpty());
    }
}

void TestTrackCache::malformedFile_data()
{
    QTest::addColumn<bool>("wide");
    QTest::addColumn<int>("offset");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("result");

    const int bad = TrackCache::BadFormat;
    QTest::newRow("wrong magic") << false << 0 << qint64(999) << bad;
    QTest::newRow("format length 5") << false << 8 << qint64(5) << bad;
    QTest::newRow("unknown header tag") << false << 4 << qint64(1004) << bad;
    QTest::newRow("total length 4") << false << 20 << qint64(4) << bad;
    QTest::newRow("track number length 8") << false << TrackNumberLengthWord << qint64(8) << bad;
    QTest::newRow("odd string length") << false << NameLengthWord << qint64(5) << bad;
    QTest::newRow("negative string length") << false << NameLengthWord << qint64(-2) << bad;
    QTest::newRow("huge string length") << false << NameLengthWord << qint64(0x7ffffffe) << bad;
    QTest::newRow("tag 6 in a record") << false << IdLengthTag << qint64(6) << bad;
    QTest::newRow("odd id length") << false << IdLengthValue << qint64(3) << bad;
    QTest::newRow("negative id length") << false << IdLengthValue << qint64(-4) << bad;
    QTest::newRow("id past the end") << false << IdLengthValue << qint64(6) << bad;
    QTest::newRow("negative id position") << true << IdPositionValue << qint64(-2) << bad;
    QTest::newRow("id position past the end") << true << IdPositionValue << qint64(1) << bad;
    QTest::newRow("huge id position")
        << true << IdPositionValue << std::numeric_limits<qint64>::max() << bad;
    QTest::newRow("no record marker after the header") << false << RecordStart << qint64(77) << bad;
}

void TestTrackCache::malformedFile()
{
    QFETCH(bool, wide);
    QFETCH(int, offset);
    QFETCH(qint64, value);
    QFETCH(int, result);
    writeOneRecordCache();
    QByteArray bytes = readAll(cachePath());
    if (wide)
        patch64(bytes, offset, value);
    else
        patch32(bytes, offset, qint32(value));
    writeAll(cachePath(), bytes);

    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), result);
    QCOMPARE(list.count(), result == 0 ? 1 : 0);
}

void TestTrackCache::unknownTagIsLogged()
{
    writeOneRecordCache();
    QByteArray bytes = readAll(cachePath());
    patch32(bytes, IdLengthTag, 6);
    writeAll(cachePath(), bytes);

    const QString logPath = mHome->enableLog();
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    Track track;
    QCOMPARE(cache.readHeader(), 0);
    QCOMPARE(cache.readTrack(track), TrackCache::BadFormat);
    QVERIFY(track.mTrackName.isEmpty());
    mHome->disableLog();
    const QByteArray log = readAll(logPath);
    QVERIFY2(log.contains("    Error at cache file pos:  = 118\r\n"), log.constData());
    QVERIFY(log.contains("Returns: -6004\r\n"));
}

void TestTrackCache::deletingTwice()
{
    {
        TrackCache cache;
        QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
        Track first = makeTrack(u"First"_qs, u"id1"_qs, 500);
        Track second = makeTrack(u"Second"_qs, u"id2"_qs, 300);
        QCOMPARE(cache.addTrack(first), 0);
        QCOMPARE(cache.addTrack(second), 0);
        QCOMPARE(cache.totalSizeOfUploadedFiles(), 800);
    }
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    QCOMPARE(list.count(), 2);
    const qint64 size = QFile(cachePath()).size();
    for (int attempt = 0; attempt < 2; ++attempt) {
        QCOMPARE(cache.removeDeletedTrack(list.at(0)), 0);
        QCOMPARE(cache.totalSizeOfUploadedFiles(), 300);
        const QByteArray bytes = readAll(cachePath());
        QCOMPARE(int32At(bytes, list.at(0).mFlagsFilePosition + 8), 0);
        QCOMPARE(bytes.size(), size);
    }
    QCOMPARE(cache.setTotalSizeOfUploadedFiles(100), 0);
    QCOMPARE(cache.removeDeletedTrack(list.at(1)), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 0);
    cache.close();

    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList reread;
    QCOMPARE(cache.updateTrackList(reread, 5), 0);
    QCOMPARE(reread.count(), 2);
    QVERIFY(!reread.at(0).mOnRemoteDevice);
    QVERIFY(!reread.at(1).mOnRemoteDevice);
    QCOMPARE(reread.totalSizeOnDevice(), 0);
}

void TestTrackCache::reAddingRewritesInPlace()
{
    {
        TrackCache cache;
        QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
        Track track = makeTrack(u"Song"_qs, u"A"_qs, 100, u"/m/s.m4a"_qs);
        track.mConvertToMp3 = true;
        QCOMPARE(cache.addTrack(track), 0);
    }
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    Track &track = list.at(0);
    QVERIFY(track.mConvertedOnDevice);
    QCOMPARE(cache.removeDeletedTrack(track), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 0);

    const QByteArray before = readAll(cachePath());
    track.mDeviceId = u"BB"_qs;
    track.mSizeOnDevice = 250;
    QCOMPARE(cache.addTrack(track), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 250);
    const QByteArray after = readAll(cachePath());
    QCOMPARE(after.size(), before.size());
    QCOMPARE(readAll(idsPath()), QByteArray("A\0B\0B\0", 6));
    cache.close();

    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList reread;
    QCOMPARE(cache.updateTrackList(reread), 0);
    QCOMPARE(reread.count(), 1);
    QCOMPARE(reread.at(0).mDeviceId, u"BB"_qs);
    QVERIFY(reread.at(0).mOnRemoteDevice);
    QVERIFY(reread.at(0).mConvertedOnDevice);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 250);
}

void TestTrackCache::inPlaceUpdateChecksPositions_data()
{
    QTest::addColumn<bool>("remove");
    QTest::addColumn<int>("flagsPosition");
    QTest::addColumn<qint64>("idRecordPosition");

    QTest::newRow("delete: flags past the end") << true << OneRecordFileSize - 4 << qint64(0);
    QTest::newRow("delete: negative flags") << true << -8 << qint64(0);
    QTest::newRow("delete: not a flags record") << true << RecordStart + 4 << qint64(0);
    QTest::newRow("delete: flags at position 0") << true << 0 << qint64(0);
    QTest::newRow("add: flags past the end") << false << OneRecordFileSize - 8 << qint64(IdRecord);
    QTest::newRow("add: not a flags record") << false << IdRecord << qint64(IdRecord);
    QTest::newRow("add: id record past the end") << false << FlagsRecord << qint64(150);
    QTest::newRow("add: not an id record") << false << FlagsRecord << qint64(FlagsRecord);
    QTest::newRow("add: negative id record") << false << FlagsRecord << qint64(-16);
}

void TestTrackCache::inPlaceUpdateChecksPositions()
{
    QFETCH(bool, remove);
    QFETCH(int, flagsPosition);
    QFETCH(qint64, idRecordPosition);
    writeOneRecordCache();
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

void TestTrackCache::maxRecordsTakesTotalFromHeader()
{
    {
        TrackCache cache;
        QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
        for (int i = 0; i < 3; ++i) {
            Track track = makeTrack(QString::number(i), u"id"_qs, 100 * (i + 1));
            QCOMPARE(cache.addTrack(track), 0);
        }
    }
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList partial;
    QCOMPARE(cache.updateTrackList(partial, 2), 0);
    QCOMPARE(partial.count(), 2);
    QCOMPARE(partial.totalSizeOnDevice(), 600);

    TrackList none;
    QCOMPARE(cache.updateTrackList(none, 0), 0);
    QCOMPARE(none.count(), 0);
    QCOMPARE(none.totalSizeOnDevice(), 600);
}

void TestTrackCache::clearKeepsIdentifiers()
{
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
    Track track = makeTrack(u"Song"_qs, u"abc"_qs, 100);
    QCOMPARE(cache.addTrack(track), 0);
    QCOMPARE(cache.clear(), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 0);
    QCOMPARE(readAll(cachePath()), NewCacheBytes);
    QCOMPARE(QFile(idsPath()).size(), 6);

    Track again = makeTrack(u"Other"_qs, u"d"_qs, 7);
    QCOMPARE(cache.addTrack(again), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 7);
    cache.close();
    QCOMPARE(cache.clear(), int(TrackCache::WriteFailed));
    QVERIFY(QFile(cachePath()).size() > 44);
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
    const QString expected = AppPaths::cacheFilePrefix() + QLatin1Char('0');
    QCOMPARE(cache.cacheFileName(), expected);
    cache.close();
    QCOMPARE(readAll(expected), NewCacheBytes);
    QVERIFY(QFile::exists(expected + QLatin1Char('p')));
    QCOMPARE(cache.open(u"phone-1"_qs), 0);
}

void TestTrackCache::fullDiskIsReported()
{
    if (!QFile::exists(u"/dev/full"_qs))
        QSKIP("needs /dev/full to simulate a full disk");
    QVERIFY(QFile::link(u"/dev/full"_qs, cachePath()));
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), int(TrackCache::WriteFailed));
    cache.close();

    QVERIFY(QFile::remove(cachePath()));
    QVERIFY(QFile::remove(idsPath()));
    QVERIFY(QFile::link(u"/dev/full"_qs, idsPath()));
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
            patch32(bytes, word, rng.bounded(2) ? length : int32At(bytes, word) + 1);
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

        // The same file read record by record ends the same way.
        int code = cache.readHeader();
        QVERIFY2(isReadResult(code), context.constData());
        int records = 0;
        Track track;
        while (code == 0 && (code = cache.readTrack(track)) == 0)
            ++records;
        if (code == TrackCache::EndOfFile && records > 0)
            code = 0;
        QVERIFY2(code == result || (code == TrackCache::EndOfFile && result == 0),
                 context.constData());

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
