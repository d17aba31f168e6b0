#include "spacefaultdevice.h"

int SpaceFaultDevice::GetStorageCapacity(quint64 &aBytes)
{
    aBytes = mCapacity;
    return mCapacityResult;
}

int SpaceFaultDevice::GetFreeStorageSpace(quint64 &aBytes)
{
    aBytes = mFree;
    return mFreeResult;
}
