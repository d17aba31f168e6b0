#pragma once

#include <QList>
#include <QString>

class Device;

// One physical phone and its storages. The device list owns both the parent
// and the devices; the parent only lists them.
class DeviceParent
{
public:
    DeviceParent() = default;
    virtual ~DeviceParent();
    DeviceParent(const DeviceParent &) = delete;
    DeviceParent &operator=(const DeviceParent &) = delete;

    virtual int GetDeviceType() = 0;
    // The largest version of the companion app over the storages, -1 without any.
    virtual int GetAndroidVersion();

    QString name() const { return mName; }
    void setName(const QString &aName) { mName = aName; }
    const QList<Device *> &devices() const { return mDevices; }
    void addDevice(Device *aDevice) { mDevices.append(aDevice); }
    void removeDevice(Device *aDevice) { mDevices.removeAll(aDevice); }

protected:
    QString mName;
    QList<Device *> mDevices;
};
