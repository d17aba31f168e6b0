#include "devices/mountedcheckerthread.h"

#include "devices/mountedchecker.h"

MountedCheckerThread::MountedCheckerThread(std::shared_ptr<VolumeSource> aVolumes, QObject *aParent)
    : QThread(aParent), mChecker(std::make_unique<MountedChecker>(std::move(aVolumes)))
{
    mChecker->moveToThread(this);
}

MountedCheckerThread::~MountedCheckerThread()
{
    quit();
    wait();
}

void MountedCheckerThread::run()
{
    exec();
    // Lets the owner's thread delete the checker once this thread has ended.
    mChecker->moveToThread(nullptr);
}
