#include "devices/fakevolumesource.h"
#include "devices/sysfsvolumesource.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
// Writes a fake sysfs tree shaped like the kernel's: class/block links into
// devices/, partitions inside their disk, "device" links to the bus device.
class FakeSysfs
{
public:
    explicit FakeSysfs(const QString &aRoot) : mRoot(aRoot) {}

    // aDisk: the disk's folder below devices/; aDeviceLink: target of its "device" link.
    void addDisk(const QString &aDisk, const QString &aDeviceLink, const QString &aRemovable,
                 const QStringList &aPartitions = {})
    {
        const QString disk = mRoot + QStringLiteral("/devices/") + aDisk;
        QVERIFY(QDir().mkpath(disk));
        write(disk + QStringLiteral("/removable"), aRemovable + QLatin1Char('\n'));
        QVERIFY(QFile::link(aDeviceLink, disk + QStringLiteral("/device")));
        const QString name = QFileInfo(disk).fileName();
        link(aDisk, name);
        for (const QString &partition : aPartitions) {
            QVERIFY(QDir().mkpath(disk + QLatin1Char('/') + partition));
            write(disk + QLatin1Char('/') + partition + QStringLiteral("/partition"),
                  QStringLiteral("1\n"));
            link(aDisk + QLatin1Char('/') + partition, partition);
        }
    }
    void attribute(const QString &aDevice, const QString &aName, const QString &aValue)
    {
        write(mRoot + QStringLiteral("/devices/") + aDevice + QLatin1Char('/') + aName,
              aValue + QLatin1Char('\n'));
    }

private:
    void link(const QString &aTarget, const QString &aName)
    {
        QVERIFY(QDir().mkpath(mRoot + QStringLiteral("/class/block")));
        QVERIFY(QFile::link(QStringLiteral("../../devices/") + aTarget,
                            mRoot + QStringLiteral("/class/block/") + aName));
    }
    void write(const QString &aPath, const QString &aText)
    {
        QVERIFY(QDir().mkpath(QFileInfo(aPath).path()));
        QFile file(aPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(aText.toUtf8());
    }
    QString mRoot;
};

const QString UsbScsi =
    QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0");
const QString UsbReader =
    QStringLiteral("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0");
const QString UsbBare =
    QStringLiteral("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host8/target8:0:0/8:0:0:0");
const QString Sata = QStringLiteral("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0");
const QString Nvme = QStringLiteral("pci0000:00/0000:00:1d.0/0000:03:00.0/nvme/nvme0");
const QString SdSlot = QStringLiteral("pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:aaaa");
const QString Emmc = QStringLiteral("pci0000:00/0000:00:1a.0/mmc_host/mmc1/mmc1:0001");
} // namespace

class TestVolumeSource : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void describe_data();
    void describe();
    void realDiskSpace();
    void fakeDrives();

private:
    std::unique_ptr<TestHome> mHome;
    QString mSysfs;
};

void TestVolumeSource::initTestCase()
{
    mHome = std::make_unique<TestHome>();
    mSysfs = mHome->filePath(QStringLiteral("sys"));
    FakeSysfs sys(mSysfs);
    sys.addDisk(UsbScsi + QStringLiteral("/block/sdb"), QStringLiteral("../../../6:0:0:0"),
                QStringLiteral("1"), {QStringLiteral("sdb1")});
    sys.attribute(UsbScsi, QStringLiteral("vendor"), QStringLiteral("SAMSUNG "));
    sys.attribute(UsbScsi, QStringLiteral("model"), QStringLiteral("GT-I9000 Card   "));
    // Phones in mass-storage mode often report themselves fixed.
    sys.addDisk(UsbReader + QStringLiteral("/block/sdc"), QStringLiteral("../../../7:0:0:0"),
                QStringLiteral("0"));
    sys.attribute(UsbReader, QStringLiteral("vendor"), QStringLiteral("Generic-"));
    sys.attribute(UsbReader, QStringLiteral("model"), QStringLiteral("SD/MMC"));
    sys.addDisk(UsbBare + QStringLiteral("/block/sdd"), QStringLiteral("../../../8:0:0:0"),
                QStringLiteral("1"), {QStringLiteral("sdd1")});
    sys.addDisk(Sata + QStringLiteral("/block/sda"), QStringLiteral("../../../0:0:0:0"),
                QStringLiteral("0"), {QStringLiteral("sda1"), QStringLiteral("sda2")});
    sys.attribute(Sata, QStringLiteral("vendor"), QStringLiteral("ATA     "));
    sys.attribute(Sata, QStringLiteral("model"), QStringLiteral("Samsung SSD 860 "));
    sys.addDisk(Nvme + QStringLiteral("/nvme0n1"), QStringLiteral("../../nvme0"),
                QStringLiteral("0"), {QStringLiteral("nvme0n1p2")});
    sys.attribute(Nvme, QStringLiteral("model"), QStringLiteral("WDC PC SN530 SDBPNPZ-512G"));
    sys.addDisk(SdSlot + QStringLiteral("/block/mmcblk0"), QStringLiteral("../../../mmc0:aaaa"),
                QStringLiteral("0"), {QStringLiteral("mmcblk0p1")});
    sys.attribute(SdSlot, QStringLiteral("type"), QStringLiteral("SD"));
    sys.attribute(SdSlot, QStringLiteral("name"), QStringLiteral("SC32G"));
    sys.addDisk(Emmc + QStringLiteral("/block/mmcblk1"), QStringLiteral("../../../mmc1:0001"),
                QStringLiteral("0"), {QStringLiteral("mmcblk1p1")});
    sys.attribute(Emmc, QStringLiteral("type"), QStringLiteral("MMC"));
}

void TestVolumeSource::describe_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("usb");
    QTest::addColumn<bool>("removable");
    QTest::addColumn<QString>("name");

    QTest::newRow("usb phone partition") << "/dev/sdb1"
                                         << "PHONE" << true << true << "SAMSUNG GT-I9000 Card";
    QTest::newRow("usb card reader, whole disk") << "/dev/sdc"
                                                 << "" << true << false << "Generic- SD/MMC";
    QTest::newRow("usb stick without names, label") << "/dev/sdd1"
                                                    << "STICK" << true << true << "STICK";
    QTest::newRow("usb stick without any name") << "/dev/sdd1"
                                                << "" << true << true << "Unknown Device";
    QTest::newRow("sata disk") << "/dev/sda2"
                               << "home" << false << false << "ATA Samsung SSD 860";
    QTest::newRow("nvme disk") << "/dev/nvme0n1p2"
                               << "" << false << false << "WDC PC SN530 SDBPNPZ-512G";
    QTest::newRow("sd card slot") << "/dev/mmcblk0p1"
                                  << "CARD" << false << true << "CARD";
    QTest::newRow("soldered emmc") << "/dev/mmcblk1p1"
                                   << "" << false << false << "Unknown Device";
    QTest::newRow("not a block device") << "tmpfs"
                                        << "" << false << false << "Unknown Device";
    QTest::newRow("unknown block device") << "/dev/sdz1"
                                          << "X" << false << false << "X";
}

void TestVolumeSource::describe()
{
    QFETCH(QString, node);
    QFETCH(QString, label);
    QFETCH(bool, usb);
    QFETCH(bool, removable);
    VolumeInfo volume;
    volume.mRootPath = QStringLiteral("/media/user/x");
    volume.mDeviceNode = node;
    volume.mLabel = label;
    volume.mTotalBytes = 1000;
    const VolumeInfo described = SysfsVolumeSource(mSysfs).describe(volume);
    QCOMPARE(described.mUsb, usb);
    QCOMPARE(described.mRemovable, removable);
    QCOMPARE(described.isPhoneDrive(), usb || removable);
    QTEST(described.mName, "name");
    QCOMPARE(described.mRootPath, volume.mRootPath);
    QCOMPARE(described.mTotalBytes, quint64(1000));
}

void TestVolumeSource::realDiskSpace()
{
    SysfsVolumeSource source;
    quint64 total = 0;
    quint64 free = 0;
    QVERIFY(source.diskSpace(QStringLiteral("/"), total, free));
    QVERIFY(total > 0);
    QVERIFY(free <= total);
    // A folder that is not a mount point must not pass for a mounted drive.
    QVERIFY(!source.diskSpace(mHome->path(), total, free));
    QCOMPARE(total, quint64(0));
    QVERIFY(!source.isMounted(mHome->filePath(QStringLiteral("missing"))));
}

void TestVolumeSource::fakeDrives()
{
    FakeVolumeSource source;
    const QString a = mHome->filePath(QStringLiteral("phoneA"));
    const QString b = mHome->filePath(QStringLiteral("phoneB"));
    QVERIFY(QDir().mkpath(a));
    QVERIFY(QDir().mkpath(b));
    source.plug(b + QLatin1Char('/'), QStringLiteral("Phone B"), 1000, 600);
    source.plug(a, QString());
    QList<VolumeInfo> drives = source.phoneDrives();
    QCOMPARE(drives.size(), 2);
    QCOMPARE(drives[0].mName, QStringLiteral("Unknown Device"));
    QCOMPARE(drives[1].mRootPath, b);

    quint64 total = 0;
    quint64 free = 0;
    source.setFreeBytes(b, 5);
    QVERIFY(source.diskSpace(b + QLatin1Char('/'), total, free));
    QCOMPARE(total, quint64(1000));
    QCOMPARE(free, quint64(5));
    source.setResponding(b, false);
    QVERIFY(!source.isMounted(b));
    QCOMPARE(source.phoneDrives().size(), 2);
    source.setResponding(b, true);
    QVERIFY(QDir(b).removeRecursively());
    QVERIFY(!source.isMounted(b));

    source.unplug(a + QLatin1Char('/'));
    drives = source.phoneDrives();
    QCOMPARE(drives.size(), 1);
    QVERIFY(!source.isMounted(a));
}

QTEST_GUILESS_MAIN(TestVolumeSource)
#include "tst_volumesource.moc"
