#pragma once

#include <QString>

// A camera-roll file unpacked from a backup and where it goes below the phone's "DCIM".
struct BackupPhoto
{
    QString mSourceName;    // the unpacked file
    QString mDestPhotoPath; // e.g. "/100APPLE/IMG_0001.HEIC"
};
