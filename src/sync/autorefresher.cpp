#include "sync/autorefresher.h"

#include "core/logger.h"
#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/spacecalculator.h"
#include "library/localmusiclibrary.h"

#include <limits>

AutoRefresher::AutoRefresher(LocalMusicLibrary &aLibrary, DeviceList &aList, QObject *aParent)
    : QObject(aParent), mLibrary(aLibrary), mList(aList)
{
    connect(&mLibrary, &LocalMusicLibrary::localLibraryEvent, this, &AutoRefresher::timeout,
            Qt::QueuedConnection);
    connect(&mList, &DeviceList::diskSpaceChanged, this, &AutoRefresher::driveSpaceChanged);
}

AutoRefresher::~AutoRefresher()
{
    stop();
}

void AutoRefresher::start()
{
    LogScope scope("AutoRefresher::start");
    mLibrary.listenForITunesEvents();
    mList.EnableAutoRefresh(this);
}

void AutoRefresher::stop()
{
    mList.DisableAutoRefresh();
}

void AutoRefresher::deviceListChanged()
{
    const int state = mList.DeviceIsConnected() ? 1 : 0;
    Logger::instance().value("deviceState", state);
    Q_EMIT connectedDeviceStateChanged(state, 0);
    timeout();
}

void AutoRefresher::timeout()
{
    if (!mList.DeviceIsConnected())
        return;
    Logger::instance().text("Device is connected");
    Device *device = mList.ConnectedDevice();
    reportSpace(device);
    // The drive's sizes come from the checker's thread; fresh ones follow
    // through driveSpaceChanged when they moved.
    if (device->GetDeviceType() == Device::TypeUsbMassStorage)
        mList.recheckDrive(device);
}

void AutoRefresher::driveSpaceChanged(Device *aDevice)
{
    if (mList.DeviceIsConnected() && mList.ConnectedDevice() == aDevice)
        reportSpace(aDevice);
}

void AutoRefresher::reportSpace(Device *aDevice)
{
    qint64 used = 0;
    qint64 free = 0;
    if (aDevice->GetDeviceType() == Device::TypeUsbMassStorage) {
        // Never stat a drive on this thread: a hung mount would freeze the window.
        quint64 total = 0;
        quint64 available = 0;
        if (mList.lastDiskSpace(aDevice, total, available)) {
            free = qint64(qMin<quint64>(available, quint64(std::numeric_limits<qint64>::max())));
            used = available < total ? qint64(total - available) : 0;
        }
    } else {
        SpaceCalculator::calculate(*aDevice, used, free);
    }
    Q_EMIT freeSpaceUpdate(used, free);
}
