#pragma once

#include <QString>

#include <memory>

class Device;
class DeviceList;
class MtpRefresher;
class SyncCliOptions;

// The phones attached right now, for one command: USB drives from the mount
// table and MTP phones from one search, with every drive's mounted check done.
class PhoneFinder
{
public:
    explicit PhoneFinder(const SyncCliOptions &aOptions);
    ~PhoneFinder();
    PhoneFinder(const PhoneFinder &) = delete;
    PhoneFinder &operator=(const PhoneFinder &) = delete;

    // Waits up to aWaitMs for the mounted checks and the MTP search.
    void find(int aWaitMs = 10000);
    DeviceList &list() { return *mList; }
    // "usb" or "mtp".
    static QString kind(Device &aDevice);
    // The phone answers now (a drive's mount, an MTP storage).
    bool answers(Device *aDevice) const;
    // Whether a phone argument is a device id rather than a folder.
    static bool isDeviceId(const QString &aArgument);

private:
    static std::unique_ptr<MtpRefresher> makeMtpRefresher();

    std::unique_ptr<DeviceList> mList;
};
