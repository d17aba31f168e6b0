#pragma once

#include <QString>
#include <QtGlobal>

// One piece of music or podcast episode, whether read from the library, the
// track cache or the phone. A plain value: copies copy every field.
class Track
{
public:
    Track() = default;
    Track(const QString &aTrackName, const QString &aAlbumName, const QString &aArtistName,
          int aTrackNumberOnAlbum, const QString &aPath, bool aOnLocalSyncPlaylist,
          bool aOnRemoteDevice, bool aInCache, const QString &aDeviceId);

    // Fills the record as read back from a cache file.
    void set(const QString &aTrackName, const QString &aAlbumName, const QString &aArtistName,
             int aTrackNumberOnAlbum, const QString &aPath, bool aOnLocalSyncPlaylist,
             bool aOnRemoteDevice, bool aInCache, const QString &aDeviceId,
             qint32 aFlagsFilePosition, qint64 aSizeOnDevice);

    qint64 sizeOnDeviceOrZero() const { return mDeviceId.isEmpty() ? 0 : mSizeOnDevice; }
    bool needsConversion() const;
    QString uploadSourcePath() const;
    QString extension() const;
    QString uniqueId() const;
    void dump() const;

    static QString conversionOutputPath();

    QString mTrackName;
    QString mAlbumName;
    QString mArtistName;
    QString mPath;
    qint32 mTrackNumberOnAlbum = 0;
    QString mITunesId;
    QString mDeviceId;
    bool mOnLocalSyncPlaylist = false;
    bool mOnRemoteDevice = false;
    bool mInCache = false;
    qint32 mFlagsFilePosition = 0;
    qint64 mPersistentIdRecordPosition = 0;
    qint64 mSizeOnDevice = 0;
    qint64 mLocalFileSize = 0;
    qint64 mDateAdded = 0;
    bool mConvertToMp3 = false;
    qint32 mConversionBitRate = 192;
    bool mConvertedOnDevice = false;
    bool mIsCompilation = false;
};
