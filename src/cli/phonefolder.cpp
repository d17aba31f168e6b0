#include "phonefolder.h"

#include "devices/foldervolumesource.h"
#include "devices/usbmsdevice.h"

#include <QDir>
#include <QFileInfo>

PhoneFolder::PhoneFolder(const QString &aFolder, qint64 aFreeBytes)
    : mPath(QFileInfo(aFolder).absoluteFilePath()), mFreeBytes(aFreeBytes)
{}

PhoneFolder::~PhoneFolder() = default;

bool PhoneFolder::exists() const
{
    return QFileInfo(mPath).isDir();
}

bool PhoneFolder::create()
{
    return QDir().mkpath(mPath) && exists();
}

std::shared_ptr<UsbMSDevice> PhoneFolder::sharedDevice()
{
    if (mDevice)
        return mDevice;
    mSource = std::make_shared<FolderVolumeSource>(mPath, QString(), mFreeBytes);
    mDevice = std::make_shared<UsbMSDevice>(mSource, mPath, mSource->name(), true);
    return mDevice;
}
