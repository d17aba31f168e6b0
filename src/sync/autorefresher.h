#pragma once

#include "devices/mdevicelistobserver.h"

#include <QObject>

class Device;
class DeviceList;
class LocalMusicLibrary;

// Turns device list changes and library events into the connected-device
// state and the space figures the main window shows.
class AutoRefresher : public QObject, public MDeviceListObserver
{
    Q_OBJECT
public:
    AutoRefresher(LocalMusicLibrary &aLibrary, DeviceList &aList, QObject *aParent = nullptr);
    ~AutoRefresher() override;

    void start();
    // Refreshing stops at once; wait for DeviceList::autoRefreshDisabled before a run.
    void stop();

    void deviceListChanged() override;

Q_SIGNALS:
    void connectedDeviceStateChanged(int aState, int aPercentComplete);
    void freeSpaceUpdate(qint64 aUsedSpaceAfterSync, qint64 aFreeSpaceAfterSync);

public Q_SLOTS:
    void timeout();

private Q_SLOTS:
    void driveSpaceChanged(Device *aDevice);

private:
    void reportSpace(Device *aDevice);

    LocalMusicLibrary &mLibrary;
    DeviceList &mList;
};
