#pragma once

#include "devices/volumeinfo.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// Where phones seen as USB drives come from. Implementations must be safe to
// call from the mounted-check thread and the GUI thread at the same time.
class VolumeSource
{
public:
    static inline const QString UnknownDevice = QStringLiteral("Unknown Device");

    VolumeSource() = default;
    virtual ~VolumeSource();
    VolumeSource(const VolumeSource &) = delete;
    VolumeSource &operator=(const VolumeSource &) = delete;

    // The mounted volumes that count as phone drives, in a stable order.
    virtual QList<VolumeInfo> phoneDrives() = 0;
    // Total and caller-available bytes of the volume mounted at aRootPath; false
    // when nothing answers there now.
    virtual bool diskSpace(const QString &aRootPath, quint64 &aTotalBytes, quint64 &aFreeBytes) = 0;
    bool isMounted(const QString &aRootPath)
    {
        quint64 total = 0;
        quint64 free = 0;
        return diskSpace(aRootPath, total, free);
    }
};
