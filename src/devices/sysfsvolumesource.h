#pragma once

#include "devices/volumesource.h"

// Phone drives among the mounted file systems: a volume counts when its block
// device sits on the USB bus or holds a removable medium. The sysfs root can be
// pointed at a prepared folder.
class SysfsVolumeSource : public VolumeSource
{
public:
    explicit SysfsVolumeSource(const QString &aSysfsRoot = QStringLiteral("/sys"));

    QList<VolumeInfo> phoneDrives() override;
    bool diskSpace(const QString &aRootPath, quint64 &aTotalBytes, quint64 &aFreeBytes) override;

    // Fills the bus, removable flag and display name of a volume from sysfs,
    // starting from its device node and label.
    VolumeInfo describe(const VolumeInfo &aVolume) const;
    // Every mounted, ready file system, not yet described.
    static QList<VolumeInfo> mountedVolumes();

private:
    QString readAttribute(const QString &aPath) const;

    QString mSysfsRoot;
};
