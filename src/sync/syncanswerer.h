#pragma once

#include <QtGlobal>

class TrackList;

// Answers the questions a run asks while it waits: the window shows dialogs,
// mobrelay-sync reads its options or the terminal. Called on the thread that
// owns the session.
class SyncAnswerer
{
public:
    virtual ~SyncAnswerer() = default;
    // True to delete the listed tracks from the phone.
    virtual bool confirmDelete(const TrackList &aTracks) = 0;
    // The copy-protected tracks that will not be copied.
    virtual void drmTracksFound(const TrackList &aTracks) = 0;
    // The phone lacks aBytes; true to go on and copy what fits.
    virtual bool continueWithoutSpace(qint64 aBytes) = 0;
};
