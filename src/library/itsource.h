#pragma once

#include "library/itplaylist.h"

#include <memory>

class ITSource
{
public:
    enum Kind
    {
        KindUnknown = 0,
        KindLibrary = 1
    };

    virtual ~ITSource() = default;
    virtual HResult Kind(qint32 &aKind) = 0;
    virtual HResult Playlists(std::shared_ptr<ITPlaylistCollection> &aPlaylists) = 0;
};

using ITSourceCollection = ITCollection<ITSource>;
