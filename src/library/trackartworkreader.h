#pragma once

#include "library/librarysnapshot.h"

#include <QList>
#include <QString>

// Reads the pictures embedded in a music file (ID3v2, MP4, FLAC, Ogg).
class TrackArtworkReader
{
public:
    static QList<LibrarySnapshot::Artwork> read(const QString &aPath);
    // JPEG 1, PNG 2, BMP 3, anything else 0, told from the picture's first bytes.
    static qint32 formatOf(const QByteArray &aData, const QString &aMimeType = QString());
};
