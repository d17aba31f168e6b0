#include "devices/mtp/mtpmacdevicerefresher.h"

#include "core/logger.h"
#include "devices/mtp/devicemtpmac.h"
#include "devices/mtp/deviceparentmtpmac.h"
#include "devices/mtp/mtpconnection.h"
#include "devices/mtp/mtprawdevice.h"
#include "devices/mtp/mtpsession.h"
#include "devices/mtp/mtptransport.h"

#include <QMutexLocker>
#include <QThread>

#include <utility>

MtpMacDeviceRefresher::MtpMacDeviceRefresher(std::shared_ptr<MtpTransport> aTransport,
                                             QObject *aParent)
    : MtpRefresher(aParent), mTransport(std::move(aTransport))
{}

MtpMacDeviceRefresher::~MtpMacDeviceRefresher()
{
    wait();
    for (DeviceParent *phone : takeAdded())
        discard(phone);
}

void MtpMacDeviceRefresher::discard(DeviceParent *aPhone)
{
    const QList<Device *> devices = aPhone->devices();
    qDeleteAll(devices);
    delete aPhone;
}

QString MtpMacDeviceRefresher::lastOpenError() const
{
    QMutexLocker locker(&mStateLock);
    return mLastOpenError;
}

bool MtpMacDeviceRefresher::wait(int aTimeoutMs)
{
    if (!mThread)
        return true;
    return mThread->wait(aTimeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                        : QDeadlineTimer(aTimeoutMs));
}

void MtpMacDeviceRefresher::start(const QList<DeviceParent *> &aKnownPhones)
{
    LogScope scope("MtpMacDeviceRefresher::start");
    {
        QMutexLocker locker(&mStateLock);
        if (mActive) {
            Logger::instance().text("Already refreshing, so exit");
            return;
        }
        mActive = true;
    }
    // The last enumeration has cleared its flag; its thread is about to end.
    if (mThread)
        mThread->wait();
    QList<Known> known;
    for (DeviceParent *phone : aKnownPhones) {
        if (phone->GetDeviceType() != Device::TypeMtp)
            continue;
        const auto *mtp = dynamic_cast<DeviceParentMtpMac *>(phone);
        known.append({phone, mtp ? mtp->busLocation() : QString()});
    }
    QMutexLocker locker(&mStateLock);
    mKnown = known;
    for (DeviceParent *phone : std::as_const(mAdded))
        discard(phone);
    mAdded.clear();
    mGone.clear();
    mThread.reset(QThread::create([this] { run(); }));
    mThread->start();
}

bool MtpMacDeviceRefresher::isActive() const
{
    QMutexLocker locker(&mStateLock);
    return mActive;
}

QList<DeviceParent *> MtpMacDeviceRefresher::takeAdded()
{
    QMutexLocker locker(&mStateLock);
    return std::exchange(mAdded, {});
}

QList<DeviceParent *> MtpMacDeviceRefresher::takeGone()
{
    QMutexLocker locker(&mStateLock);
    return std::exchange(mGone, {});
}

bool MtpMacDeviceRefresher::tryLock(int aTimeoutMs)
{
    return mWorkLock.tryLock(aTimeoutMs);
}

void MtpMacDeviceRefresher::unlock()
{
    mWorkLock.unlock();
}

void MtpMacDeviceRefresher::run()
{
    LogScope scope("MtpMacDeviceRefresher::run");
    // A run is sending files: no enumeration may touch a phone now.
    if (mWorkLock.tryLock()) {
        enumerate();
        mWorkLock.unlock();
    } else {
        Logger::instance().text("Work lock held, enumeration skipped");
    }
    setComplete();
    Q_EMIT enumerationDone();
}

void MtpMacDeviceRefresher::setComplete()
{
    LogScope scope("MtpMacDeviceRefresher::setComplete");
    QMutexLocker locker(&mStateLock);
    mActive = false;
}

void MtpMacDeviceRefresher::enumerate()
{
    Logger &log = Logger::instance();
    log.text("Listing raw device(s)");
    QList<MtpRawDevice> raw;
    const int detected = mTransport->DetectRawDevices(raw);
    if (detected != MtpConnection::Ok) {
        // An unreadable bus says nothing about which phones are gone.
        log.value("Could not list raw devices", detected);
        return;
    }
    log.text("Attempting to get devices from raw devices");
    QSet<QString> present;
    for (const MtpRawDevice &device : std::as_const(raw))
        present.insert(device.busLocation());
    QList<DeviceParent *> gone;
    QSet<QString> known;
    for (const Known &phone : std::as_const(mKnown)) {
        if (present.contains(phone.mBusLocation))
            known.insert(phone.mBusLocation);
        else
            gone.append(phone.mPhone);
    }
    mUnopened.intersect(present);

    QList<DeviceParent *> added;
    for (const MtpRawDevice &device : std::as_const(raw)) {
        if (known.contains(device.busLocation())) {
            log.value("Raw device already in main list",
                      device.mVendor + QLatin1Char(' ') + device.mProduct);
            continue;
        }
        if (DeviceParentMtpMac *phone = openPhone(device))
            added.append(phone);
    }
    QMutexLocker locker(&mStateLock);
    mGone = gone;
    mAdded = added;
}

DeviceParentMtpMac *MtpMacDeviceRefresher::openPhone(const MtpRawDevice &aDevice)
{
    Logger &log = Logger::instance();
    log.text("Device not already in main list... opening device...");
    auto phone = std::make_unique<DeviceParentMtpMac>(mTransport, aDevice);
    if (phone->open() != MtpConnection::Ok) {
        const QString error = phone->MtpDevice().lastError();
        log.value("Unable to open raw device", error);
        {
            QMutexLocker locker(&mStateLock);
            mLastOpenError = error;
        }
        // Every 2 seconds would be too often to tell the user about a held phone.
        if (!mUnopened.contains(aDevice.busLocation())) {
            mUnopened.insert(aDevice.busLocation());
            Q_EMIT unableToOpenDevice();
        }
        return nullptr;
    }
    mUnopened.remove(aDevice.busLocation());
    QList<MtpStorage> storages;
    // A locked Android phone shows no storage until it is unlocked; listed now,
    // it would stay without one.
    if (phone->MtpDevice().GetStorages(storages) != MtpConnection::Ok || storages.isEmpty()) {
        log.text("Can't get storage list");
        log.text("Releasing device");
        return nullptr;
    }
    for (const MtpStorage &storage : std::as_const(storages)) {
        log.value("Storage", storage.mDescription);
        phone->addDevice(new DeviceMtpMac(*phone, storage));
    }
    const int version = phone->GetAndroidVersion();
    if (version < 0) {
        log.value("We couldn't find the android.xml file, so hiding child devices", version);
        for (Device *device : phone->devices())
            device->setDisabled(true);
    }
    return phone.release();
}
