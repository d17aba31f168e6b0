#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class FolderVolumeSource;
class UsbMSDevice;

// A folder standing in for the root of a phone mounted as a USB drive. Its
// sizes are those of the file system it lives on, unless told otherwise.
class PhoneFolder
{
public:
    // aFreeBytes below 0 means the file system's real free space.
    PhoneFolder(const QString &aFolder, qint64 aFreeBytes = -1);
    ~PhoneFolder();
    PhoneFolder(const PhoneFolder &) = delete;
    PhoneFolder &operator=(const PhoneFolder &) = delete;

    // False when the folder does not exist or is not a folder.
    bool exists() const;
    // Creates the folder (and its parents); false on failure.
    bool create();
    // The phone over the folder, made on first use.
    UsbMSDevice &device() { return *sharedDevice(); }
    std::shared_ptr<UsbMSDevice> sharedDevice();
    QString path() const { return mPath; }

private:
    QString mPath;
    qint64 mFreeBytes;
    std::shared_ptr<FolderVolumeSource> mSource;
    std::shared_ptr<UsbMSDevice> mDevice;
};
