#include "sync/trackcache.h"

#include "core/logger.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "settings/syncsettings.h"

#include <QtEndian>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

enum Tag : qint32
{
    TagRecord = 0,
    TagTrackName = 1,
    TagAlbumName = 2,
    TagArtistName = 3,
    TagPath = 4,
    TagTrackNumber = 5,
    TagFlags = 7,
    TagSizeOnDevice = 8,
    TagIdPosition = 9,
    TagIdLength = 10,
    TagMagic = 1000,
    TagFormat = 1001,
    TagTotalSize = 1002,
    TagIntegrity = 1003,
};

constexpr qint32 FlagOnDevice = 1;
constexpr qint32 FlagConverted = 2;

constexpr qint64 IntRecordSize = 12;   // tag, length, 32-bit value
constexpr qint64 Int64RecordSize = 16; // tag, length, 64-bit value
constexpr qsizetype ReadChunk = 64 * 1024;
// Larger identifier files are read record by record instead of held in memory.
constexpr qint64 IdsSnapshotLimit = 64 * 1024 * 1024;

void putInt32(QByteArray &aOut, qint32 aValue)
{
    char bytes[4];
    qToLittleEndian(aValue, bytes);
    aOut.append(bytes, 4);
}

void putInt64(QByteArray &aOut, qint64 aValue)
{
    char bytes[8];
    qToLittleEndian(aValue, bytes);
    aOut.append(bytes, 8);
}

void putIntField(QByteArray &aOut, qint32 aTag, qint32 aValue)
{
    putInt32(aOut, aTag);
    putInt32(aOut, 4);
    putInt32(aOut, aValue);
}

void putInt64Field(QByteArray &aOut, qint32 aTag, qint64 aValue)
{
    putInt32(aOut, aTag);
    putInt32(aOut, 8);
    putInt64(aOut, aValue);
}

QByteArray toUtf16Le(const QString &aText)
{
    QByteArray bytes(aText.size() * 2, Qt::Uninitialized);
    qToLittleEndian<quint16>(aText.utf16(), aText.size(), bytes.data());
    return bytes;
}

QString fromUtf16Le(const char *aData, qsizetype aUnits)
{
    QString text(aUnits, Qt::Uninitialized);
    qFromLittleEndian<quint16>(aData, aUnits, text.data());
    return text;
}

void putStringField(QByteArray &aOut, qint32 aTag, const QString &aText)
{
    const QByteArray bytes = toUtf16Le(aText);
    putInt32(aOut, aTag);
    putInt32(aOut, qint32(bytes.size()));
    aOut.append(bytes);
}

bool isValidStringLength(qint64 aLength)
{
    return aLength >= 0 && aLength % 2 == 0;
}

} // namespace

TrackCache::~TrackCache()
{
    mCacheFile.close();
    mPersistentIdsFile.close();
}

void TrackCache::resetState()
{
    mTotalSizeOfUploadedFiles = 0;
    mTotalSizeRecordPosition = 0;
    mIntegrityRecordPosition = 0;
    mReadBuffer.clear();
    mReadStart = 0;
    mReadOffset = 0;
    mReading = false;
    mReadError = false;
    mLastIdEnd = 0;
    mIdsSnapshot.clear();
    mUseIdsSnapshot = false;
}

int TrackCache::open(const QString &aDeviceId)
{
    LogScope scope("TrackCache::open");
    Logger &log = Logger::instance();
    resetState();

    SyncSettings settings;
    int result = settings.load();
    if (result != 0) {
        log.text("Can't load settings settings");
        return scope.ret(result);
    }
    QString cacheFileName;
    result = settings.getCacheFilename(aDeviceId, cacheFileName);
    if (result != 0) {
        log.text("Can't get cache file name");
        return scope.ret(result);
    }
    log.value("cacheFileName", cacheFileName);
    return scope.ret(openFiles(cacheFileName));
}

int TrackCache::openFile(const QString &aCachePath)
{
    LogScope scope("TrackCache::openFile");
    resetState();
    Logger::instance().value("cacheFileName", aCachePath);
    return scope.ret(openFiles(aCachePath));
}

int TrackCache::openFiles(const QString &aCachePath)
{
    Logger &log = Logger::instance();
    mCacheFile.close();
    mPersistentIdsFile.close();
    mCacheFile.setFileName(aCachePath);
    mPersistentIdsFile.setFileName(aCachePath + QLatin1Char('p'));

    // Our own window does the read buffering; every write is one whole block.
    QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    if (!aCachePath.isEmpty() && mCacheFile.exists()) {
        log.text("Cache file exists");
    } else {
        log.text("Cache file does not exist");
        mode |= QIODevice::Truncate;
    }
    if (aCachePath.isEmpty() || !mCacheFile.open(mode)) {
        log.text("Can't open cache file");
        return OpenFailed;
    }

    log.text("Opening persistent IDs file");
    if (!mPersistentIdsFile.open(QIODevice::ReadWrite | QIODevice::Append |
                                 QIODevice::Unbuffered)) {
        log.text("Can't open persistent IDs file");
        return OpenFailed;
    }

    if (mCacheFile.size() == 0) {
        log.text("New cache file");
        // A header that failed to reach the disk is no new cache.
        const int result = writeHeader();
        return result == 0 ? NewCacheCreated : result;
    }

    mReadError = false;
    const int header = readHeader();
    stopReading();
    if (header == 0)
        return 0;
    if (mReadError) {
        // The disk failed, not the file: keep it for a later run, and closed,
        // so that nothing clears it meanwhile.
        log.text("Can't read cache file");
        mCacheFile.close();
        mPersistentIdsFile.close();
        return ReadFailed;
    }
    log.value("Cache file header damaged, starting a new cache", header);
    return startFresh();
}

// No record can be trusted without its header, nor appended after it.
int TrackCache::startFresh()
{
    if (!mPersistentIdsFile.resize(0) || !mCacheFile.resize(0))
        return WriteFailed;
    const int result = writeHeader();
    return result == 0 ? NewCacheCreated : result;
}

int TrackCache::close()
{
    LogScope scope("TrackCache::close");
    if (mCacheFile.isOpen()) {
        stopReading();
        mCacheFile.flush();
        mCacheFile.close();
    }
    if (mPersistentIdsFile.isOpen()) {
        mPersistentIdsFile.flush();
        mPersistentIdsFile.close();
    }
    resetState();
    return scope.ret(0);
}

qint64 TrackCache::cachePosition() const
{
    return mReading ? mReadStart + mReadOffset : mCacheFile.pos();
}

bool TrackCache::stopReading()
{
    if (!mReading)
        return true;
    const qint64 position = mReadStart + mReadOffset;
    mReading = false;
    mReadBuffer.clear();
    mReadOffset = 0;
    return mCacheFile.seek(position);
}

bool TrackCache::fillReadBuffer(qsizetype aNeeded)
{
    if (!mReading) {
        mReadStart = mCacheFile.pos();
        mReadBuffer.clear();
        mReadOffset = 0;
        mReading = true;
    }
    qsizetype available = mReadBuffer.size() - mReadOffset;
    if (available >= aNeeded)
        return true;
    if (mReadOffset > 0) {
        mReadBuffer.remove(0, mReadOffset);
        mReadStart += mReadOffset;
        mReadOffset = 0;
    }
    while (available < aNeeded) {
        const qsizetype old = mReadBuffer.size();
        const qsizetype want = std::max(aNeeded - available, ReadChunk);
        mReadBuffer.resize(old + want);
        const qint64 got = mCacheFile.read(mReadBuffer.data() + old, want);
        mReadBuffer.resize(old + std::max<qint64>(got, 0));
        if (got < 0)
            mReadError = true;
        if (got <= 0)
            return false;
        available += got;
    }
    return true;
}

int TrackCache::readRaw(char *aDest, qsizetype aCount)
{
    if (!fillReadBuffer(aCount)) {
        const qsizetype available = mReadBuffer.size() - mReadOffset;
        return available == 0 ? EndOfFile : ReadFailed;
    }
    std::copy_n(mReadBuffer.constData() + mReadOffset, aCount, aDest);
    mReadOffset += aCount;
    return 0;
}

int TrackCache::readInt32(qint32 &aValue)
{
    char bytes[4];
    const int result = readRaw(bytes, 4);
    if (result == 0)
        aValue = qFromLittleEndian<qint32>(bytes);
    return result;
}

// The value after a tag is inside a field: running out of file there is a
// failed read, not the end of the cache.
int TrackCache::readIntValue(qint32 &aValue)
{
    char bytes[8];
    if (readRaw(bytes, 8) != 0)
        return ReadFailed;
    if (qFromLittleEndian<qint32>(bytes) != 4)
        return BadFormat;
    aValue = qFromLittleEndian<qint32>(bytes + 4);
    return 0;
}

int TrackCache::readInt64Value(qint64 &aValue)
{
    char length[4];
    if (readRaw(length, 4) != 0)
        return ReadFailed;
    if (qFromLittleEndian<qint32>(length) != 8)
        return BadFormat;
    char bytes[8];
    if (readRaw(bytes, 8) != 0)
        return ReadFailed;
    aValue = qFromLittleEndian<qint64>(bytes);
    return 0;
}

int TrackCache::readStringValue(QString &aValue)
{
    qint32 length = 0;
    if (readInt32(length) != 0)
        return ReadFailed;
    if (!isValidStringLength(length))
        return BadFormat;
    // Check against the file before allocating: a damaged length must not
    // turn into a huge buffer.
    if (mReadBuffer.size() - mReadOffset < length && length > mCacheFile.size() - cachePosition())
        return BadFormat;
    if (!fillReadBuffer(length))
        return ReadFailed;
    aValue = fromUtf16Le(mReadBuffer.constData() + mReadOffset, length / 2);
    mReadOffset += length;
    return 0;
}

int TrackCache::readIdentifier(qint64 aPosition, qint32 aLength, QString &aId)
{
    if (!isValidStringLength(aLength) || aPosition < 0)
        return BadFormat;
    const qint64 size = mUseIdsSnapshot ? mIdsSnapshot.size() : mPersistentIdsFile.size();
    if (aPosition > size || aLength > size - aPosition)
        return BadFormat;
    if (aLength == 0) {
        aId.clear();
        return 0;
    }
    if (mUseIdsSnapshot) {
        aId = fromUtf16Le(mIdsSnapshot.constData() + aPosition, aLength / 2);
        return 0;
    }
    // The identifier lies inside the file: falling short here is the disk's doing.
    const QByteArray bytes =
        mPersistentIdsFile.seek(aPosition) ? mPersistentIdsFile.read(aLength) : QByteArray();
    if (bytes.size() != aLength) {
        mReadError = true;
        return ReadFailed;
    }
    aId = fromUtf16Le(bytes.constData(), aLength / 2);
    return 0;
}

int TrackCache::readHeader()
{
    LogScope scope("TrackCache::readHeader");
    if (!mCacheFile.isOpen())
        return scope.ret(ReadFailed);
    stopReading();
    if (!mCacheFile.seek(0))
        return scope.ret(ReadFailed);

    qint32 tag = 0;
    if (readInt32(tag) != 0 || tag != TagMagic)
        return scope.ret(BadFormat);

    bool seenFormat = false;
    bool seenTotal = false;
    bool seenIntegrity = false;
    for (;;) {
        const int result = readInt32(tag);
        if (result == EndOfFile)
            return scope.ret(seenFormat && seenTotal && seenIntegrity ? 0 : EndOfFile);
        if (result != 0)
            return scope.ret(result);

        int fieldResult = 0;
        switch (tag) {
        case TagRecord:
            mReadOffset -= 4;
            return scope.ret(0);
        case TagFormat: {
            qint32 format = 0;
            fieldResult = readIntValue(format);
            seenFormat = true;
            break;
        }
        case TagTotalSize: {
            const qint64 position = cachePosition();
            qint64 total = 0;
            fieldResult = readInt64Value(total);
            if (fieldResult == 0) {
                mTotalSizeRecordPosition = position;
                mTotalSizeOfUploadedFiles = total;
            }
            seenTotal = true;
            break;
        }
        case TagIntegrity: {
            const qint64 position = cachePosition();
            qint32 integrity = 0;
            fieldResult = readIntValue(integrity);
            if (fieldResult == 0)
                mIntegrityRecordPosition = position;
            seenIntegrity = true;
            break;
        }
        default:
            return scope.ret(BadFormat);
        }
        if (fieldResult != 0)
            return scope.ret(fieldResult);
    }
}

int TrackCache::readTrack(Track &aTrack)
{
    LogScope scope("TrackCache::readTrack");
    Logger &log = Logger::instance();
    if (!mCacheFile.isOpen())
        return scope.ret(ReadFailed);

    qint32 tag = 0;
    int result = readInt32(tag);
    if (result != 0)
        return scope.ret(result);

    QString names[4];
    qint32 trackNumber = 0;
    qint32 idLength = 0;
    qint64 idPosition = 0;
    qint32 flags = 0;
    qint64 flagsPosition = 0;
    qint64 idRecordPosition = 0;
    qint64 sizeOnDevice = 0;

    for (;;) {
        result = readInt32(tag);
        if (result == EndOfFile)
            break;
        if (result != 0)
            return scope.ret(result);
        if (tag == TagRecord) {
            mReadOffset -= 4;
            break;
        }
        const qint64 tagPosition = cachePosition() - 4;
        switch (tag) {
        case TagTrackName:
        case TagAlbumName:
        case TagArtistName:
        case TagPath:
            result = readStringValue(names[tag - TagTrackName]);
            break;
        case TagTrackNumber:
            result = readIntValue(trackNumber);
            break;
        case TagIdLength:
            result = readIntValue(idLength);
            break;
        case TagFlags:
            // Positions are kept in 32 bits by the track record.
            if (tagPosition > std::numeric_limits<qint32>::max())
                return scope.ret(BadFormat);
            flagsPosition = tagPosition;
            result = readIntValue(flags);
            log.value("flagsFilePosition", int(flagsPosition));
            log.value("trackFlags", flags);
            break;
        case TagSizeOnDevice:
            result = readInt64Value(sizeOnDevice);
            break;
        case TagIdPosition:
            idRecordPosition = tagPosition;
            result = readInt64Value(idPosition);
            break;
        default:
            log.value("Error at cache file pos: ", int(cachePosition()));
            return scope.ret(BadFormat);
        }
        if (result != 0)
            return scope.ret(result);
    }

    QString deviceId;
    result = readIdentifier(idPosition, idLength, deviceId);
    if (result != 0)
        return scope.ret(result);

    aTrack.set(names[0], names[1], names[2], trackNumber, names[3], false,
               (flags & FlagOnDevice) != 0, true, deviceId, qint32(flagsPosition), sizeOnDevice);
    aTrack.mPersistentIdRecordPosition = idRecordPosition;
    aTrack.mConvertedOnDevice = (flags & FlagConverted) != 0;
    mLastIdEnd = idPosition + idLength;
    return scope.ret(0);
}

int TrackCache::readAndAddTrack(TrackList &aList)
{
    Track track;
    return readAndAddTrack(aList, track);
}

int TrackCache::readAndAddTrack(TrackList &aList, Track &aTrack)
{
    LogScope scope("TrackCache::readAndAddTrack");
    const int result = readTrack(aTrack);
    if (result == 0)
        aList.addTrack(aTrack);
    return scope.ret(result);
}

int TrackCache::updateTrackList(TrackList &aList, int aMaxRecords)
{
    LogScope scope("TrackCache::updateTrackList");
    mReadError = false;
    int result = readHeader();
    if (result != 0)
        return scope.ret(result);

    const qint64 idsSize = mPersistentIdsFile.size();
    if (idsSize <= IdsSnapshotLimit && mPersistentIdsFile.seek(0)) {
        mIdsSnapshot = mPersistentIdsFile.read(idsSize);
        mUseIdsSnapshot = mIdsSnapshot.size() == idsSize;
    }
    // Where the records read so far end, in both files, and what they hold.
    qint64 goodEnd = cachePosition();
    qint64 goodIdsEnd = 0;
    qint64 goodTotal = 0;
    for (int records = 0; aMaxRecords < 0 || records < aMaxRecords; ++records) {
        Track track;
        result = readAndAddTrack(aList, track);
        if (result != 0)
            break;
        goodEnd = cachePosition();
        goodIdsEnd = std::max(goodIdsEnd, mLastIdEnd);
        if (track.mOnRemoteDevice)
            goodTotal += track.sizeOnDeviceOrZero();
    }
    mUseIdsSnapshot = false;
    mIdsSnapshot = QByteArray();

    if (result == EndOfFile)
        result = 0;
    else if (result != 0 && !mReadError)
        result = cutAfterGoodRecords(goodEnd, goodIdsEnd, goodTotal);
    if (aMaxRecords != -1)
        aList.setTotalSizeOnDevice(mTotalSizeOfUploadedFiles);
    return scope.ret(result);
}

// Records appended after damage would never be read back, so every later run
// would copy their tracks again: keep the good records before the damage and
// make the header agree with them.
int TrackCache::cutAfterGoodRecords(qint64 aCacheEnd, qint64 aIdsEnd, qint64 aTotal)
{
    LogScope scope("TrackCache::cutAfterGoodRecords");
    Logger &log = Logger::instance();
    log.value("Cache file damaged, cutting it at", QString::number(aCacheEnd));
    if (!stopReading() || !mCacheFile.resize(aCacheEnd))
        return scope.ret(WriteFailed);
    if (mPersistentIdsFile.size() > aIdsEnd && !mPersistentIdsFile.resize(aIdsEnd))
        return scope.ret(WriteFailed);
    int result = setTotalSizeOfUploadedFiles(aTotal);
    if (result == 0)
        result = writeIntegrityValue();
    return scope.ret(result);
}

int TrackCache::writeAt(qint64 aPosition, const QByteArray &aBytes)
{
    if (!mCacheFile.seek(aPosition) || mCacheFile.write(aBytes) != aBytes.size())
        return WriteFailed;
    return 0;
}

int TrackCache::readFlagsRecord(qint64 aPosition, qint32 &aFlags)
{
    if (aPosition < 0 || aPosition > mCacheFile.size() - IntRecordSize)
        return BadFormat;
    if (!mCacheFile.seek(aPosition))
        return WriteFailed;
    const QByteArray record = mCacheFile.read(IntRecordSize);
    if (record.size() != IntRecordSize)
        return ReadFailed;
    if (qFromLittleEndian<qint32>(record.constData()) != TagFlags ||
        qFromLittleEndian<qint32>(record.constData() + 4) != 4)
        return BadFormat;
    aFlags = qFromLittleEndian<qint32>(record.constData() + 8);
    return 0;
}

// The identifier location is rewritten as two adjacent records; make sure
// they are really there before overwriting anything.
int TrackCache::checkIdentifierRecord(qint64 aPosition, QByteArray &aRecord)
{
    const qint64 span = Int64RecordSize + IntRecordSize;
    if (aPosition < 0 || aPosition > mCacheFile.size() - span)
        return BadFormat;
    if (!mCacheFile.seek(aPosition))
        return WriteFailed;
    const QByteArray record = mCacheFile.read(span);
    if (record.size() != span)
        return ReadFailed;
    const char *data = record.constData();
    if (qFromLittleEndian<qint32>(data) != TagIdPosition ||
        qFromLittleEndian<qint32>(data + 4) != 8 ||
        qFromLittleEndian<qint32>(data + Int64RecordSize) != TagIdLength ||
        qFromLittleEndian<qint32>(data + Int64RecordSize + 4) != 4)
        return BadFormat;
    aRecord = record;
    return 0;
}

int TrackCache::addTrack(Track &aTrack)
{
    LogScope scope("TrackCache::addTrack");
    if (!mCacheFile.isOpen() || !mPersistentIdsFile.isOpen() || !stopReading())
        return scope.ret(WriteFailed);

    const qint64 cacheSize = mCacheFile.size();
    const qint64 idPosition = mPersistentIdsFile.size();
    const qint64 total = mTotalSizeOfUploadedFiles;
    const QByteArray id = toUtf16Le(aTrack.mDeviceId);
    Undo undo;
    qint64 flagsPosition = 0;
    qint64 idRecordPosition = 0;
    int result = 0;
    if (mPersistentIdsFile.write(id) != id.size() || !mPersistentIdsFile.flush())
        result = WriteFailed;
    if (result == 0)
        result = writeRecord(aTrack, cacheSize, idPosition, qint32(id.size()), undo, flagsPosition,
                             idRecordPosition);
    if (result == 0)
        result = writeIntegrityValue();
    if (result == 0 && aTrack.mOnRemoteDevice)
        result = incrementTotalSizeOfUploadedFiles(aTrack.sizeOnDeviceOrZero());
    if (result == 0 && !mCacheFile.flush())
        result = WriteFailed;

    if (result != 0) {
        takeBack(undo, cacheSize, idPosition, total);
        return scope.ret(result);
    }
    if (!aTrack.mInCache) {
        // The record now exists: a later update or deletion of this same
        // track must find it rather than append a duplicate.
        aTrack.mInCache = true;
        aTrack.mFlagsFilePosition = qint32(flagsPosition);
        aTrack.mPersistentIdRecordPosition = idRecordPosition;
    }
    return scope.ret(0);
}

int TrackCache::addTracks(const QList<Track *> &aTracks)
{
    LogScope scope("TrackCache::addTracks");
    QList<Track *> fresh;
    for (Track *track : aTracks) {
        if (!track->mInCache) {
            fresh.append(track);
            continue;
        }
        const int result = addTrack(*track);
        if (result != 0)
            return scope.ret(result);
    }
    if (fresh.isEmpty())
        return scope.ret(0);
    if (!mCacheFile.isOpen() || !mPersistentIdsFile.isOpen() || !stopReading())
        return scope.ret(WriteFailed);

    const qint64 cacheSize = mCacheFile.size();
    const qint64 idsSize = mPersistentIdsFile.size();
    const qint64 total = mTotalSizeOfUploadedFiles;
    QByteArray ids;
    QByteArray records;
    qint64 added = 0;
    QList<std::pair<qint64, qint64>> positions;
    positions.reserve(fresh.size());
    int result = 0;
    for (const Track *track : std::as_const(fresh)) {
        const QByteArray id = toUtf16Le(track->mDeviceId);
        QByteArray record;
        qint64 flagsPosition = 0;
        qint64 idRecordPosition = 0;
        result = newRecord(*track, cacheSize + records.size(), idsSize + ids.size(),
                           qint32(id.size()), record, flagsPosition, idRecordPosition);
        if (result != 0)
            return scope.ret(result);
        ids += id;
        records += record;
        positions.append({flagsPosition, idRecordPosition});
        if (track->mOnRemoteDevice)
            added += track->sizeOnDeviceOrZero();
    }
    // Same order as one by one: identifiers, records, then the header that vouches for them.
    if (mPersistentIdsFile.write(ids) != ids.size() || !mPersistentIdsFile.flush())
        result = WriteFailed;
    if (result == 0)
        result = writeAt(cacheSize, records);
    if (result == 0)
        result = writeIntegrityValue();
    if (result == 0 && added > 0)
        result = incrementTotalSizeOfUploadedFiles(added);
    if (result == 0 && !mCacheFile.flush())
        result = WriteFailed;
    if (result != 0) {
        takeBack({}, cacheSize, idsSize, total);
        return scope.ret(result);
    }
    for (qsizetype i = 0; i < fresh.size(); ++i) {
        Track &track = *fresh[i];
        track.mInCache = true;
        track.mFlagsFilePosition = qint32(positions[i].first);
        track.mPersistentIdRecordPosition = positions[i].second;
    }
    return scope.ret(0);
}

// A write that a full disk stopped part-way must leave nothing of the
// records behind, or the next run would stop reading there.
void TrackCache::takeBack(const Undo &aUndo, qint64 aCacheSize, qint64 aIdsSize, qint64 aTotal)
{
    Logger::instance().text("Taking the cache record back");
    for (auto it = aUndo.crbegin(); it != aUndo.crend(); ++it)
        writeAt(it->first, it->second);
    if (mCacheFile.size() > aCacheSize)
        mCacheFile.resize(aCacheSize);
    if (mPersistentIdsFile.size() > aIdsSize)
        mPersistentIdsFile.resize(aIdsSize);
    if (mTotalSizeOfUploadedFiles != aTotal)
        setTotalSizeOfUploadedFiles(aTotal);
    writeIntegrityValue();
}

int TrackCache::newRecord(const Track &aTrack, qint64 aStart, qint64 aIdPosition, qint32 aIdLength,
                          QByteArray &aRecord, qint64 &aFlagsPosition, qint64 &aIdRecordPosition)
{
    qint32 flags = aTrack.needsConversion() ? FlagConverted : 0;
    if (aTrack.mOnRemoteDevice)
        flags |= FlagOnDevice;
    putInt32(aRecord, TagRecord);
    putStringField(aRecord, TagTrackName, aTrack.mTrackName);
    putStringField(aRecord, TagAlbumName, aTrack.mAlbumName);
    putStringField(aRecord, TagArtistName, aTrack.mArtistName);
    putStringField(aRecord, TagPath, aTrack.mPath);
    putIntField(aRecord, TagTrackNumber, aTrack.mTrackNumberOnAlbum);
    aIdRecordPosition = aStart + aRecord.size();
    putInt64Field(aRecord, TagIdPosition, aIdPosition);
    putIntField(aRecord, TagIdLength, aIdLength);
    aFlagsPosition = aStart + aRecord.size();
    putIntField(aRecord, TagFlags, flags);
    putInt64Field(aRecord, TagSizeOnDevice, aTrack.sizeOnDeviceOrZero());
    return aFlagsPosition > std::numeric_limits<qint32>::max() ? BadFormat : 0;
}

// Rewrites the track's record in place when the cache has one, else appends
// one at aEnd; aUndo receives the bytes that an in-place rewrite replaced.
int TrackCache::writeRecord(const Track &aTrack, qint64 aEnd, qint64 aIdPosition, qint32 aIdLength,
                            Undo &aUndo, qint64 &aFlagsPosition, qint64 &aIdRecordPosition)
{
    if (!aTrack.mInCache) {
        QByteArray record;
        const int result = newRecord(aTrack, aEnd, aIdPosition, aIdLength, record, aFlagsPosition,
                                     aIdRecordPosition);
        return result != 0 ? result : writeAt(aEnd, record);
    }
    QByteArray location;
    putInt64Field(location, TagIdPosition, aIdPosition);
    putIntField(location, TagIdLength, aIdLength);

    const qint64 remembered = mCacheFile.pos();
    aFlagsPosition = aTrack.mFlagsFilePosition;
    aIdRecordPosition = aTrack.mPersistentIdRecordPosition;
    qint32 oldFlags = 0;
    QByteArray oldLocation;
    int result = readFlagsRecord(aFlagsPosition, oldFlags);
    if (result == 0)
        result = checkIdentifierRecord(aIdRecordPosition, oldLocation);
    if (result != 0)
        return result;
    QByteArray oldFlagsValue;
    putInt32(oldFlagsValue, 4);
    putInt32(oldFlagsValue, oldFlags);
    QByteArray flagsValue;
    putInt32(flagsValue, 4);
    putInt32(flagsValue, oldFlags | FlagOnDevice);

    // The record claims the phone's copy only once it points at its identifier.
    aUndo.append({aIdRecordPosition, oldLocation});
    result = writeAt(aIdRecordPosition, location);
    if (result == 0) {
        aUndo.append({aFlagsPosition + 4, oldFlagsValue});
        result = writeAt(aFlagsPosition + 4, flagsValue);
    }
    if (result == 0 && !mCacheFile.seek(remembered))
        result = WriteFailed;
    return result;
}

int TrackCache::removeDeletedTrack(Track &aTrack)
{
    LogScope scope("TrackCache::removeDeletedTrack");
    Logger &log = Logger::instance();
    if (!mCacheFile.isOpen())
        return scope.ret(WriteFailed);
    const qint64 remembered = cachePosition();
    if (!stopReading())
        return scope.ret(WriteFailed);
    log.value("flagsFilePosition", aTrack.mFlagsFilePosition);

    qint32 flags = 0;
    int result = readFlagsRecord(aTrack.mFlagsFilePosition, flags);
    if (result != 0)
        return scope.ret(result);
    const bool wasOnDevice = (flags & FlagOnDevice) != 0;
    flags &= ~FlagOnDevice;
    const qint64 valuePosition = qint64(aTrack.mFlagsFilePosition) + 4;
    log.value("writing flags:", flags);
    log.value("to position", int(valuePosition));
    QByteArray flagsValue;
    putInt32(flagsValue, 4);
    putInt32(flagsValue, flags);
    result = writeAt(valuePosition, flagsValue);
    if (result != 0)
        return scope.ret(result);
    // A record already marked as off the phone no longer counts in the total.
    if (wasOnDevice)
        result = decrementTotalSizeOfUploadedFiles(aTrack.sizeOnDeviceOrZero());
    if (!mCacheFile.seek(remembered) && result == 0)
        result = WriteFailed;
    return scope.ret(result);
}

int TrackCache::setTotalSizeOfUploadedFiles(qint64 aValue)
{
    LogScope scope("TrackCache::setTotalSizeOfUploadedFiles");
    mTotalSizeOfUploadedFiles = aValue;
    if (mTotalSizeRecordPosition == 0)
        return scope.ret(BadFormat);
    const qint64 remembered = cachePosition();
    if (!mCacheFile.isOpen() || !stopReading())
        return scope.ret(WriteFailed);
    QByteArray value;
    putInt32(value, 8);
    putInt64(value, aValue);
    int result = writeAt(mTotalSizeRecordPosition, value);
    if (result == 0 && !mCacheFile.seek(remembered))
        result = WriteFailed;
    return scope.ret(result);
}

int TrackCache::incrementTotalSizeOfUploadedFiles(qint64 aAmount)
{
    LogScope scope("TrackCache::incrementTotalSizeOfUploadedFiles");
    mTotalSizeOfUploadedFiles += aAmount;
    return scope.ret(setTotalSizeOfUploadedFiles(mTotalSizeOfUploadedFiles));
}

int TrackCache::decrementTotalSizeOfUploadedFiles(qint64 aAmount)
{
    LogScope scope("TrackCache::decrementTotalSizeOfUploadedFiles");
    mTotalSizeOfUploadedFiles = std::max<qint64>(mTotalSizeOfUploadedFiles - aAmount, 0);
    return scope.ret(setTotalSizeOfUploadedFiles(mTotalSizeOfUploadedFiles));
}

int TrackCache::writeHeader()
{
    LogScope scope("TrackCache::writeHeader");
    if (!mCacheFile.isOpen() || !stopReading())
        return scope.ret(WriteFailed);
    QByteArray header;
    putInt32(header, TagMagic);
    putIntField(header, TagFormat, 1);
    putInt32(header, TagTotalSize);
    const qint64 totalSizePosition = header.size();
    putInt32(header, 8);
    putInt64(header, 0);
    putInt32(header, TagIntegrity);
    const qint64 integrityPosition = header.size();
    putInt32(header, 4);
    putInt32(header, 0);
    if (writeAt(0, header) != 0)
        return scope.ret(WriteFailed);
    mIntegrityRecordPosition = integrityPosition;
    // The new header's total is known too, so the cache can be written to
    // without being read back first.
    mTotalSizeRecordPosition = totalSizePosition;
    mTotalSizeOfUploadedFiles = 0;
    int result = writeIntegrityValue();
    if (result == 0 && !mCacheFile.flush())
        result = WriteFailed;
    return scope.ret(result);
}

int TrackCache::writeIntegrityValue()
{
    LogScope scope("TrackCache::writeIntegrityValue");
    if (!mCacheFile.isOpen() || !stopReading())
        return scope.ret(WriteFailed);
    // Position 0 would overwrite the file magic.
    if (mIntegrityRecordPosition == 0)
        return scope.ret(BadFormat);
    QByteArray value;
    putInt32(value, 4);
    putInt32(value, qint32(quint32(mCacheFile.size())));
    return scope.ret(writeAt(mIntegrityRecordPosition, value));
}

int TrackCache::clear()
{
    LogScope scope("TrackCache::clear");
    if (!mCacheFile.isOpen() || !stopReading() || !mCacheFile.resize(0))
        return scope.ret(WriteFailed);
    return scope.ret(writeHeader());
}
