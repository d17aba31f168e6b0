#include "devices/mountedchecker.h"

#include "devices/volumesource.h"

MountedChecker::MountedChecker(std::shared_ptr<VolumeSource> aVolumes)
    : mVolumes(std::move(aVolumes))
{}

void MountedChecker::startMountedCheck(QString aRootPath)
{
    quint64 total = 0;
    quint64 free = 0;
    const bool answered = mVolumes && mVolumes->diskSpace(aRootPath, total, free);
    Q_EMIT mountedStatusUpdate(answered ? 1 : 0, aRootPath);
    if (answered)
        Q_EMIT diskSpaceUpdate(aRootPath, total, free);
}
