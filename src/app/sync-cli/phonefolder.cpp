#include "phonefolder.h"

#include "devices/fakevolumesource.h"
#include "devices/usbmsdevice.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

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

UsbMSDevice &PhoneFolder::device()
{
    if (mDevice)
        return *mDevice;
    const QStorageInfo storage(mPath);
    const quint64 total = storage.isValid() ? quint64(storage.bytesTotal()) : 0;
    const quint64 free = mFreeBytes >= 0     ? quint64(mFreeBytes)
                         : storage.isValid() ? quint64(storage.bytesAvailable())
                                             : 0;
    QString name = QFileInfo(mPath).fileName();
    if (name.isEmpty())
        name = QStringLiteral("Folder Phone");
    mSource = std::make_shared<FakeVolumeSource>();
    if (exists())
        mSource->plug(mPath, name, total, free);
    mDevice = std::make_unique<UsbMSDevice>(mSource, mPath, name, true);
    return *mDevice;
}
