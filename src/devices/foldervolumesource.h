#pragma once

#include "devices/volumesource.h"

// One folder used as a phone drive (a phone's mount point given by hand, or a
// plain folder for scripts). It counts as mounted while the folder exists; its
// sizes are those of the file system holding it.
class FolderVolumeSource : public VolumeSource
{
public:
    // aName empty: the folder's own name. aFreeBytes at or above 0 is reported
    // in place of the real free space (to rehearse a full phone).
    explicit FolderVolumeSource(const QString &aFolder, const QString &aName = QString(),
                                qint64 aFreeBytes = -1);

    QString rootPath() const { return mRootPath; }
    QString name() const { return mName; }

    QList<VolumeInfo> phoneDrives() override;
    bool diskSpace(const QString &aRootPath, quint64 &aTotalBytes, quint64 &aFreeBytes) override;

private:
    const QString mRootPath;
    const QString mName;
    const qint64 mFreeBytes;
};
