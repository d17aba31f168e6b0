#include "fakevolumesource.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

void FakeVolumeSource::plug(const QString &aRootPath, const QString &aName, quint64 aTotalBytes,
                            quint64 aFreeBytes)
{
    const QString root = QDir::cleanPath(aRootPath);
    QMutexLocker locker(&mLock);
    Drive drive;
    drive.mVolume.mRootPath = root;
    drive.mVolume.mName = aName.isEmpty() ? UnknownDevice : aName;
    drive.mVolume.mDeviceNode = QStringLiteral("/dev/fake") + QString::number(mDrives.size());
    drive.mVolume.mTotalBytes = aTotalBytes;
    drive.mVolume.mFreeBytes = aFreeBytes;
    drive.mVolume.mUsb = true;
    drive.mVolume.mRemovable = true;
    mDrives.insert(root, drive);
}

void FakeVolumeSource::unplug(const QString &aRootPath)
{
    QMutexLocker locker(&mLock);
    mDrives.remove(QDir::cleanPath(aRootPath));
}

void FakeVolumeSource::setResponding(const QString &aRootPath, bool aResponding)
{
    QMutexLocker locker(&mLock);
    auto it = mDrives.find(QDir::cleanPath(aRootPath));
    if (it != mDrives.end())
        it->mResponding = aResponding;
}

void FakeVolumeSource::setFreeBytes(const QString &aRootPath, quint64 aFreeBytes)
{
    QMutexLocker locker(&mLock);
    auto it = mDrives.find(QDir::cleanPath(aRootPath));
    if (it != mDrives.end())
        it->mVolume.mFreeBytes = aFreeBytes;
}

void FakeVolumeSource::setTotalBytes(const QString &aRootPath, quint64 aTotalBytes)
{
    QMutexLocker locker(&mLock);
    auto it = mDrives.find(QDir::cleanPath(aRootPath));
    if (it != mDrives.end())
        it->mVolume.mTotalBytes = aTotalBytes;
}

QList<VolumeInfo> FakeVolumeSource::phoneDrives()
{
    QMutexLocker locker(&mLock);
    QList<VolumeInfo> result;
    for (const Drive &drive : std::as_const(mDrives))
        result.append(drive.mVolume);
    return result;
}

bool FakeVolumeSource::diskSpace(const QString &aRootPath, quint64 &aTotalBytes,
                                 quint64 &aFreeBytes)
{
    aTotalBytes = 0;
    aFreeBytes = 0;
    QMutexLocker locker(&mLock);
    const auto it = mDrives.constFind(QDir::cleanPath(aRootPath));
    if (it == mDrives.constEnd() || !it->mResponding || !QFileInfo(it->mVolume.mRootPath).isDir())
        return false;
    aTotalBytes = it->mVolume.mTotalBytes;
    aFreeBytes = it->mVolume.mFreeBytes;
    return true;
}
