#include "core/track.h"
#include "core/tracklist.h"
#include "sync/trackcache.h"
#include "testhome.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <limits>
#include <memory>

#include <sys/resource.h>

namespace {

// Magic, format 1, total size, file size; then the record of track "abc" in exactBytes().
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

QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

// Lowers the largest file offset this process may write to, so that a write
// stops part-way as on a full disk; the old limit comes back with the scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 aBytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &mOld);
        rlimit limit = mOld;
        limit.rlim_cur = rlim_t(aBytes);
        mSet = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &mOld); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool isSet() const { return mSet; }

private:
    rlimit mOld{};
    bool mSet = false;
};

} // namespace

class TestTrackCache : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void exactBytes();
    void roundTrip();
    void inPlaceUpdates();
    void damageIsCutOff_data();
    void damageIsCutOff();
    void failedWriteRollsBack_data();
    void failedWriteRollsBack();
    void randomCorruption();

private:
    QString cachePath() const { return mHome->filePath(QStringLiteral("mcache0")); }
    QString idsPath() const { return cachePath() + QLatin1Char('p'); }
    void writeCache(QList<Track> aTracks);
    TrackList readCache();

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
    QList<Track *> tracks;
    for (Track &track : aTracks)
        tracks.append(&track);
    QCOMPARE(cache.addTracks(tracks), 0);
    QCOMPARE(cache.close(), 0);
}

TrackList TestTrackCache::readCache()
{
    TrackCache cache;
    TrackList list;
    [&] {
        QCOMPARE(cache.openFile(cachePath()), 0);
        QCOMPARE(cache.updateTrackList(list), 0);
    }();
    return list;
}

void TestTrackCache::exactBytes()
{
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), TrackCache::NewCacheCreated);
    Track track = makeTrack(u"abc"_qs, u"X1"_qs, 1000, QString(), 1, QString());
    QCOMPARE(cache.addTrack(track), 0);
    QVERIFY(track.mInCache);
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
        const Track &read = list.at(i), &expected = written.at(i);
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

    list.at(0).mDeviceId = u"BB"_qs;
    list.at(0).mSizeOnDevice = 250;
    QCOMPARE(cache.addTrack(list.at(0)), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 550);
    QCOMPARE(QFile(cachePath()).size(), size);
    QCOMPARE(readAll(idsPath()), QByteArray("A\0i\0d\0002\0B\0B\0", 12));
    cache.close();

    const TrackList reread = readCache();
    QCOMPARE(reread.count(), 2);
    QCOMPARE(reread.at(0).mDeviceId, u"BB"_qs);
    QVERIFY(reread.at(0).mOnRemoteDevice);
    QVERIFY(reread.at(0).mConvertedOnDevice);
}

void TestTrackCache::damageIsCutOff_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("opened");
    QTest::addColumn<int>("kept");
    QTest::newRow("unknown tag in the third record") << u"tag"_qs << 0 << 2;
    QTest::newRow("last record cut inside a field") << u"cut"_qs << 0 << 3;
    QTest::newRow("identifier file cut short") << u"ids"_qs << 0 << 2;
    QTest::newRow("bad magic") << u"magic"_qs << int(TrackCache::NewCacheCreated) << 0;
    QTest::newRow("header cut short") << u"header"_qs << int(TrackCache::NewCacheCreated) << 0;
}

// The good records before the damage stay, the rest goes, and appends follow them.
void TestTrackCache::damageIsCutOff()
{
    QFETCH(QString, damage);
    QFETCH(int, opened);
    QFETCH(int, kept);
    QList<Track> tracks;
    for (int i = 0; i < 4; ++i)
        tracks.append(makeTrack(u"T%1"_qs.arg(i), u"id-%1"_qs.arg(i), 100 << i));
    tracks[1].mOnRemoteDevice = false;
    writeCache(tracks);
    const TrackList intact = readCache();
    QByteArray bytes = readAll(cachePath());
    QByteArray ids = readAll(idsPath());
    if (damage == u"tag"_qs)
        patch(bytes, intact.at(2).mFlagsFilePosition, qint32(6));
    if (damage == u"cut"_qs)
        bytes.truncate(intact.at(3).mFlagsFilePosition + 6);
    if (damage == u"ids"_qs)
        ids.truncate(ids.size() - 10);
    if (damage == u"magic"_qs)
        patch(bytes, 0, qint32(999));
    if (damage == u"header"_qs)
        bytes.truncate(30);
    writeAll(cachePath(), bytes);
    writeAll(idsPath(), ids);

    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), opened);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    QCOMPARE(list.count(), kept);
    const QByteArray healed = readAll(cachePath());
    QCOMPARE(healed.size(), kept == 0 ? 44 : intact.at(kept - 1).mFlagsFilePosition + 28);
    QCOMPARE(healed.mid(44), bytes.mid(44, healed.size() - 44));
    qint64 total = 0;
    for (int i = 0; i < kept; ++i)
        total += tracks.at(i).mOnRemoteDevice ? tracks.at(i).mSizeOnDevice : 0;
    QCOMPARE(qFromLittleEndian<qint64>(healed.constData() + 24), total);
    QCOMPARE(int32At(healed, 40), healed.size());
    QCOMPARE(readAll(idsPath()), ids.left(8 * kept));

    Track extra = makeTrack(u"Extra"_qs, u"id-x"_qs, 50);
    QCOMPARE(cache.addTrack(extra), 0);
    cache.close();
    const TrackList reread = readCache();
    QCOMPARE(reread.count(), kept + 1);
    QCOMPARE(reread.at(kept).mTrackName, u"Extra"_qs);
    QCOMPARE(reread.at(kept).mDeviceId, u"id-x"_qs);
}

void TestTrackCache::failedWriteRollsBack_data()
{
    QTest::addColumn<QString>("write");
    QTest::newRow("identifier cut short") << u"ids"_qs;
    QTest::newRow("new record cut short") << u"record"_qs;
    QTest::newRow("in-place rewrite cut short") << u"in place"_qs;
    QTest::newRow("batch of new records cut short") << u"batch"_qs;
}

// A write stopped part-way by a full disk is undone and reported.
void TestTrackCache::failedWriteRollsBack()
{
    QFETCH(QString, write);
    writeCache({makeTrack(u"One"_qs, u"id-1"_qs, 100), makeTrack(u"Two"_qs, u"id-2"_qs, 200)});
    TrackCache cache;
    QCOMPARE(cache.openFile(cachePath()), 0);
    TrackList list;
    QCOMPARE(cache.updateTrackList(list), 0);
    QCOMPARE(cache.removeDeletedTrack(list.at(1)), 0);
    const QByteArray bytes = readAll(cachePath());
    const QByteArray ids = readAll(idsPath());
    const bool inPlace = write == u"in place"_qs;
    const bool batch = write == u"batch"_qs;
    Track track = inPlace ? list.at(1) : makeTrack(u"Three"_qs, u"id-3"_qs, 300);
    Track second = makeTrack(u"Four"_qs, u"id-4"_qs, 400);
    const auto add = [&] {
        return batch ? cache.addTracks({&track, &second}) : cache.addTrack(track);
    };
    qint64 limit = ids.size() + 3;
    if (write == u"record"_qs || batch)
        limit = bytes.size() + 20;
    if (inPlace) // only the low byte of the flags gets written
        limit = track.mFlagsFilePosition + 9;
    {
        FileSizeLimit full(limit);
        QVERIFY(full.isSet());
        QCOMPARE(add(), int(TrackCache::WriteFailed));
    }
    QCOMPARE(readAll(cachePath()).toHex(' '), bytes.toHex(' '));
    QCOMPARE(readAll(idsPath()), ids);
    QCOMPARE(track.mInCache, inPlace);
    QVERIFY(!second.mInCache);
    QCOMPARE(cache.totalSizeOfUploadedFiles(), 100);

    QCOMPARE(add(), 0);
    QCOMPARE(cache.totalSizeOfUploadedFiles(),
             100 + track.mSizeOnDevice + (batch ? second.mSizeOnDevice : 0));
    cache.close();
    const TrackList reread = readCache();
    QCOMPARE(reread.count(), (inPlace ? 2 : 3) + (batch ? 1 : 0));
    QCOMPARE(reread.at(reread.count() - 1).mDeviceId, (batch ? second : track).mDeviceId);
    QVERIFY(reread.at(reread.count() - 1).mOnRemoteDevice);
}

void TestTrackCache::randomCorruption()
{
    QList<Track> tracks;
    for (int i = 0; i < 12; ++i) {
        tracks.append(makeTrack(u"Track é %1"_qs.arg(i), u"id-%1"_qs.arg(i), 1000 + i,
                                u"/m/%1.m4a"_qs.arg(i), i));
        tracks.last().mConvertToMp3 = i % 3 == 0;
        tracks.last().mOnRemoteDevice = i % 4 != 1;
    }
    writeCache(tracks);
    const QByteArray base = readAll(cachePath());
    const QByteArray baseIds = readAll(idsPath());
    const QList<qsizetype> words = lengthWords(base);
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
        if (kind == 1 || kind == 4)
            for (int n = rng.bounded(1, 5); n > 0; --n)
                bytes[rng.bounded(int(bytes.size()))] = char(rng.bounded(256));
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
        QVERIFY2(opened == 0 || opened == TrackCache::NewCacheCreated, context.constData());
        TrackList list;
        QVERIFY2(cache.updateTrackList(list) == 0, context.constData());
        // Fresh, cut at the damage, or damage the reader cannot see.
        const qint64 size = QFile(cachePath()).size();
        ++outcomes[opened != 0 ? 0 : size < bytes.size() ? 1 : 2];

        // In-place updates never move the end of the file, whatever they find.
        const QList<int> updated{0, TrackCache::BadFormat};
        for (int i = 0; i < list.count(); ++i)
            QVERIFY2(updated.contains(cache.removeDeletedTrack(list.at(i))), context.constData());
        if (list.count() > 0)
            QVERIFY2(updated.contains(cache.addTrack(list.at(0))), context.constData());
        QCOMPARE(QFile(cachePath()).size(), size);
        cache.close();

        // What was kept reads back whole, with nothing left to cut.
        TrackCache again;
        TrackList reread;
        QVERIFY2(again.openFile(cachePath()) == 0, context.constData());
        QVERIFY2(again.updateTrackList(reread) == 0, context.constData());
        QVERIFY2(reread.count() == list.count(), context.constData());
        QCOMPARE(QFile(cachePath()).size(), size);
    }
    // The damage must reach every kind of outcome, or the loop tests little.
    QVERIFY(outcomes.value(0) > 0);
    QVERIFY(outcomes.value(1) > 0);
    QVERIFY(outcomes.value(2) > 0);
}

QTEST_GUILESS_MAIN(TestTrackCache)
#include "tst_trackcache.moc"
