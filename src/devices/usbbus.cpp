#include "devices/usbbus.h"

#include <QDir>
#include <QFile>

UsbBus::UsbBus(const QString &aDevicesFolder) : mFolder(aDevicesFolder) {}

UsbBus::~UsbBus() = default;

namespace {
QString readText(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(256)).trimmed() : QString();
}
} // namespace

QString UsbBus::signature() const
{
    const QStringList entries =
        QDir(mFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QString result;
    for (const QString &entry : entries) {
        result += entry;
        // A phone switched from charging to MTP comes back under the same name
        // within one tick; the kernel's device number tells the two apart.
        if (!entry.contains(QLatin1Char(':'))) {
            QFile number(mFolder + QLatin1Char('/') + entry + QStringLiteral("/devnum"));
            if (number.open(QIODevice::ReadOnly))
                result += QLatin1Char('=') + QString::fromLatin1(number.read(16)).trimmed();
        }
        result += QLatin1Char('\n');
    }
    return result;
}

QSet<QString> UsbBus::phoneCandidates() const
{
    QSet<QString> result;
    const QStringList entries =
        QDir(mFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        if (!entry.contains(QLatin1Char(':')))
            continue;
        const QString interface = mFolder + QLatin1Char('/') + entry + QLatin1Char('/');
        // Android names its vendor-specific interface "MTP"; PTP mode is class 6.
        if (readText(interface + QStringLiteral("bInterfaceClass")) != QLatin1String("06") &&
            !readText(interface + QStringLiteral("interface")).contains(QLatin1String("MTP")))
            continue;
        const QString device = mFolder + QLatin1Char('/') + entry.section(QLatin1Char(':'), 0, 0);
        bool busOk = false;
        bool deviceOk = false;
        const int bus = readText(device + QStringLiteral("/busnum")).toInt(&busOk);
        const int number = readText(device + QStringLiteral("/devnum")).toInt(&deviceOk);
        if (busOk && deviceOk)
            result.insert(QStringLiteral("usb:%1,%2").arg(bus).arg(number));
    }
    return result;
}
