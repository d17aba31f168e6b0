#include "fakemtprefresher.h"

#include "fakephonedevice.h"

#include <QStringList>

int FakeMtpRefresher::Phone::GetDeviceType()
{
    return Device::TypeMtp;
}

FakeMtpRefresher::Phone *FakeMtpRefresher::makePhone(const QString &aName,
                                                     const QStringList &aUniqueIds)
{
    auto *phone = new Phone;
    phone->setName(aName);
    for (const QString &id : aUniqueIds)
        phone->addDevice(new FakePhoneDevice(aName + QLatin1Char(' ') + id, id));
    return phone;
}

FakePhoneDevice *FakeMtpRefresher::storage(DeviceParent *aPhone, int aIndex)
{
    return static_cast<FakePhoneDevice *>(aPhone->devices().value(aIndex));
}

void FakeMtpRefresher::plug(DeviceParent *aPhone)
{
    mPlugged.append(aPhone);
}

void FakeMtpRefresher::unplug(DeviceParent *aPhone)
{
    if (mPlugged.removeAll(aPhone) > 0) {
        for (Device *device : aPhone->devices())
            delete device;
        delete aPhone;
        return;
    }
    mUnplugged.append(aPhone);
}

void FakeMtpRefresher::start(const QList<DeviceParent *> &aKnownPhones)
{
    ++mStarts;
    if (mActive)
        return;
    mLastKnown = aKnownPhones;
    // As the real one: an enumeration that finds the lock taken ends at once.
    if (mLocked) {
        Q_EMIT enumerationDone();
        return;
    }
    ++mEnumerations;
    mActive = true;
    mLocked = true;
    if (mInstant)
        finish();
}

void FakeMtpRefresher::finish(int aUnableToOpen)
{
    if (!mActive)
        return;
    for (DeviceParent *phone : std::as_const(mUnplugged)) {
        if (mLastKnown.contains(phone))
            mGone.append(phone);
    }
    mUnplugged.clear();
    mAdded += mPlugged;
    mPlugged.clear();
    for (int i = 0; i < aUnableToOpen; ++i)
        Q_EMIT unableToOpenDevice();
    mActive = false;
    mLocked = false;
    Q_EMIT enumerationDone();
}

QList<DeviceParent *> FakeMtpRefresher::takeAdded()
{
    return std::exchange(mAdded, {});
}

QList<DeviceParent *> FakeMtpRefresher::takeGone()
{
    return std::exchange(mGone, {});
}

bool FakeMtpRefresher::tryLock(int aTimeoutMs)
{
    Q_UNUSED(aTimeoutMs);
    if (mLocked)
        return false;
    mLocked = true;
    return true;
}

void FakeMtpRefresher::unlock()
{
    mLocked = false;
}
