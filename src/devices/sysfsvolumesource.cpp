#include "devices/sysfsvolumesource.h"

#include "core/logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStorageInfo>

#include <algorithm>
#include <sys/statvfs.h>

namespace {
// The mount table writes space, tab, newline and backslash as octal escapes.
QString unescapeMountField(const QByteArray &aField)
{
    QByteArray result;
    result.reserve(aField.size());
    for (qsizetype i = 0; i < aField.size(); ++i) {
        if (aField[i] == '\\' && i + 3 < aField.size()) {
            bool ok = false;
            const int code = aField.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                result.append(char(code));
                i += 3;
                continue;
            }
        }
        result.append(aField[i]);
    }
    return QFile::decodeName(result);
}

// udev writes unsafe characters of a label as \xNN in the link's name.
QString unescapeLabel(const QString &aName)
{
    QByteArray bytes = QFile::encodeName(aName);
    QByteArray result;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x') {
            bool ok = false;
            const int code = bytes.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                result.append(char(code));
                i += 3;
                continue;
            }
        }
        result.append(bytes[i]);
    }
    return QString::fromUtf8(result);
}
} // namespace

SysfsVolumeSource::SysfsVolumeSource(const QString &aSysfsRoot, const QString &aMountInfo,
                                     const QString &aLabelFolder)
    : mSysfsRoot(aSysfsRoot), mMountInfo(aMountInfo), mLabelFolder(aLabelFolder)
{}

QList<VolumeInfo> SysfsVolumeSource::mountedVolumes() const
{
    QList<VolumeInfo> result;
    QFile table(mMountInfo);
    if (!table.open(QIODevice::ReadOnly))
        return result;
    // One line: id parent major:minor root mount-point options [optional...] - type source
    // super-options
    const QList<QByteArray> lines = table.readAll().split('\n');
    QHash<QString, qsizetype> byRoot;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"), 6);
        if (fields.size() < 7 || separator < 0 || separator + 2 >= fields.size())
            continue;
        const QByteArray &source = fields.at(separator + 2);
        if (!source.startsWith("/dev/"))
            continue;
        VolumeInfo volume;
        volume.mRootPath = unescapeMountField(fields.at(4));
        volume.mDeviceNode = unescapeMountField(source);
        // A later mount on the same point hides the earlier one.
        const auto seen = byRoot.constFind(volume.mRootPath);
        if (seen != byRoot.constEnd()) {
            result[*seen] = volume;
            continue;
        }
        byRoot.insert(volume.mRootPath, result.size());
        result.append(volume);
    }
    if (result.isEmpty())
        return result;
    // Labels are links to the device node; reading them does not touch a mount.
    QHash<QString, QString> labels;
    const QFileInfoList links = QDir(mLabelFolder).entryInfoList(QDir::System | QDir::Files);
    for (const QFileInfo &link : links) {
        const QString target = link.symLinkTarget();
        if (!target.isEmpty())
            labels.insert(QFileInfo(target).fileName(), unescapeLabel(link.fileName()));
    }
    for (VolumeInfo &volume : result)
        volume.mLabel = labels.value(QFileInfo(volume.mDeviceNode).fileName());
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

bool SysfsVolumeSource::firstSight(const VolumeInfo &aVolume, const QString &aBlock) const
{
    // Listing runs every two seconds; the log names each volume once.
    const QString key = aVolume.mRootPath + QLatin1Char('\n') + aBlock + QLatin1Char('\n') +
                        aVolume.mName + (aVolume.isPhoneDrive() ? u'1' : u'0');
    QMutexLocker locker(&mLoggedLock);
    if (mLogged.contains(key))
        return false;
    mLogged.insert(key);
    return true;
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
    if (log.isOn() && firstSight(volume, block)) {
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
