#pragma once

#include "library/itartwork.h"
#include "library/itcollection.h"

#include <QString>

#include <memory>

class ITFileOrCDTrack;

// A null QString handed back with a success stands for a null string of the server.
class ITTrack
{
public:
    virtual ~ITTrack() = default;
    virtual HResult Name(QString &aName) = 0;
    virtual HResult Album(QString &aAlbum) = 0;
    virtual HResult Artist(QString &aArtist) = 0;
    virtual HResult Size(qint64 &aSize) = 0;
    virtual HResult Compilation(bool &aCompilation) = 0;
    virtual HResult TrackNumber(qint32 &aNumber) = 0;
    virtual HResult Artwork(std::shared_ptr<ITArtworkCollection> &aArtwork) = 0;
    // NoInterface for tracks that are not local files (streams, missing locations).
    virtual HResult QueryFileTrack(std::shared_ptr<ITFileOrCDTrack> &aFileTrack) = 0;
};

using ITTrackCollection = ITCollection<ITTrack>;
