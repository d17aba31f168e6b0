#include "phonefinder.h"

#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/mtp/libmtptransport.h"
#include "devices/mtp/mtpmacdevicerefresher.h"
#include "devices/mtprefresher.h"
#include "devices/sysfsvolumesource.h"
#include "syncclioptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

PhoneFinder::PhoneFinder(const SyncCliOptions &aOptions)
{
    auto volumes = std::make_shared<SysfsVolumeSource>(
        aOptions.mSysfsRoot.isEmpty() ? QStringLiteral("/sys") : aOptions.mSysfsRoot,
        aOptions.mMountTable.isEmpty() ? QStringLiteral("/proc/self/mountinfo")
                                       : aOptions.mMountTable);
    mList = std::make_unique<DeviceList>(std::move(volumes), makeMtpRefresher());
}

PhoneFinder::~PhoneFinder() = default;

std::unique_ptr<MtpRefresher> PhoneFinder::makeMtpRefresher()
{
    return std::make_unique<MtpMacDeviceRefresher>(std::make_shared<LibMtpTransport>());
}

void PhoneFinder::find(int aWaitMs)
{
    mList->RefreshDevices();
    QElapsedTimer timer;
    timer.start();
    while ((mList->pendingMountChecks() > 0 || mList->mtpSearchActive()) &&
           timer.elapsed() < aWaitMs) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    QCoreApplication::processEvents();
    mList->RefreshDevices();
}

QString PhoneFinder::kind(Device &aDevice)
{
    return aDevice.GetDeviceType() == Device::TypeMtp ? QStringLiteral("mtp")
                                                      : QStringLiteral("usb");
}

bool PhoneFinder::answers(Device *aDevice) const
{
    if (!aDevice)
        return false;
    if (aDevice->GetDeviceType() == Device::TypeUsbMassStorage)
        return mList->mountedState(aDevice) == 1;
    return aDevice->IsMounted();
}

bool PhoneFinder::isDeviceId(const QString &aArgument)
{
    return (aArgument.startsWith(QLatin1String("usb:")) ||
            aArgument.startsWith(QLatin1String("mtp:"))) &&
           !QFileInfo::exists(aArgument);
}
