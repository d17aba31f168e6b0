#include "devices/sysfsvolumesource.h"

#include "core/logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>

#include <algorithm>
#include <sys/statvfs.h>

SysfsVolumeSource::SysfsVolumeSource(const QString &aSysfsRoot) : mSysfsRoot(aSysfsRoot) {}

QList<VolumeInfo> SysfsVolumeSource::mountedVolumes()
{
    QList<VolumeInfo> result;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &storage : volumes) {
        if (!storage.isValid() || !storage.isReady())
            continue;
        VolumeInfo volume;
        volume.mRootPath = storage.rootPath();
        volume.mDeviceNode = QString::fromLocal8Bit(storage.device());
        volume.mLabel = storage.name();
        volume.mTotalBytes = quint64(std::max<qint64>(storage.bytesTotal(), 0));
        volume.mFreeBytes = quint64(std::max<qint64>(storage.bytesAvailable(), 0));
        result.append(volume);
    }
    return result;
}

QList<VolumeInfo> SysfsVolumeSource::phoneDrives()
{
    QList<VolumeInfo> result;
    const QList<VolumeInfo> mounted = mountedVolumes();
    for (const VolumeInfo &volume : mounted) {
        const VolumeInfo described = describe(volume);
        if (described.isPhoneDrive())
            result.append(described);
    }
    std::sort(result.begin(), result.end(),
              [](const VolumeInfo &a, const VolumeInfo &b) { return a.mRootPath < b.mRootPath; });
    return result;
}

QString SysfsVolumeSource::readAttribute(const QString &aPath) const
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(4096)).simplified();
}

VolumeInfo SysfsVolumeSource::describe(const VolumeInfo &aVolume) const
{
    VolumeInfo volume = aVolume;
    volume.mUsb = false;
    volume.mRemovable = false;
    volume.mName = volume.mLabel.isEmpty() ? UnknownDevice : volume.mLabel;

    // /dev/disk/by-label/... and /dev/mapper/... are links to the kernel's name.
    QString node = volume.mDeviceNode;
    const QString resolved = QFileInfo(node).canonicalFilePath();
    if (!resolved.isEmpty())
        node = resolved;
    if (!node.startsWith(QLatin1String("/dev/")))
        return volume;

    const QString root = QFileInfo(mSysfsRoot).canonicalFilePath();
    QString block =
        QFileInfo(mSysfsRoot + QStringLiteral("/class/block/") + QFileInfo(node).fileName())
            .canonicalFilePath();
    if (root.isEmpty() || block.isEmpty())
        return volume;
    if (QFileInfo::exists(block + QStringLiteral("/partition")))
        block = QFileInfo(block).path();

    static const QRegularExpression usbBus(QStringLiteral("^usb[0-9]+$"));
    const QStringList parts = block.mid(root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    volume.mUsb = std::any_of(parts.begin(), parts.end(),
                              [](const QString &aPart) { return usbBus.match(aPart).hasMatch(); });
    // Kernels do not flag an SD card slot as removable, though its card is.
    volume.mRemovable =
        readAttribute(block + QStringLiteral("/removable")) == QLatin1String("1") ||
        readAttribute(block + QStringLiteral("/device/type")) == QLatin1String("SD");

    const QString vendor = readAttribute(block + QStringLiteral("/device/vendor"));
    const QString model = readAttribute(block + QStringLiteral("/device/model"));
    const QString name = QString(vendor + QLatin1Char(' ') + model).trimmed();
    if (!name.isEmpty())
        volume.mName = name;
    Logger &log = Logger::instance();
    if (log.isOn()) {
        log.value("Volume", volume.mRootPath);
        log.value("block device", block);
        log.value("name", volume.mName);
        log.value("isUsbDevice", volume.isPhoneDrive() ? "true" : "false");
    }
    return volume;
}

bool SysfsVolumeSource::diskSpace(const QString &aRootPath, quint64 &aTotalBytes,
                                  quint64 &aFreeBytes)
{
    aTotalBytes = 0;
    aFreeBytes = 0;
    // An unmounted mount point is still a folder that statvfs answers for.
    const QString root = QDir::cleanPath(aRootPath);
    const QStorageInfo storage(root);
    if (!storage.isValid() || !storage.isReady() || QDir::cleanPath(storage.rootPath()) != root)
        return false;
    struct statvfs info;
    if (::statvfs(QFile::encodeName(root).constData(), &info) != 0)
        return false;
    aTotalBytes = quint64(info.f_blocks) * info.f_frsize;
    aFreeBytes = quint64(info.f_bavail) * info.f_frsize;
    return true;
}
