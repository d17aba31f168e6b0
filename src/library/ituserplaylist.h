#pragma once

#include "library/itresult.h"

class ITUserPlaylist
{
public:
    enum SpecialKind
    {
        SpecialKindNone = 0,
        SpecialKindPurchased = 1,
        SpecialKindPartyShuffle = 2,
        SpecialKindPodcasts = 3,
        SpecialKindFolder = 4,
        SpecialKindMusic = 6,
        SpecialKindMovies = 7,
        SpecialKindTVShows = 8,
        SpecialKindAudiobooks = 9,
        SpecialKindGenius = 11,
        SpecialKindOther = 100
    };

    virtual ~ITUserPlaylist() = default;
    virtual HResult SpecialKind(qint32 &aKind) = 0;
};
