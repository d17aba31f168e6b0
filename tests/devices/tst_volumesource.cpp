#include "devices/foldervolumesource.h"
#include "devices/sysfsvolumesource.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
// Shaped like the kernel's: class/block links into devices/, "device" links to the bus device.
void write(const QString &aPath, const QString &aText)
{
    QVERIFY(QDir().mkpath(QFileInfo(aPath).path()));
    QFile file(aPath);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(aText.toUtf8() + '\n') > 0);
}

// aBus: the bus device below devices/; aDisk: its block folder, relative to it.
void addDisk(const QString &aSys, const QString &aBus, const QString &aDisk, bool aRemovable,
             const QStringList &aPartitions, const QStringList &aAttributes = {})
{
    const QString devices = aSys + u"/devices/"_qs;
    const QString disk = aBus + u'/' + aDisk;
    write(devices + disk + u"/removable"_qs, aRemovable ? u"1"_qs : u"0"_qs);
    QVERIFY(QFile::link(u"../"_qs.repeated(aDisk.count(u'/') + 2) + QFileInfo(aBus).fileName(),
                        devices + disk + u"/device"_qs));
    QVERIFY(QDir().mkpath(aSys + u"/class/block"_qs));
    for (const QString &node : QStringList{QString()} + aPartitions) {
        if (!node.isEmpty())
            write(devices + disk + u'/' + node + u"/partition"_qs, u"1"_qs);
        const QString target = node.isEmpty() ? disk : disk + u'/' + node;
        QVERIFY(QFile::link(u"../../devices/"_qs + target,
                            aSys + u"/class/block/"_qs + QFileInfo(target).fileName()));
    }
    for (int i = 0; i + 1 < aAttributes.size(); i += 2)
        write(devices + aBus + u'/' + aAttributes[i], aAttributes[i + 1]);
}
} // namespace

class TestVolumeSource : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void describe_data();
    void describe();
    void mountTable();
    void realDiskSpace();
    void folderAsDrive();

private:
    std::unique_ptr<TestHome> mHome;
    QString mSysfs;
};

void TestVolumeSource::initTestCase()
{
    mHome = std::make_unique<TestHome>();
    mSysfs = mHome->filePath(u"sys"_qs);
    const QString usb =
        u"pci0000:00/0000:00:14.0/usb1/1-%1/1-%1:1.0/host%2/target%2:0:0/%2:0:0:0"_qs;
    addDisk(mSysfs, usb.arg(2).arg(6), u"block/sdb"_qs, true, {u"sdb1"_qs},
            {u"vendor"_qs, u"SAMSUNG "_qs, u"model"_qs, u"GT-I9000 Card   "_qs});
    // Phones in mass-storage mode often report themselves fixed.
    addDisk(mSysfs, usb.arg(1).arg(7), u"block/sdc"_qs, false, {},
            {u"vendor"_qs, u"Generic-"_qs, u"model"_qs, u"SD/MMC"_qs});
    addDisk(mSysfs, u"pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0"_qs, u"block/sda"_qs,
            false, {u"sda1"_qs, u"sda2"_qs},
            {u"vendor"_qs, u"ATA     "_qs, u"model"_qs, u"Samsung SSD 860 "_qs});
    addDisk(mSysfs, u"pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:aaaa"_qs, u"block/mmcblk0"_qs,
            false, {u"mmcblk0p1"_qs}, {u"type"_qs, u"SD"_qs, u"name"_qs, u"SC32G"_qs});
}

void TestVolumeSource::describe_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("usb");
    QTest::addColumn<bool>("phone");
    QTest::addColumn<QString>("name");

    QTest::newRow("usb phone") << u"/dev/sdb1"_qs << u"PHONE"_qs << true << true
                               << u"SAMSUNG GT-I9000 Card"_qs;
    QTest::newRow("usb reader, whole disk")
        << u"/dev/sdc"_qs << QString() << true << true << u"Generic- SD/MMC"_qs;
    QTest::newRow("sata") << u"/dev/sda2"_qs << u"home"_qs << false << false
                          << u"ATA Samsung SSD 860"_qs;
    QTest::newRow("sd slot") << u"/dev/mmcblk0p1"_qs << u"CARD"_qs << false << true << u"CARD"_qs;
}

void TestVolumeSource::describe()
{
    QFETCH(QString, node);
    QFETCH(QString, label);
    QFETCH(bool, usb);
    VolumeInfo volume;
    volume.mDeviceNode = node;
    volume.mLabel = label;
    const VolumeInfo described = SysfsVolumeSource(mSysfs).describe(volume);
    QCOMPARE(described.mUsb, usb);
    QTEST(described.isPhoneDrive(), "phone");
    QTEST(described.mName, "name");
}

void TestVolumeSource::mountTable()
{
    // None of these mount points exists: listing must not need to reach them.
    const QString table = mHome->filePath(u"mountinfo"_qs);
    write(table, u"22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                 "25 22 0:21 / /proc rw shared:12 - proc proc rw\n"
                 "40 22 8:17 / /media/u/MY\\040PHONE rw,nosuid shared:30 - vfat /dev/sdb1 rw\n"
                 "41 22 8:32 / /media/u/reader rw shared:31 - exfat /dev/sda1 rw\n"
                 "42 22 179:1 / /media/u/card rw shared:32 master:5 - vfat /dev/mmcblk0p1 rw\n"
                 "43 41 8:32 / /media/u/reader rw shared:33 - exfat /dev/sdc rw\n"
                 "44 22 0:50 / /run/user/1000 rw shared:40 - tmpfs tmpfs rw\n"
                 "45 22 0:51 / /broken"_qs);
    const QString labels = mHome->filePath(u"by-label"_qs);
    QVERIFY(QDir().mkpath(labels));
    QVERIFY(QFile::link(u"../../sdb1"_qs, labels + u"/MY\\x20PHONE"_qs));
    const QList<VolumeInfo> drives = SysfsVolumeSource(mSysfs, table, labels).phoneDrives();
    QStringList got;
    for (const VolumeInfo &drive : drives)
        got << drive.mRootPath + u'=' + drive.mDeviceNode + u'=' + drive.mLabel;
    QCOMPARE(got,
             (QStringList{u"/media/u/MY PHONE=/dev/sdb1=MY PHONE"_qs,
                          u"/media/u/card=/dev/mmcblk0p1="_qs, u"/media/u/reader=/dev/sdc="_qs}));
    QVERIFY(SysfsVolumeSource(mSysfs, mHome->filePath(u"none"_qs)).phoneDrives().isEmpty());
}

void TestVolumeSource::realDiskSpace()
{
    quint64 total = 0;
    quint64 free = 0;
    // A folder that is not a mount point must not pass for a mounted drive.
    QVERIFY(!SysfsVolumeSource().diskSpace(mHome->path(), total, free) && total == 0);
}

void TestVolumeSource::folderAsDrive()
{
    const QString folder = mHome->filePath(u"phone"_qs);
    QVERIFY(QDir().mkpath(folder));
    FolderVolumeSource source(folder + u'/', QString(), 1234);
    quint64 total = 0;
    quint64 free = 0;
    QVERIFY(source.diskSpace(folder + u"/"_qs, total, free));
    QVERIFY(total > 0);
    QCOMPARE(free, quint64(1234));
    QVERIFY(!source.diskSpace(mHome->path(), total, free));
    QCOMPARE(source.phoneDrives().value(0).mName, u"phone"_qs);

    // A folder that goes away is an unplugged phone.
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(!source.isMounted(folder));
    QVERIFY(source.phoneDrives().isEmpty());
}

QTEST_GUILESS_MAIN(TestVolumeSource)
#include "tst_volumesource.moc"
