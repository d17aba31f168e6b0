// One device list refresh on the calling thread with 30 mounted file systems (two
// of them USB drives) and two MTP phones attached and unchanged: goal under 2 ms,
// and no MTP detection while nothing on the USB bus changes.
#include "core/logger.h"
#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/sysfsvolumesource.h"
#include "devices/usbbus.h"
#include "fakemtprefresher.h"
#include "settings/syncsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void write(const QString &aPath, const QByteArray &aText)
{
    QDir().mkpath(QFileInfo(aPath).path());
    QFile file(aPath);
    if (file.open(QIODevice::WriteOnly))
        file.write(aText + '\n');
}

// A disk below aBus in a sysfs copy, with its partitions linked from class/block.
void addDisk(const QString &aSys, const QString &aBus, const QString &aDisk,
             const QStringList &aPartitions, const QByteArray &aModel)
{
    const QString disk = aSys + u"/devices/"_qs + aBus + u"/block/"_qs + aDisk;
    write(disk + u"/removable"_qs, "0");
    write(aSys + u"/devices/"_qs + aBus + u"/vendor"_qs, "Vendor");
    write(aSys + u"/devices/"_qs + aBus + u"/model"_qs, aModel);
    QFile::link(u"../../.."_qs, disk + u"/device"_qs);
    QDir().mkpath(aSys + u"/class/block"_qs);
    QFile::link(disk, aSys + u"/class/block/"_qs + aDisk);
    for (const QString &partition : aPartitions) {
        write(disk + u'/' + partition + u"/partition"_qs, "1");
        QFile::link(disk + u'/' + partition, aSys + u"/class/block/"_qs + partition);
    }
}

double millisecondsPer(int aRounds, DeviceList &aList)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < aRounds; ++i)
        aList.RefreshDevices();
    return double(timer.nsecsElapsed()) / aRounds / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    const QString sys = home.filePath(u"sys"_qs);

    QStringList fixed;
    QByteArray table = "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
    for (int i = 2; i <= 28; ++i) {
        fixed << u"sda"_qs + QString::number(i);
        table += QByteArray::number(20 + i) + " 22 259:" + QByteArray::number(i) + " / /srv/v" +
                 QByteArray::number(i) + " rw shared:" + QByteArray::number(i) +
                 " - ext4 /dev/sda" + QByteArray::number(i) + " rw\n";
    }
    fixed << u"sda1"_qs;
    addDisk(sys, u"pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0"_qs, u"sda"_qs, fixed,
            "SSD");
    for (const char *disk : {"sdb", "sdc"}) {
        const QString name = QString::fromLatin1(disk);
        addDisk(sys, u"pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/"_qs + name, name,
                {name + u'1'}, "Phone");
        table += "60 22 8:1 / /media/u/" + QByteArray(disk) + " rw shared:60 - vfat /dev/" +
                 QByteArray(disk) + "1 rw\n";
    }
    // Lines that are not block devices are skipped cheaply but still read.
    for (int i = 0; i < 12; ++i)
        table += "70 22 0:" + QByteArray::number(40 + i) + " / /run/t" + QByteArray::number(i) +
                 " rw shared:70 - tmpfs tmpfs rw\n";
    const QString mountInfo = home.filePath(u"mountinfo"_qs);
    write(mountInfo, table);
    const QString usbDevices = home.filePath(u"usb"_qs);
    for (int i = 1; i <= 12; ++i) {
        write(usbDevices + u"/1-"_qs + QString::number(i) + u"/devnum"_qs, QByteArray::number(i));
        QDir().mkpath(usbDevices + u"/1-"_qs + QString::number(i) + u":1.0"_qs);
    }

    auto volumes = std::make_shared<SysfsVolumeSource>(sys, mountInfo, home.filePath(u"l"_qs));
    auto mtp = std::make_unique<FakeMtpRefresher>();
    FakeMtpRefresher *refresher = mtp.get();
    refresher->plug(FakeMtpRefresher::makePhone(u"Pixel"_qs, {u"p1"_qs, u"p2"_qs}));
    refresher->plug(FakeMtpRefresher::makePhone(u"Galaxy"_qs, {u"g1"_qs}));
    DeviceList list(volumes, std::move(mtp));
    list.setUsbBus(std::make_unique<UsbBus>(usbDevices));

    SyncSettings settings;
    settings.load();
    settings.setConfig(u"g1"_qs, true, 0, {}, {}, u"Galaxy"_qs);
    settings.save();

    list.RefreshDevices();
    list.RefreshDevices();
    QCoreApplication::processEvents();
    std::printf("devices: %d, of them USB drives: %d\n", int(list.GetDevices().size()),
                int(list.GetDevices().size() - 3));

    const int detections = refresher->mEnumerations;
    Logger &log = Logger::instance();
    log.close();
    std::printf("refresh, log off:              %8.3f ms\n", millisecondsPer(2000, list));
    QDir().mkpath(Logger::defaultLogFolder());
    log.openDefault();
    list.RefreshDevices();
    const qint64 logBefore = QFileInfo(Logger::defaultLogFolder() + u"/log.txt"_qs).size();
    std::printf("refresh, log on:               %8.3f ms\n", millisecondsPer(2000, list));
    const qint64 logAfter = QFileInfo(Logger::defaultLogFolder() + u"/log.txt"_qs).size();
    log.close();
    std::printf("log bytes over 2000 refreshes: %8lld\n", logAfter - logBefore);
    std::printf("MTP detections while timed:    %8d\n", refresher->mEnumerations - detections);

    QElapsedTimer timer;
    timer.start();
    Device *connected = nullptr;
    for (int i = 0; i < 2000; ++i)
        connected = list.ConnectedDevice();
    std::printf("connected device:              %8.3f ms (%s)\n",
                double(timer.nsecsElapsed()) / 2000 / 1e6,
                connected ? qPrintable(connected->FriendlyName()) : "none");
    return 0;
}
