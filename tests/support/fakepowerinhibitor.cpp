#include "fakepowerinhibitor.h"

#include "core/logger.h"

bool FakePowerInhibitor::acquire()
{
    ++mAcquireCount;
    if (mFailAcquire) {
        Logger::instance().value("Cannot keep the machine awake", "fake failure");
        return false;
    }
    mHeld = true;
    return true;
}

void FakePowerInhibitor::release()
{
    ++mReleaseCount;
    mHeld = false;
}
