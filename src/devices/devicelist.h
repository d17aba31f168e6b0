#pragma once

#include "devices/mdevicelistobserver.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

class Device;
class DeviceParent;
class MountedCheckerThread;
class MtpRefresher;
class UsbBus;
class VolumeSource;

// The phones connected right now: USB drives from the volume source and MTP
// phones from the background enumeration. Owns every parent and device; a
// drive or phone that stays attached keeps its objects across refreshes, so
// pointers handed out stay valid until the phone goes (and longer through
// sharedDevice).
class DeviceList : public QObject
{
    Q_OBJECT
public:
    static constexpr int RefreshIntervalMs = 2000;
    // How long DisableAutoRefresh waits for the work lock before it logs that
    // the enumeration seems stalled (it keeps waiting).
    static constexpr int StalledAfterMs = 5000;
    // A phone that would not open (a desktop file manager holding it) is tried
    // again at this pace even though the USB bus did not change.
    static constexpr int RetryUnopenedEveryRefreshes = 5;

    DeviceList(std::shared_ptr<VolumeSource> aVolumes, std::unique_ptr<MtpRefresher> aMtp,
               QObject *aParent = nullptr);
    ~DeviceList() override;

    QList<Device *> GetDevices() const;
    QList<DeviceParent *> GetParentDevices() const;
    // An index outside the list selects nothing.
    void SelectDevice(int aIndex);
    bool DeviceIsSelected() const;
    Device *SelectedDevice() const;
    bool DeviceIsConnected() const;
    // The configured device whose settings entry stands lowest in the settings
    // file (the later one in this list on a tie), else the first; null when none.
    Device *ConnectedDevice();
    bool RefreshDevices();
    void EnableAutoRefresh(MDeviceListObserver *aObserver);
    // Stops refreshing at once and asks for the MTP work lock without blocking;
    // autoRefreshDisabled() follows once the lock is held.
    void DisableAutoRefresh();
    // False only once refreshing is off and the work lock is held.
    bool autoRefreshEnabled() const { return mState != State::Disabled; }

    QString deviceId(Device *aDevice) const;
    Device *deviceById(const QString &aId) const;
    std::shared_ptr<Device> sharedDevice(Device *aDevice) const;
    // Mounted state the checker last reported for a device: 1 answers, 0 not
    // (yet), -1 unknown or not a drive.
    int mountedState(Device *aDevice) const;
    // Sizes of a USB drive from its last answered check; false when there is none.
    bool lastDiskSpace(Device *aDevice, quint64 &aTotalBytes, quint64 &aFreeBytes) const;
    // Mounted checks asked for and not yet answered.
    int pendingMountChecks() const;
    // Asks the checker for fresh sizes of a drive; diskSpaceChanged follows if they moved.
    void recheckDrive(Device *aDevice);

    // For tests and the benchmark: the USB bus whose changes start an MTP
    // enumeration, and the timer's interval.
    void setUsbBus(std::unique_ptr<UsbBus> aBus);
    void setRefreshInterval(int aMilliseconds);

Q_SIGNALS:
    // Once per phone that cannot be opened, not on every refresh.
    void unableToOpenDevice();
    void autoRefreshDisabled();
    void checkMountedStatus(QString aRootPath);
    // A drive's sizes changed since its previous check.
    void diskSpaceChanged(Device *aDevice);

public Q_SLOTS:
    void update();
    void mountedStatusChange(int aMountedState, QString aRootPath);

private Q_SLOTS:
    void diskSpaceChange(QString aRootPath, quint64 aTotalBytes, quint64 aFreeBytes);
    void refresherUnableToOpen();
    void tryFinishDisable();

private:
    enum class State
    {
        Disabled,
        Enabled,
        Disabling
    };

    struct Entry
    {
        std::shared_ptr<DeviceParent> mParent;
        QList<std::shared_ptr<Device>> mDevices;
        QString mKey;  // root and block device of a drive; empty for MTP
        QString mRoot; // a drive's mount point
    };

    struct DriveState
    {
        int mMounted = 0;
        bool mCheckPending = false;
        int mPendingRefreshes = 0;
        bool mHaveSpace = false;
        quint64 mTotalBytes = 0;
        quint64 mFreeBytes = 0;
    };

    bool refreshUsbMSDevices();
    bool refreshMtpDevices();
    void addEntry(Entry aEntry);
    void removeEntry(int aIndex);
    QString makeId(Device *aDevice, DeviceParent *aParent, const QString &aKey) const;
    int orderOf(Device *aDevice);
    const Entry *entryOf(Device *aDevice) const;
    QString rootOf(Device *aDevice) const;

    std::shared_ptr<VolumeSource> mVolumes;
    std::unique_ptr<MtpRefresher> mMtp;
    std::unique_ptr<UsbBus> mUsbBus;
    std::unique_ptr<MountedCheckerThread> mCheckerThread;
    QList<Entry> mEntries;
    QList<Device *> mDevices;
    QHash<Device *, QString> mIds;
    QHash<QString, DriveState> mDrives; // by root path
    QString mSelectedId;
    bool mInitialised = false;
    bool mRefresherLocked = false;
    State mState = State::Disabled;
    MDeviceListObserver *mObserver = nullptr;
    QTimer mTimer;
    QTimer mLockPoll;
    QElapsedTimer mDisableStarted;
    bool mStalledLogged = false;
    int mMountedUsbMSCount = 0;
    QString mPreviousDeviceNames;
    QString mUsbSignature;
    bool mMtpRescanNeeded = true;
    bool mUnableReported = false;
    bool mLastEnumerationUnable = false;
    int mRefreshesSinceUnable = 0;
    // Settings line per unique device id, valid while the settings file keeps
    // its time and size: loading it per device on every tick is what a refresh
    // would otherwise spend its time on.
    QHash<QString, int> mOrders;
    QString mOrdersStamp;
};
