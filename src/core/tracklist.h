#pragma once

#include "core/track.h"

#include <QHash>
#include <QString>

#include <deque>

// Tracks gathered from the cache, the library and the phone, merged by unique
// id. Records never move: at() references stay valid while the list grows.
class TrackList
{
public:
    int addTrack(const Track &aTrack);
    // Adds a copy without merging or counting (lists of failures).
    void append(const Track &aTrack);
    void clear();

    Track &at(int aPosition) { return mTracks[size_t(aPosition)]; }
    const Track &at(int aPosition) const { return mTracks[size_t(aPosition)]; }
    int count() const { return int(mTracks.size()); }
    bool isEmpty() const { return mTracks.empty(); }

    qint32 totalTracksToCopy() const { return mTotalTracksToCopy; }
    qint64 totalLocalSizeToSync() const { return mTotalLocalSizeToSync; }
    qint64 totalSizeOnDevice() const { return mTotalSizeOnDevice; }
    void setTotalSizeOnDevice(qint64 aSize) { mTotalSizeOnDevice = aSize; }

private:
    std::deque<Track> mTracks;
    QHash<QString, int> mIndex;
    qint32 mTotalTracksToCopy = 0;
    qint64 mTotalLocalSizeToSync = 0;
    qint64 mTotalSizeOnDevice = 0;
};
