#include "devices/foldervolumesource.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace {
const QString FallbackName = QStringLiteral("Folder Phone");
}

FolderVolumeSource::FolderVolumeSource(const QString &aFolder, const QString &aName,
                                       qint64 aFreeBytes)
    : mRootPath(QDir::cleanPath(QFileInfo(aFolder).absoluteFilePath())),
      mName(!aName.isEmpty()                             ? aName
            : !QFileInfo(mRootPath).fileName().isEmpty() ? QFileInfo(mRootPath).fileName()
                                                         : FallbackName),
      mFreeBytes(aFreeBytes)
{}

QList<VolumeInfo> FolderVolumeSource::phoneDrives()
{
    VolumeInfo volume;
    if (!diskSpace(mRootPath, volume.mTotalBytes, volume.mFreeBytes))
        return {};
    volume.mRootPath = mRootPath;
    volume.mName = mName;
    volume.mRemovable = true;
    const QStorageInfo storage(mRootPath);
    volume.mLabel = storage.name();
    volume.mDeviceNode = QString::fromLocal8Bit(storage.device());
    return {volume};
}

bool FolderVolumeSource::diskSpace(const QString &aRootPath, quint64 &aTotalBytes,
                                   quint64 &aFreeBytes)
{
    aTotalBytes = 0;
    aFreeBytes = 0;
    if (QDir::cleanPath(aRootPath) != mRootPath || !QFileInfo(mRootPath).isDir())
        return false;
    const QStorageInfo storage(mRootPath);
    if (!storage.isValid())
        return false;
    aTotalBytes = quint64(qMax<qint64>(0, storage.bytesTotal()));
    aFreeBytes =
        mFreeBytes >= 0 ? quint64(mFreeBytes) : quint64(qMax<qint64>(0, storage.bytesAvailable()));
    return true;
}
