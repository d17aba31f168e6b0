#pragma once

#include "sync/powerinhibitor.h"

// Counts what a run asks of the power inhibitor; can be told to fail.
class FakePowerInhibitor : public PowerInhibitor
{
public:
    bool acquire() override;
    void release() override;
    bool isHeld() const override { return mHeld; }

    void setFailAcquire(bool aFail) { mFailAcquire = aFail; }
    int acquireCount() const { return mAcquireCount; }
    int releaseCount() const { return mReleaseCount; }

private:
    bool mHeld = false;
    bool mFailAcquire = false;
    int mAcquireCount = 0;
    int mReleaseCount = 0;
};
