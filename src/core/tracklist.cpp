#include "core/tracklist.h"

#include "core/logger.h"

#include <QFileInfo>

int TrackList::addTrack(const Track &aTrack)
{
    Logger &log = Logger::instance();
    LogScope scope("TrackList::addTrack");
    const QString uniqueId = aTrack.uniqueId();
    log.value("trackUniqueId", uniqueId);

    const auto found = mIndex.constFind(uniqueId);
    if (found == mIndex.cend()) {
        const int position = count();
        mTracks.push_back(aTrack);
        if (aTrack.mOnLocalSyncPlaylist && !aTrack.mOnRemoteDevice)
            ++mTotalTracksToCopy;
        if (aTrack.mOnRemoteDevice)
            mTotalSizeOnDevice += aTrack.sizeOnDeviceOrZero();
        if (aTrack.mOnLocalSyncPlaylist)
            mTotalLocalSizeToSync += aTrack.mLocalFileSize;
        mIndex.insert(uniqueId, position);
        return scope.ret(position);
    }

    const int position = found.value();
    Track &existing = at(position);
    log.text("Track already exists");
    // Replacing a path by the same path changes nothing, so the file system is
    // asked only when the answer matters (or the log wants to tell).
    if ((existing.mPath != aTrack.mPath || log.isOn()) && !QFileInfo::exists(existing.mPath)) {
        log.value("Current file doesn't exist:", existing.mPath);
        log.value("Replacing with new path:", aTrack.mPath);
        existing.mPath = aTrack.mPath;
    }
    if (existing.mDateAdded == 0)
        existing.mDateAdded = aTrack.mDateAdded;
    if (aTrack.mOnRemoteDevice && !existing.mOnRemoteDevice)
        mTotalSizeOnDevice += aTrack.sizeOnDeviceOrZero();
    if (aTrack.mOnLocalSyncPlaylist && !existing.mOnLocalSyncPlaylist) {
        mTotalLocalSizeToSync += aTrack.mLocalFileSize;
        if (!existing.mOnRemoteDevice) {
            log.text("mTotalTracksToCopy++");
            ++mTotalTracksToCopy;
        }
    }
    if (aTrack.mOnRemoteDevice && !existing.mOnRemoteDevice && !existing.mOnLocalSyncPlaylist) {
        log.text("mTotalTracksToCopy--");
        --mTotalTracksToCopy;
    }
    existing.mOnLocalSyncPlaylist |= aTrack.mOnLocalSyncPlaylist;
    existing.mOnRemoteDevice |= aTrack.mOnRemoteDevice;
    existing.mConvertToMp3 |= aTrack.needsConversion();
    existing.mIsCompilation |= aTrack.mIsCompilation;
    existing.mInCache |= aTrack.mInCache;
    return scope.ret(position);
}

void TrackList::append(const Track &aTrack)
{
    mTracks.push_back(aTrack);
}

void TrackList::clear()
{
    mTracks.clear();
    mIndex.clear();
    mTotalTracksToCopy = 0;
    mTotalLocalSizeToSync = 0;
    mTotalSizeOnDevice = 0;
}
