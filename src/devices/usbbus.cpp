#include "devices/usbbus.h"

#include <QDir>
#include <QFile>

UsbBus::UsbBus(const QString &aDevicesFolder) : mFolder(aDevicesFolder) {}

UsbBus::~UsbBus() = default;

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
