#include "devices/devicelist.h"

#include "core/apppaths.h"
#include "core/logger.h"
#include "devices/device.h"
#include "devices/deviceparent.h"
#include "devices/deviceparentms.h"
#include "devices/mountedchecker.h"
#include "devices/mountedcheckerthread.h"
#include "devices/mtprefresher.h"
#include "devices/usbbus.h"
#include "devices/usbmsdevice.h"
#include "devices/volumesource.h"
#include "settings/syncsettings.h"

#include <QFileInfo>

namespace {
constexpr int LockPollMs = 50;
// A check that has not answered after this many refreshes counts as "not mounted":
// the drive hangs, and its last answer no longer holds.
constexpr int PendingChecksBeforeUnmounted = 2;

QString driveKey(const VolumeInfo &aVolume)
{
    return aVolume.mRootPath + QLatin1Char('\n') + aVolume.mDeviceNode;
}
} // namespace

DeviceList::DeviceList(std::shared_ptr<VolumeSource> aVolumes, std::unique_ptr<MtpRefresher> aMtp,
                       QObject *aParent)
    : QObject(aParent), mVolumes(std::move(aVolumes)), mMtp(std::move(aMtp)),
      mUsbBus(std::make_unique<UsbBus>()),
      mCheckerThread(std::make_unique<MountedCheckerThread>(mVolumes))
{
    MountedChecker *checker = mCheckerThread->checker();
    connect(this, &DeviceList::checkMountedStatus, checker, &MountedChecker::startMountedCheck);
    connect(checker, &MountedChecker::mountedStatusUpdate, this, &DeviceList::mountedStatusChange);
    connect(checker, &MountedChecker::diskSpaceUpdate, this, &DeviceList::diskSpaceChange);
    mCheckerThread->start();

    mTimer.setInterval(RefreshIntervalMs);
    connect(&mTimer, &QTimer::timeout, this, &DeviceList::update);
    mLockPoll.setInterval(LockPollMs);
    connect(&mLockPoll, &QTimer::timeout, this, &DeviceList::tryFinishDisable);
    if (mMtp) {
        connect(mMtp.get(), &MtpRefresher::unableToOpenDevice, this,
                &DeviceList::refresherUnableToOpen, Qt::QueuedConnection);
        // Phones found show up without waiting for the next tick, and a pending
        // disable gets the lock as soon as the enumeration lets go of it.
        connect(mMtp.get(), &MtpRefresher::enumerationDone, this, &DeviceList::update,
                Qt::QueuedConnection);
        connect(mMtp.get(), &MtpRefresher::enumerationDone, this, &DeviceList::tryFinishDisable,
                Qt::QueuedConnection);
    }
}

DeviceList::~DeviceList()
{
    mTimer.stop();
    mLockPoll.stop();
    if (mRefresherLocked)
        mMtp->unlock();
    // An enumeration still running holds pointers to the phones below.
    mMtp.reset();
    mCheckerThread.reset();
    mDevices.clear();
    mEntries.clear();
}

void DeviceList::setUsbBus(std::unique_ptr<UsbBus> aBus)
{
    mUsbBus = std::move(aBus);
}

void DeviceList::setRefreshInterval(int aMilliseconds)
{
    mTimer.setInterval(aMilliseconds);
}

QList<Device *> DeviceList::GetDevices() const
{
    return mDevices;
}

QList<DeviceParent *> DeviceList::GetParentDevices() const
{
    QList<DeviceParent *> result;
    for (const Entry &entry : mEntries)
        result.append(entry.mParent.get());
    return result;
}

void DeviceList::SelectDevice(int aIndex)
{
    mSelectedId =
        aIndex >= 0 && aIndex < mDevices.size() ? mIds.value(mDevices.at(aIndex)) : QString();
}

bool DeviceList::DeviceIsSelected() const
{
    return SelectedDevice() != nullptr;
}

Device *DeviceList::SelectedDevice() const
{
    return mSelectedId.isEmpty() ? nullptr : deviceById(mSelectedId);
}

bool DeviceList::DeviceIsConnected() const
{
    return !mDevices.isEmpty();
}

int DeviceList::orderOf(Device *aDevice)
{
    const QFileInfo file(AppPaths::settingsFile());
    const QString stamp = file.exists() ? QString::number(file.lastModified().toMSecsSinceEpoch()) +
                                              QLatin1Char('/') + QString::number(file.size())
                                        : QString();
    if (stamp != mOrdersStamp) {
        mOrders.clear();
        mOrdersStamp = stamp;
    }
    const QString id = aDevice->UniqueDeviceId();
    const auto found = mOrders.constFind(id);
    if (found != mOrders.constEnd())
        return *found;
    SyncSettings settings;
    settings.load();
    for (Device *device : std::as_const(mDevices)) {
        const QString other = device->UniqueDeviceId();
        mOrders.insert(other, settings.deviceLineNumber(other));
    }
    const int order = settings.deviceLineNumber(id);
    mOrders.insert(id, order);
    return order;
}

Device *DeviceList::ConnectedDevice()
{
    if (mDevices.isEmpty())
        return nullptr;
    Logger &log = Logger::instance();
    Device *kept = nullptr;
    int best = 0;
    for (qsizetype i = mDevices.size() - 1; i >= 0; --i) {
        Device *device = mDevices.at(i);
        const int order = orderOf(device);
        if (order < 0) {
            log.text("Non-Configured device found");
            continue;
        }
        log.text("Configured device found");
        if (order > best) {
            best = order;
            kept = device;
        }
    }
    return kept ? kept : mDevices.first();
}

QString DeviceList::deviceId(Device *aDevice) const
{
    return mIds.value(aDevice);
}

Device *DeviceList::deviceById(const QString &aId) const
{
    for (auto it = mIds.constBegin(); it != mIds.constEnd(); ++it) {
        if (it.value() == aId)
            return it.key();
    }
    return nullptr;
}

const DeviceList::Entry *DeviceList::entryOf(Device *aDevice) const
{
    for (const Entry &entry : mEntries) {
        for (const std::shared_ptr<Device> &device : entry.mDevices) {
            if (device.get() == aDevice)
                return &entry;
        }
    }
    return nullptr;
}

std::shared_ptr<Device> DeviceList::sharedDevice(Device *aDevice) const
{
    const Entry *entry = entryOf(aDevice);
    if (!entry)
        return nullptr;
    for (const std::shared_ptr<Device> &device : entry->mDevices) {
        if (device.get() == aDevice)
            return device;
    }
    return nullptr;
}

int DeviceList::mountedState(Device *aDevice) const
{
    const Entry *entry = entryOf(aDevice);
    if (!entry || entry->mRoot.isEmpty())
        return -1;
    const auto drive = mDrives.constFind(entry->mRoot);
    return drive == mDrives.constEnd() ? -1 : drive->mMounted;
}

bool DeviceList::lastDiskSpace(Device *aDevice, quint64 &aTotalBytes, quint64 &aFreeBytes) const
{
    aTotalBytes = 0;
    aFreeBytes = 0;
    const Entry *entry = entryOf(aDevice);
    if (!entry || entry->mRoot.isEmpty())
        return false;
    const auto drive = mDrives.constFind(entry->mRoot);
    if (drive == mDrives.constEnd() || drive->mMounted != 1 || !drive->mHaveSpace)
        return false;
    aTotalBytes = drive->mTotalBytes;
    aFreeBytes = drive->mFreeBytes;
    return true;
}

int DeviceList::pendingMountChecks() const
{
    int pending = 0;
    for (const DriveState &drive : mDrives)
        pending += drive.mCheckPending ? 1 : 0;
    return pending;
}

void DeviceList::recheckDrive(Device *aDevice)
{
    const Entry *entry = entryOf(aDevice);
    if (!entry || entry->mRoot.isEmpty())
        return;
    DriveState &drive = mDrives[entry->mRoot];
    if (drive.mCheckPending)
        return;
    drive.mCheckPending = true;
    drive.mPendingRefreshes = 0;
    Q_EMIT checkMountedStatus(entry->mRoot);
}

QString DeviceList::makeId(Device *aDevice, DeviceParent *aParent, const QString &aKey) const
{
    QString base;
    if (!aKey.isEmpty()) {
        const QString node = aKey.section(QLatin1Char('\n'), 1);
        const QString root = aKey.section(QLatin1Char('\n'), 0, 0);
        base =
            QStringLiteral("usb:") + (node.isEmpty() ? root : node.section(QLatin1Char('/'), -1));
    } else {
        QString name = aParent->name().simplified();
        name.replace(QLatin1Char(' '), QLatin1Char('_'));
        if (name.isEmpty())
            name = QStringLiteral("phone");
        base = QStringLiteral("mtp:") + name + QLatin1Char(':') +
               QString::number(aParent->devices().indexOf(aDevice) + 1);
    }
    QString id = base;
    for (int n = 2; deviceById(id); ++n)
        id = base + QLatin1Char('#') + QString::number(n);
    return id;
}

void DeviceList::addEntry(Entry aEntry)
{
    for (const std::shared_ptr<Device> &device : std::as_const(aEntry.mDevices)) {
        mIds.insert(device.get(), makeId(device.get(), aEntry.mParent.get(), aEntry.mKey));
        mDevices.append(device.get());
    }
    mEntries.append(std::move(aEntry));
}

void DeviceList::removeEntry(int aIndex)
{
    const Entry &entry = mEntries.at(aIndex);
    for (const std::shared_ptr<Device> &device : entry.mDevices) {
        mIds.remove(device.get());
        mDevices.removeAll(device.get());
    }
    mEntries.removeAt(aIndex);
}

bool DeviceList::RefreshDevices()
{
    Logger &log = Logger::instance();
    if (!mInitialised) {
        log.text("DeviceList::Initialise");
        mInitialised = true;
    }
    const bool usbChanged = refreshUsbMSDevices();
    const bool mtpChanged = refreshMtpDevices();

    QString names;
    for (Device *device : std::as_const(mDevices))
        names += device->FriendlyName() + QLatin1Char('\n');
    const bool namesChanged = names != mPreviousDeviceNames;
    mPreviousDeviceNames = names;

    const bool changed = usbChanged || mtpChanged || namesChanged;
    // A window left open refreshes every two seconds: an unchanged list writes nothing.
    if (changed && log.isOn()) {
        log.text("DeviceList::RefreshDevices");
        if (usbChanged)
            log.text("usb_ms_list_changed");
        if (mtpChanged)
            log.text("mtp_list_changed");
        for (qsizetype i = 0; i < mDevices.size(); ++i) {
            log.value("device list index: ", int(i));
            log.value("device name: ", mDevices.at(i)->FriendlyName());
        }
    }
    return changed;
}

bool DeviceList::refreshUsbMSDevices()
{
    Logger &log = Logger::instance();
    bool changed = false;
    const QList<VolumeInfo> drives = mVolumes ? mVolumes->phoneDrives() : QList<VolumeInfo>();
    QSet<QString> present;
    for (const VolumeInfo &drive : drives)
        present.insert(driveKey(drive));

    for (qsizetype i = mEntries.size() - 1; i >= 0; --i) {
        const Entry &entry = mEntries.at(i);
        if (entry.mKey.isEmpty() || present.contains(entry.mKey))
            continue;
        log.value("usbMSDevice removed", entry.mRoot);
        mDrives.remove(entry.mRoot);
        removeEntry(int(i));
        changed = true;
    }

    QSet<QString> known;
    for (const Entry &entry : std::as_const(mEntries)) {
        if (!entry.mKey.isEmpty())
            known.insert(entry.mKey);
    }
    int mounted = 0;
    for (const VolumeInfo &drive : drives) {
        const QString key = driveKey(drive);
        DriveState &state = mDrives[drive.mRootPath];
        if (!known.contains(key)) {
            known.insert(key);
            auto parent = std::make_shared<DeviceParentMs>();
            parent->setName(drive.mName);
            auto *device =
                new UsbMSDevice(mVolumes, drive.mRootPath, drive.mName, state.mMounted == 1);
            parent->addDevice(device);
            Entry entry;
            entry.mKey = key;
            entry.mRoot = drive.mRootPath;
            entry.mDevices.append(
                std::shared_ptr<Device>(device, [parent](Device *aDevice) { delete aDevice; }));
            entry.mParent = std::move(parent);
            addEntry(std::move(entry));
            log.value("usbMSDevice added", drive.mRootPath);
            changed = true;
        }
        // One check at a time per drive: a hung drive must not pile up requests.
        if (!state.mCheckPending) {
            state.mCheckPending = true;
            state.mPendingRefreshes = 0;
            Q_EMIT checkMountedStatus(drive.mRootPath);
        } else if (++state.mPendingRefreshes >= PendingChecksBeforeUnmounted) {
            state.mMounted = 0;
        }
        if (state.mMounted == 1)
            ++mounted;
    }
    if (mounted != mMountedUsbMSCount) {
        log.value("newMountedCount", mounted);
        log.value("mMountedUsbMSCount", mMountedUsbMSCount);
        mMountedUsbMSCount = mounted;
        changed = true;
    }
    return changed;
}

bool DeviceList::refreshMtpDevices()
{
    if (!mMtp)
        return false;
    const QString signature = mUsbBus ? mUsbBus->signature() : QString();
    if (signature != mUsbSignature) {
        mUsbSignature = signature;
        mMtpRescanNeeded = true;
        mUnableReported = false;
    }
    if (mMtp->isActive())
        return false;

    bool changed = false;
    const QList<DeviceParent *> gone = mMtp->takeGone();
    for (DeviceParent *parent : gone) {
        for (qsizetype i = 0; i < mEntries.size(); ++i) {
            if (mEntries.at(i).mParent.get() == parent) {
                removeEntry(int(i));
                changed = true;
                break;
            }
        }
    }
    const QList<DeviceParent *> added = mMtp->takeAdded();
    for (DeviceParent *phone : added) {
        Entry entry;
        entry.mParent.reset(phone);
        for (Device *device : phone->devices()) {
            entry.mDevices.append(std::shared_ptr<Device>(
                device, [parent = entry.mParent](Device *aDevice) { delete aDevice; }));
        }
        addEntry(std::move(entry));
        changed = true;
    }

    if (mLastEnumerationUnable && ++mRefreshesSinceUnable >= RetryUnopenedEveryRefreshes)
        mMtpRescanNeeded = true;
    if (mMtpRescanNeeded && !mRefresherLocked) {
        mMtpRescanNeeded = false;
        mLastEnumerationUnable = false;
        mRefreshesSinceUnable = 0;
        QList<DeviceParent *> phones;
        for (const Entry &entry : std::as_const(mEntries)) {
            if (entry.mKey.isEmpty())
                phones.append(entry.mParent.get());
        }
        mMtp->start(phones);
    }
    return changed;
}

void DeviceList::refresherUnableToOpen()
{
    mLastEnumerationUnable = true;
    if (mUnableReported)
        return;
    mUnableReported = true;
    Q_EMIT unableToOpenDevice();
}

void DeviceList::update()
{
    if (mState != State::Enabled)
        return;
    if (RefreshDevices() && mObserver)
        mObserver->deviceListChanged();
}

void DeviceList::mountedStatusChange(int aMountedState, QString aRootPath)
{
    const auto drive = mDrives.find(aRootPath);
    if (drive == mDrives.end())
        return;
    const int previous = drive->mMounted;
    drive->mCheckPending = false;
    drive->mPendingRefreshes = 0;
    drive->mMounted = aMountedState;
    if (aMountedState != 1) {
        drive->mHaveSpace = false;
        return;
    }
    if (previous == 1)
        return;
    // The drive has just answered: read its id file now, once, so that the
    // connected-device rule sees whether it is configured.
    for (const Entry &entry : std::as_const(mEntries)) {
        if (entry.mRoot == aRootPath) {
            for (const std::shared_ptr<Device> &device : entry.mDevices)
                device->IsConfigured();
        }
    }
}

void DeviceList::diskSpaceChange(QString aRootPath, quint64 aTotalBytes, quint64 aFreeBytes)
{
    const auto drive = mDrives.find(aRootPath);
    if (drive == mDrives.end())
        return;
    const bool differs =
        !drive->mHaveSpace || drive->mTotalBytes != aTotalBytes || drive->mFreeBytes != aFreeBytes;
    drive->mHaveSpace = true;
    drive->mTotalBytes = aTotalBytes;
    drive->mFreeBytes = aFreeBytes;
    if (!differs)
        return;
    for (const Entry &entry : std::as_const(mEntries)) {
        if (entry.mRoot == aRootPath && !entry.mDevices.isEmpty())
            Q_EMIT diskSpaceChanged(entry.mDevices.first().get());
    }
}

void DeviceList::EnableAutoRefresh(MDeviceListObserver *aObserver)
{
    LogScope scope("DeviceList::EnableAutoRefresh");
    Logger &log = Logger::instance();
    if (mState == State::Enabled) {
        log.text("Autorefresh is already enabled");
        return;
    }
    mLockPoll.stop();
    if (mRefresherLocked) {
        log.text("Unlocking the autorefresher");
        mMtp->unlock();
        mRefresherLocked = false;
    } else {
        log.text("Autorefresher is already unlocked");
    }
    mState = State::Enabled;
    mObserver = aObserver;
    log.text("DeviceList::forceUpdate");
    RefreshDevices();
    if (mObserver)
        mObserver->deviceListChanged();
    mTimer.start();
}

void DeviceList::DisableAutoRefresh()
{
    LogScope scope("DeviceList::DisableAutoRefresh");
    Logger &log = Logger::instance();
    if (mState != State::Enabled) {
        log.text("Autorefresh already disabled");
        return;
    }
    mState = State::Disabling;
    mTimer.stop();
    mObserver = nullptr;
    log.text(mRefresherLocked ? "Autorefresher is already locked" : "Locking the autorefresher");
    mDisableStarted.start();
    mStalledLogged = false;
    // Always answered later, so a caller may connect to the signal after this call.
    QMetaObject::invokeMethod(this, &DeviceList::tryFinishDisable, Qt::QueuedConnection);
}

void DeviceList::tryFinishDisable()
{
    if (mState != State::Disabling) {
        mLockPoll.stop();
        return;
    }
    if (mMtp && !mRefresherLocked) {
        // Polled rather than waited for: the work lock must be taken and given
        // back on this thread, which must keep serving the window meanwhile.
        if (!mMtp->tryLock(0)) {
            if (!mStalledLogged && mDisableStarted.elapsed() >= StalledAfterMs) {
                Logger::instance().text("*** Refresher seems to be stalled");
                mStalledLogged = true;
            }
            if (!mLockPoll.isActive())
                mLockPoll.start();
            return;
        }
        mRefresherLocked = true;
    }
    mLockPoll.stop();
    mState = State::Disabled;
    Logger::instance().text("Autorefresh is locked");
    Q_EMIT autoRefreshDisabled();
}
