#pragma once

#include <QString>

// Turns an album's cover picture (JPEG, PNG or BMP) into the small JPEG put
// next to the album's tracks on the phone: at most 300 x 300 pixels, aspect
// ratio kept, transparent areas white.
class AlbumArtImage
{
public:
    static constexpr int MaxSize = 300;

    // home/VARUZ/AlbumArt.jpg
    static QString defaultPath();

    // Any earlier file at aTargetPath is removed first, so a failure never
    // leaves the previous album's picture behind.
    static bool prepare(const QString &aSourcePath, const QString &aTargetPath = defaultPath());
};
