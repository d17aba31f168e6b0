#include "core/track.h"

#include "core/apppaths.h"
#include "core/logger.h"

Track::Track(const QString &aTrackName, const QString &aAlbumName, const QString &aArtistName,
             int aTrackNumberOnAlbum, const QString &aPath, bool aOnLocalSyncPlaylist,
             bool aOnRemoteDevice, bool aInCache, const QString &aDeviceId)
    : mTrackName(aTrackName), mAlbumName(aAlbumName), mArtistName(aArtistName), mPath(aPath),
      mTrackNumberOnAlbum(aTrackNumberOnAlbum), mDeviceId(aDeviceId),
      mOnLocalSyncPlaylist(aOnLocalSyncPlaylist), mOnRemoteDevice(aOnRemoteDevice),
      mInCache(aInCache)
{}

void Track::set(const QString &aTrackName, const QString &aAlbumName, const QString &aArtistName,
                int aTrackNumberOnAlbum, const QString &aPath, bool aOnLocalSyncPlaylist,
                bool aOnRemoteDevice, bool aInCache, const QString &aDeviceId,
                qint32 aFlagsFilePosition, qint64 aSizeOnDevice)
{
    mTrackName = aTrackName;
    mAlbumName = aAlbumName;
    mArtistName = aArtistName;
    mTrackNumberOnAlbum = aTrackNumberOnAlbum;
    mPath = aPath;
    mOnLocalSyncPlaylist = aOnLocalSyncPlaylist;
    mOnRemoteDevice = aOnRemoteDevice;
    mInCache = aInCache;
    mDeviceId = aDeviceId;
    mFlagsFilePosition = aFlagsFilePosition;
    mSizeOnDevice = aSizeOnDevice;
}

static bool endsWithMp3(const QString &aPath)
{
    return aPath.endsWith(QLatin1String("mp3"), Qt::CaseInsensitive);
}

bool Track::needsConversion() const
{
    return mConvertToMp3 && !endsWithMp3(mPath);
}

QString Track::conversionOutputPath()
{
    return AppPaths::dataFile(QStringLiteral("temp.mp3"));
}

QString Track::uploadSourcePath() const
{
    return needsConversion() ? conversionOutputPath() : mPath;
}

QString Track::extension() const
{
    return mPath.size() < 4 ? QString() : mPath.right(3);
}

QString Track::uniqueId() const
{
    QString id = mTrackName + mAlbumName + mArtistName + QString::number(mTrackNumberOnAlbum);
    if (needsConversion() || mConvertedOnDevice || (mPath.size() >= 4 && endsWithMp3(mPath)))
        id += QLatin1String("mp3");
    return id;
}

void Track::dump() const
{
    Logger &log = Logger::instance();
    if (!log.isOn())
        return;
    const auto flag = [&log](const char *aTrue, const char *aFalse, bool aValue) {
        log.text(aValue ? aTrue : aFalse);
    };
    log.text("        Track:");
    log.value("            mTrackName", mTrackName);
    log.value("            mAlbumName", mAlbumName);
    log.value("            mArtistName", mArtistName);
    log.value("            mPath", mPath);
    log.value("            mTrackNumberOnAlbum", mTrackNumberOnAlbum);
    log.value("            mITunesId", mITunesId);
    log.value("            mDeviceId", mDeviceId);
    log.value("            mSizeOnDevice", int(mSizeOnDevice));
    log.value("\t\t\t mDateAdded", int(mDateAdded));
    flag("            mOnLocalSyncPlaylist: true", "            mOnLocalSyncPlaylist: false",
         mOnLocalSyncPlaylist);
    flag("            mOnRemoteDevice: true", "            mOnRemoteDevice: false",
         mOnRemoteDevice);
    flag("            mInCache: true", "            mInCache: false", mInCache);
    log.value("            mFlagsFilePosition", mFlagsFilePosition);
}
