#pragma once

#include "devices/deviceparent.h"
#include "devices/mtprefresher.h"

class FakePhoneDevice;

// Hands out phones the test made, as an MTP enumeration would. An enumeration
// stays active until the test finishes it; while active it holds the work lock.
class FakeMtpRefresher : public MtpRefresher
{
    Q_OBJECT
public:
    class Phone : public DeviceParent
    {
    public:
        int GetDeviceType() override;
    };

    // A phone with one storage per id; the caller passes it to plug().
    static Phone *makePhone(const QString &aName, const QStringList &aUniqueIds);
    static FakePhoneDevice *storage(DeviceParent *aPhone, int aIndex = 0);

    // Found by the next enumeration that finishes.
    void plug(DeviceParent *aPhone);
    void unplug(DeviceParent *aPhone);
    // Ends the running enumeration: hands over plugged and unplugged phones,
    // releases the work lock and says so. aUnableToOpen phones would not open.
    void finish(int aUnableToOpen = 0);
    // When set, start() finishes at once.
    bool mInstant = true;

    void start(const QList<DeviceParent *> &aKnownPhones) override;
    bool isActive() const override { return mActive; }
    QList<DeviceParent *> takeAdded() override;
    QList<DeviceParent *> takeGone() override;
    bool tryLock(int aTimeoutMs) override;
    void unlock() override;

    int mStarts = 0;
    int mEnumerations = 0; // started and not skipped for the lock
    bool mLocked = false;
    QList<DeviceParent *> mLastKnown;

private:
    bool mActive = false;
    QList<DeviceParent *> mPlugged;   // not yet handed over
    QList<DeviceParent *> mUnplugged; // handed over, now gone
    QList<DeviceParent *> mAdded;
    QList<DeviceParent *> mGone;
};
