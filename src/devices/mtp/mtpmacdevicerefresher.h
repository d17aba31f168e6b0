#pragma once

#include "devices/mtp/mtprawdevice.h"
#include "devices/mtprefresher.h"

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <memory>

class DeviceParentMtpMac;
class MtpTransport;
class QThread;

// Looks for MTP phones on a thread of its own. A phone already known is
// recognised by where it sits on the bus (bus and device number, which the
// system gives anew on every plug-in), so it is never opened twice: a second
// open of a phone the program holds would fail anyway. A new phone is opened
// and gets one device per storage, all marked disabled when no storage holds
// the companion app's marker file.
class MtpMacDeviceRefresher : public MtpRefresher
{
    Q_OBJECT
public:
    explicit MtpMacDeviceRefresher(std::shared_ptr<MtpTransport> aTransport,
                                   QObject *aParent = nullptr);
    // Waits for a running enumeration, then deletes phones found and not taken.
    ~MtpMacDeviceRefresher() override;

    void start(const QList<DeviceParent *> &aKnownPhones) override;
    bool isActive() const override;
    QList<DeviceParent *> takeAdded() override;
    QList<DeviceParent *> takeGone() override;
    bool tryLock(int aTimeoutMs) override;
    void unlock() override;

    // Waits for the running enumeration; true when none is left running.
    bool wait(int aTimeoutMs = -1);
    // Why the last phone that would not open did not, naming the program that
    // likely holds it; for the message that follows unableToOpenDevice.
    QString lastOpenError() const;

private:
    struct Known
    {
        DeviceParent *mPhone = nullptr;
        QString mBusLocation;
    };

    void run();
    void enumerate();
    DeviceParentMtpMac *openPhone(const MtpRawDevice &aDevice);
    void setComplete();
    // Deletes a phone nobody took, with its devices.
    static void discard(DeviceParent *aPhone);

    std::shared_ptr<MtpTransport> mTransport;
    std::unique_ptr<QThread> mThread;
    mutable QMutex mStateLock;
    bool mActive = false;
    QList<Known> mKnown;
    QList<DeviceParent *> mAdded;
    QList<DeviceParent *> mGone;
    // Bus locations of phones that would not open, told once each.
    QSet<QString> mUnopened;
    QString mLastOpenError;
    QMutex mWorkLock;
};
