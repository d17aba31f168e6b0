#pragma once

#include "library/itcollection.h"
#include "library/ittrack.h"

#include <QString>

#include <memory>

class ITUserPlaylist;

class ITPlaylist
{
public:
    enum Kind
    {
        KindUnknown = 0,
        KindLibrary = 1,
        KindUser = 2
    };
    enum SearchField
    {
        SearchAll = 0,
        // Only tracks named exactly aText, in the playlist's order: what a
        // caller comparing names anyway needs, found without a pass over the
        // whole library for each call.
        SearchExactName = 100
    };

    virtual ~ITPlaylist() = default;
    virtual HResult Name(QString &aName) = 0;
    virtual HResult Kind(qint32 &aKind) = 0;
    // Bytes of all tracks.
    virtual HResult Size(double &aSize) = 0;
    virtual HResult Tracks(std::shared_ptr<ITTrackCollection> &aTracks) = 0;
    // Success with a null collection when nothing matches.
    virtual HResult Search(const QString &aText, qint32 aField,
                           std::shared_ptr<ITTrackCollection> &aTracks) = 0;
    virtual HResult QueryUserPlaylist(std::shared_ptr<ITUserPlaylist> &aUserPlaylist) = 0;
};

using ITPlaylistCollection = ITCollection<ITPlaylist>;
