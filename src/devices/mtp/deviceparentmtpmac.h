#pragma once

#include "devices/mtp/deviceparentmtp.h"
#include "devices/mtp/mtprawdevice.h"

#include <QRecursiveMutex>
#include <QString>

#include <memory>

class MtpSession;
class MtpTransport;

// One MTP phone: its connection with the folder listings read over it, shared
// by the devices of its storages. libmtp is not thread-safe and the free space
// is asked for from another thread than the run's, so every use of the
// session holds lock(). The devices share the session and the lock, so a run's
// device outlives a parent dropped from the list when the phone goes.
class DeviceParentMtpMac : public DeviceParentMtp
{
public:
    DeviceParentMtpMac(std::shared_ptr<MtpTransport> aTransport, const MtpRawDevice &aDevice);
    ~DeviceParentMtpMac() override;

    // (Re)opens the phone; on failure MtpDevice().lastError() says why.
    int open();
    MtpSession &MtpDevice() { return *mSession; }
    std::shared_ptr<MtpSession> session() const { return mSession; }
    std::shared_ptr<QRecursiveMutex> lock() const { return mLock; }

    // Serial number, or the bus location for a phone without one.
    QString identity() const;
    // Where the phone was found on the bus; a new plug-in gives a new one.
    QString busLocation() const { return mRawDevice.busLocation(); }
    QString vendor() const { return mRawDevice.mVendor; }
    QString product() const { return mRawDevice.mProduct; }
    // The name the phone gave itself at the last open, may be empty.
    QString friendlyName() const { return mFriendlyName; }

private:
    MtpRawDevice mRawDevice;
    std::shared_ptr<QRecursiveMutex> mLock;
    std::shared_ptr<MtpSession> mSession;
    QString mFriendlyName;
};
