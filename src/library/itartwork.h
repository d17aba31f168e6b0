#pragma once

#include "library/itcollection.h"

#include <QString>

class ITArtwork
{
public:
    enum Format
    {
        FormatUnknown = 0,
        FormatJpeg = 1,
        FormatPng = 2,
        FormatBmp = 3
    };

    virtual ~ITArtwork() = default;
    virtual HResult Format(qint32 &aFormat) = 0;
    virtual HResult SaveArtworkToFile(const QString &aPath) = 0;
};

using ITArtworkCollection = ITCollection<ITArtwork>;
