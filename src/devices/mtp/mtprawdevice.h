#pragma once

#include <QString>
#include <QtGlobal>

// A phone found on the bus, before it is opened.
struct MtpRawDevice
{
    QString mVendor;  // from the USB id table, may be empty for unknown phones
    QString mProduct; // likewise
    quint16 mVendorId = 0;
    quint16 mProductId = 0;
    quint32 mBusLocation = 0;
    quint8 mDeviceNumber = 0;

    // Tells two phones of one model apart while they stay plugged in.
    QString busLocation() const
    {
        return QStringLiteral("usb:%1,%2").arg(mBusLocation).arg(mDeviceNumber);
    }
};
