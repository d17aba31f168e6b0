#include "fakephonedevice.h"

FakePhoneDevice::FakePhoneDevice(const QString &aName, const QString &aUniqueId)
    : mName(aName), mUniqueId(aUniqueId)
{}

FakePhoneDevice::~FakePhoneDevice()
{
    if (mDeleted)
        *mDeleted = true;
}

int FakePhoneDevice::GetStorageCapacity(quint64 &aBytes)
{
    aBytes = mCapacityResult == 0 ? mCapacity : 0;
    return mCapacityResult;
}

int FakePhoneDevice::GetFreeStorageSpace(quint64 &aBytes)
{
    aBytes = mFreeResult == 0 ? mFree : 0;
    return mFreeResult;
}
