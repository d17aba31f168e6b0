#pragma once

#include <QtGlobal>

// One track of a local playlist: its position in the run's TrackList and the
// library's date added (whole days since 30 December 1899).
struct LocalPlaylistEntry
{
    int mTrack = -1;
    qint64 mDateAdded = 0;
};
