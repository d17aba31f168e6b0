#pragma once

#include <QList>
#include <QObject>

class DeviceParent;

// Finds MTP phones in the background. The device list starts an enumeration
// and reads its results only once it is no longer active; a run holds the work
// lock so that no enumeration touches a phone while files are being sent.
class MtpRefresher : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~MtpRefresher() override;

    // Starts one enumeration unless one is running. aKnownPhones are the MTP
    // parents the caller owns; phones among them are neither opened again nor
    // added again. An enumeration that finds the work lock held ends at once.
    virtual void start(const QList<DeviceParent *> &aKnownPhones) = 0;
    virtual bool isActive() const = 0;
    // Phones found by the last enumeration; the caller owns them and their devices.
    virtual QList<DeviceParent *> takeAdded() = 0;
    // Known phones no longer on the bus; the caller still owns and deletes them.
    virtual QList<DeviceParent *> takeGone() = 0;
    virtual bool tryLock(int aTimeoutMs) = 0;
    virtual void unlock() = 0;

Q_SIGNALS:
    // Emitted from the enumeration's thread once per phone that cannot be opened.
    void unableToOpenDevice();
    // Emitted from the enumeration's thread when an enumeration has ended.
    void enumerationDone();
};
