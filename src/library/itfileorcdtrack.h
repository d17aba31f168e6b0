#pragma once

#include "library/itresult.h"

#include <QString>

// The file side of a track: only tracks backed by a local file offer it.
class ITFileOrCDTrack
{
public:
    virtual ~ITFileOrCDTrack() = default;
    virtual HResult Location(QString &aLocation) = 0;
    // Days since 30 December 1899, local time.
    virtual HResult DateAdded(double &aDate) = 0;
};
