#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <utility>

class Track;
class TrackList;

// The per-phone record, on the PC, of every track put on that phone: a tagged
// little-endian binary file plus a companion file of device identifiers
// (UTF-16LE, appended, never overwritten). Updates are made in place.
class TrackCache
{
public:
    static constexpr int NewCacheCreated = -5001;
    static constexpr int EndOfFile = -5002;
    static constexpr int OpenFailed = -6001;
    static constexpr int WriteFailed = -6002;
    static constexpr int ReadFailed = -6003;
    static constexpr int BadFormat = -6004;

    TrackCache() = default;
    ~TrackCache();
    TrackCache(const TrackCache &) = delete;
    TrackCache &operator=(const TrackCache &) = delete;

    int open(const QString &aDeviceId);
    // Opens the cache at an explicit path (the IDs file is aCachePath + "p").
    int openFile(const QString &aCachePath);
    int close();

    int readHeader();
    int readTrack(Track &aTrack);
    int readAndAddTrack(TrackList &aList);
    int updateTrackList(TrackList &aList, int aMaxRecords = -1);

    int addTrack(Track &aTrack);
    // Records many uploads with one write per file and one header update; on
    // failure none of the new records stays.
    int addTracks(const QList<Track *> &aTracks);
    int removeDeletedTrack(Track &aTrack);

    int setTotalSizeOfUploadedFiles(qint64 aValue);
    int incrementTotalSizeOfUploadedFiles(qint64 aAmount);
    int decrementTotalSizeOfUploadedFiles(qint64 aAmount);
    qint64 totalSizeOfUploadedFiles() const { return mTotalSizeOfUploadedFiles; }

    int writeHeader();
    int writeIntegrityValue();
    int clear();

    QString cacheFileName() const { return mCacheFile.fileName(); }

private:
    int openFiles(const QString &aCachePath);
    int startFresh();
    void resetState();

    // Sequential reads go through an in-memory window over the cache file; the
    // logical position is mReadStart + mReadOffset while the window is active.
    qint64 cachePosition() const;
    bool stopReading();
    bool fillReadBuffer(qsizetype aNeeded);
    int readRaw(char *aDest, qsizetype aCount);
    int readInt32(qint32 &aValue);
    int readIntValue(qint32 &aValue);
    int readInt64Value(qint64 &aValue);
    int readStringValue(QString &aValue);
    int readIdentifier(qint64 aPosition, qint32 aLength, QString &aId);
    int readAndAddTrack(TrackList &aList, Track &aTrack);
    int cutAfterGoodRecords(qint64 aCacheEnd, qint64 aIdsEnd, qint64 aTotal);

    int readFlagsRecord(qint64 aPosition, qint32 &aFlags);
    int checkIdentifierRecord(qint64 aPosition, QByteArray &aRecord);
    int writeAt(qint64 aPosition, const QByteArray &aBytes);
    using Undo = QList<std::pair<qint64, QByteArray>>;
    // A new record for aTrack starting at file position aStart.
    static int newRecord(const Track &aTrack, qint64 aStart, qint64 aIdPosition, qint32 aIdLength,
                         QByteArray &aRecord, qint64 &aFlagsPosition, qint64 &aIdRecordPosition);
    void takeBack(const Undo &aUndo, qint64 aCacheSize, qint64 aIdsSize, qint64 aTotal);
    int writeRecord(const Track &aTrack, qint64 aEnd, qint64 aIdPosition, qint32 aIdLength,
                    Undo &aUndo, qint64 &aFlagsPosition, qint64 &aIdRecordPosition);

    qint64 mTotalSizeOfUploadedFiles = 0;
    qint64 mTotalSizeRecordPosition = 0;
    qint64 mIntegrityRecordPosition = 0;
    QFile mCacheFile;
    QFile mPersistentIdsFile;

    QByteArray mReadBuffer;
    qint64 mReadStart = 0;
    qsizetype mReadOffset = 0;
    bool mReading = false;
    // Set when the disk, not the contents, made a read fail: such a cache is
    // left alone rather than cut.
    bool mReadError = false;
    // End, in the IDs file, of the identifier of the record read last.
    qint64 mLastIdEnd = 0;

    QByteArray mIdsSnapshot;
    bool mUseIdsSnapshot = false;
};
