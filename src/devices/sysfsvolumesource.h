#pragma once

#include "devices/volumesource.h"

#include <QMutex>
#include <QSet>

// Phone drives among the mounted file systems: a volume counts when its block
// device sits on the USB bus or holds a removable medium. Listing reads only the
// mount table and sysfs, never the mounted file systems themselves, so a hung
// drive cannot block it; only diskSpace touches a mount. Every path can be
// pointed at a prepared file or folder.
class SysfsVolumeSource : public VolumeSource
{
public:
    explicit SysfsVolumeSource(const QString &aSysfsRoot = QStringLiteral("/sys"),
                               const QString &aMountInfo = QStringLiteral("/proc/self/mountinfo"),
                               const QString &aLabelFolder = QStringLiteral("/dev/disk/by-label"));

    QList<VolumeInfo> phoneDrives() override;
    bool diskSpace(const QString &aRootPath, quint64 &aTotalBytes, quint64 &aFreeBytes) override;

    // Fills the bus, removable flag and display name of a volume from sysfs,
    // starting from its device node and label.
    VolumeInfo describe(const VolumeInfo &aVolume) const;
    // Every file system mounted from a block device, not yet described; no
    // sizes (those need the mount).
    QList<VolumeInfo> mountedVolumes() const;

private:
    QString readAttribute(const QString &aPath) const;
    bool firstSight(const VolumeInfo &aVolume, const QString &aBlock) const;

    QString mSysfsRoot;
    QString mMountInfo;
    QString mLabelFolder;
    mutable QMutex mLoggedLock;
    mutable QSet<QString> mLogged;
};
