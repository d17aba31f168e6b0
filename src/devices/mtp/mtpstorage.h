#pragma once

#include <QString>
#include <QtGlobal>

// One storage area of an opened phone (internal memory, SD card).
struct MtpStorage
{
    QString mId;
    QString mDescription;
    quint64 mCapacity = 0;
    quint64 mFreeBytes = 0;
};
