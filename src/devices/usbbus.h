#pragma once

#include <QString>

// The devices on the USB bus as sysfs lists them. Raw MTP detection probes
// every USB device and is slow, so the device list asks for it only when this
// signature changed. The folder can be pointed at a prepared one.
class UsbBus
{
public:
    explicit UsbBus(const QString &aDevicesFolder = QStringLiteral("/sys/bus/usb/devices"));
    virtual ~UsbBus();
    UsbBus(const UsbBus &) = delete;
    UsbBus &operator=(const UsbBus &) = delete;

    // Changes whenever a device is plugged, unplugged or enumerated again.
    virtual QString signature() const;

private:
    QString mFolder;
};
