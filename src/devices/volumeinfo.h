#pragma once

#include <QString>
#include <QtGlobal>

// One mounted volume as a volume source reports it.
struct VolumeInfo
{
    QString mRootPath;   // mount point, no trailing separator
    QString mName;       // display name: vendor and model, else label, else "Unknown Device"
    QString mLabel;      // file system label, may be empty
    QString mDeviceNode; // block device, e.g. /dev/sdb1
    quint64 mTotalBytes = 0;
    quint64 mFreeBytes = 0;
    bool mUsb = false;       // the block device sits on the USB bus
    bool mRemovable = false; // the medium is removable (flag in sysfs, or a card slot)

    bool isPhoneDrive() const { return mUsb || mRemovable; }
};
