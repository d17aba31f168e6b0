#pragma once

#include "devices/mtp/mtprawdevice.h"

#include <QList>
#include <QString>

#include <memory>

class MtpConnection;

// Finds phones on the bus and opens them.
class MtpTransport
{
public:
    MtpTransport() = default;
    virtual ~MtpTransport();
    MtpTransport(const MtpTransport &) = delete;
    MtpTransport &operator=(const MtpTransport &) = delete;

    // No phone attached is Ok with an empty list; any other code means the bus
    // could not be read and says nothing about which phones are gone.
    virtual int DetectRawDevices(QList<MtpRawDevice> &aDevices) = 0;
    // Null on failure, with a message for the user in aError.
    virtual std::unique_ptr<MtpConnection> Open(const MtpRawDevice &aDevice, QString &aError) = 0;
};
