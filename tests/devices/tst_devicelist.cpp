#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/mtp/mtpmacdevicerefresher.h"
#include "devices/usbbus.h"
#include "fakemtpphone.h"
#include "fakemtprefresher.h"
#include "fakemtptransport.h"
#include "fakephonedevice.h"
#include "fakevolumesource.h"
#include "settings/syncsettings.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {
class CountingObserver : public MDeviceListObserver
{
public:
    void deviceListChanged() override { ++mCalls; }
    int mCalls = 0;
};

bool writeFile(const QString &aPath, const QByteArray &aContent)
{
    QFile file(aPath);
    return QDir().mkpath(QFileInfo(aPath).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(aContent) == aContent.size();
}

// A USB device with an MTP interface, as the kernel lists it below aUsb.
bool addMtpOnBus(const QString &aUsb, const QByteArray &aBus, const QByteArray &aDevice)
{
    const QString dir = aUsb + u'/' + QString::fromLatin1(aBus + '-' + aDevice);
    return writeFile(dir + u"/busnum"_qs, aBus) && writeFile(dir + u"/devnum"_qs, aDevice) &&
           writeFile(dir + u":1.0/interface"_qs, "MTP");
}

QStringList names(const QList<Device *> &aDevices)
{
    QStringList result;
    for (Device *device : aDevices)
        result.append(device->FriendlyName());
    return result;
}
} // namespace

class TestDeviceList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void sequence_data();
    void sequence();
    void connectedDevice_data();
    void connectedDevice();
    void selection_data();
    void selection();
    void disableEnableCycle();
    void phonesNotOpenedYet();
    void lockedPhoneWithTheRealSearch();

private:
    // Applies one step of a script and refreshes as the timer would.
    bool step(const QString &aOp);
    void plugDrive(const QString &aName);
    void plugPhone(const QString &aName, const QStringList &aIds);
    void configure(const QStringList &aIds);
    // Waits for the checks in flight; then every drive's mounted state must be what its fake
    // answers.
    void settleChecks();

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeVolumeSource> mVolumes;
    FakeMtpRefresher *mMtp = nullptr;
    std::unique_ptr<DeviceList> mList;
    CountingObserver mObserver;
    QHash<QString, DeviceParent *> mPhones;
    QSet<QString> mHung;
    int mBusGeneration = 0;
};

void TestDeviceList::init()
{
    mHome = std::make_unique<TestHome>();
    mVolumes = std::make_shared<FakeVolumeSource>();
    auto mtp = std::make_unique<FakeMtpRefresher>();
    mMtp = mtp.get();
    mList = std::make_unique<DeviceList>(mVolumes, std::move(mtp));
    QVERIFY(QDir().mkpath(mHome->filePath(u"usb"_qs)));
    mList->setUsbBus(std::make_unique<UsbBus>(mHome->filePath(u"usb"_qs)));
    // The tests drive every refresh themselves.
    mList->setRefreshInterval(3600 * 1000);
    mObserver = CountingObserver();
    mPhones.clear();
    mHung.clear();
    mBusGeneration = 0;
}

void TestDeviceList::cleanup()
{
    mList.reset();
    mVolumes.reset();
    mHome->disableLog();
    mHome.reset();
}

void TestDeviceList::plugDrive(const QString &aName)
{
    const QString root = mHome->filePath(aName);
    QVERIFY(QDir().mkpath(root));
    mVolumes->plug(root, aName);
}

void TestDeviceList::plugPhone(const QString &aName, const QStringList &aIds)
{
    DeviceParent *phone = FakeMtpRefresher::makePhone(aName, aIds);
    mPhones.insert(aName, phone);
    mMtp->plug(phone);
    // The phone's arrival shows on the USB bus; the kernel numbers it anew.
    QVERIFY(QDir().mkpath(mHome->filePath(u"usb/1-"_qs + QString::number(++mBusGeneration))));
}

void TestDeviceList::configure(const QStringList &aIds)
{
    SyncSettings settings;
    settings.load();
    for (const QString &id : aIds)
        QCOMPARE(settings.setConfig(id, true, 0, {}, {}, id), 0);
    QCOMPARE(settings.save(), 0);
}

void TestDeviceList::settleChecks()
{
    QTRY_COMPARE(mList->pendingMountChecks(), 0);
    for (Device *device : mList->GetDevices()) {
        if (device->GetDeviceType() != Device::TypeUsbMassStorage)
            continue;
        const int expected = mHung.contains(device->FriendlyName()) ? 0 : 1;
        QCOMPARE(mList->mountedState(device), expected);
    }
}

// Ops: "+A" plug drive A, "-A" unplug it, "~A" A stops answering, "+P…" plug
// phone P… (two storages), "-P…" unplug it, "." nothing.
bool TestDeviceList::step(const QString &aOp)
{
    const QString name = aOp.mid(1);
    const bool phone = name.startsWith(QLatin1Char('P'));
    if (aOp.startsWith(QLatin1Char('+')) && phone) {
        plugPhone(name, {name + u"-1"_qs, name + u"-2"_qs});
    } else if (aOp.startsWith(QLatin1Char('+'))) {
        plugDrive(name);
    } else if (aOp.startsWith(QLatin1Char('-')) && phone) {
        mMtp->unplug(mPhones.take(name));
        QDir(mHome->filePath(u"usb"_qs)).removeRecursively();
        QDir().mkpath(mHome->filePath(u"usb/0-"_qs + QString::number(++mBusGeneration)));
    } else if (aOp.startsWith(QLatin1Char('-'))) {
        mVolumes->unplug(mHome->filePath(name));
    } else if (aOp.startsWith(QLatin1Char('~'))) {
        mVolumes->setResponding(mHome->filePath(name), false);
        mHung.insert(name);
    }
    const int before = mObserver.mCalls;
    mList->update();
    // Phones found by the enumeration are merged on the refresh after it.
    QCoreApplication::processEvents();
    settleChecks();
    return mObserver.mCalls != before;
}

void TestDeviceList::sequence_data()
{
    QTest::addColumn<QStringList>("ops");
    // Whether each op's refresh told the observer, then the device names after it.
    QTest::addColumn<QString>("calls");
    QTest::addColumn<QStringList>("after");

    // A new drive first shows unmounted; the refresh after its check counts it.
    QTest::newRow("drive in and out") << QStringList{u"+A"_qs, u"."_qs, u"."_qs, u"-A"_qs, u"."_qs}
                                      << u"11010"_qs << QStringList{};
    QTest::newRow("drive stops answering")
        << QStringList{u"+A"_qs, u"."_qs, u"~A"_qs, u"."_qs, u"."_qs} << u"11010"_qs
        << QStringList{u"A"_qs};
    QTest::newRow("phone in and out")
        << QStringList{u"+P"_qs, u"."_qs, u"-P"_qs, u"."_qs} << u"1010"_qs << QStringList{};
    QTest::newRow("drive and phone interleaved")
        << QStringList{u"+A"_qs, u"+P"_qs, u"."_qs, u"-A"_qs, u"+P2"_qs, u"-P"_qs, u"."_qs}
        << u"1101110"_qs << QStringList{u"P2 P2-1"_qs, u"P2 P2-2"_qs};
}

void TestDeviceList::sequence()
{
    QFETCH(QStringList, ops);
    QFETCH(QString, calls);
    QFETCH(QStringList, after);

    const QString log = mHome->enableLog();
    mList->EnableAutoRefresh(&mObserver);
    QCOMPARE(mObserver.mCalls, 1);
    // Objects must survive refreshes while attached. Holding them keeps a
    // rebuilt object from reusing the old one's address.
    QHash<QString, std::shared_ptr<Device>> held;
    QHash<QString, QString> ids;
    QString got;
    for (const QString &op : std::as_const(ops)) {
        const qint64 logSize = QFileInfo(log).size();
        const bool called = step(op);
        got += called ? u"1"_qs : u"0"_qs;
        if (!called)
            QCOMPARE(QFileInfo(log).size(), logSize);
        QSet<QString> present;
        for (Device *device : mList->GetDevices()) {
            const QString name = device->FriendlyName();
            present.insert(name);
            if (held.contains(name)) {
                QCOMPARE(device, held.value(name).get());
                QCOMPARE(mList->deviceId(device), ids.value(name));
            }
            held.insert(name, mList->sharedDevice(device));
            ids.insert(name, mList->deviceId(device));
            QCOMPARE(mList->deviceById(mList->deviceId(device)), device);
        }
        for (auto it = held.begin(); it != held.end();)
            it = present.contains(it.key()) ? std::next(it) : held.erase(it);
    }
    QCOMPARE(got, calls);
    if (after.isEmpty())
        QVERIFY(!mList->DeviceIsConnected());
    QStringList present = names(mList->GetDevices());
    for (QString &name : present)
        name = QFileInfo(name).fileName();
    QCOMPARE(present, after);
    // Raw detection ran only when the USB bus changed, never on idle ticks.
    const auto phoneOps = std::count_if(ops.begin(), ops.end(), [](const QString &aOp) {
        return aOp.mid(1).startsWith(QLatin1Char('P'));
    });
    QCOMPARE(mMtp->mEnumerations, 1 + int(phoneOps));
}

void TestDeviceList::connectedDevice_data()
{
    QTest::addColumn<QStringList>("storages");   // unique ids, in list order
    QTest::addColumn<QStringList>("configured"); // in settings file order
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QStringList{} << QStringList{} << QString();
    QTest::newRow("none configured: first")
        << QStringList{u"a"_qs, u"b"_qs} << QStringList{} << u"a"_qs;
    QTest::newRow("later settings entry wins")
        << QStringList{u"a"_qs, u"b"_qs} << QStringList{u"b"_qs, u"a"_qs} << u"a"_qs;
    QTest::newRow("later settings entry wins, other order")
        << QStringList{u"a"_qs, u"b"_qs} << QStringList{u"a"_qs, u"b"_qs} << u"b"_qs;
    QTest::newRow("tie: later in list")
        << QStringList{u"a"_qs, u"x"_qs, u"x"_qs, u"c"_qs} << QStringList{u"x"_qs} << u"x#3"_qs;
    QTest::newRow("usb drive configured last")
        << QStringList{u"a"_qs, u"usb"_qs} << QStringList{u"a"_qs, u"usb"_qs} << u"usb"_qs;
}

void TestDeviceList::connectedDevice()
{
    QFETCH(QStringList, storages);
    QFETCH(QStringList, configured);
    QFETCH(QString, expected);

    configure(configured);
    int position = 0;
    for (const QString &id : std::as_const(storages)) {
        ++position;
        if (id == u"usb"_qs) {
            // Its id is on the drive, read once the drive answers.
            QVERIFY(writeFile(mHome->filePath(u"usbdrive/VARUZ/uniqueid"_qs), "usb"));
            plugDrive(u"usbdrive"_qs);
        } else {
            auto *phone = FakeMtpRefresher::makePhone(u"phone"_qs, {id});
            // Equal ids are told apart by position.
            FakeMtpRefresher::storage(phone)->mName = id + u"#"_qs + QString::number(position);
            mMtp->plug(phone);
            QVERIFY(QDir().mkpath(mHome->filePath(u"usb/"_qs + QString::number(position))));
        }
        mList->RefreshDevices();
    }
    mList->RefreshDevices();
    settleChecks();
    Device *device = mList->ConnectedDevice();
    QCOMPARE(mList->DeviceIsConnected(), !expected.isEmpty());
    if (expected.isEmpty()) {
        QVERIFY(!device);
        return;
    }
    QVERIFY(device);
    const QString name = device->FriendlyName();
    if (expected.contains(QLatin1Char('#')))
        QCOMPARE(name, expected);
    else
        QCOMPARE(device->UniqueDeviceId(), expected);
    QCOMPARE(mList->GetDevices().size(), storages.size());

    // A phone set up while the list lives (the wizard's Finish) counts at once.
    if (!configured.contains(storages.last())) {
        configure({storages.last()});
        QCOMPARE(mList->ConnectedDevice(), mList->GetDevices().last());
    }
}

void TestDeviceList::selection_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("unplug");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing chosen") << -1 << QString() << QString();
    QTest::newRow("past the end") << 3 << QString() << QString();
    QTest::newRow("kept when an earlier one leaves") << 1 << u"A"_qs << u"B"_qs;
    QTest::newRow("gone with its drive") << 1 << u"B"_qs << QString();
}

void TestDeviceList::selection()
{
    QFETCH(int, index);
    QFETCH(QString, unplug);
    QFETCH(QString, expected);

    for (const QString &name : {u"A"_qs, u"B"_qs, u"C"_qs})
        plugDrive(name);
    mList->RefreshDevices();
    mList->SelectDevice(index);
    if (!unplug.isEmpty())
        mVolumes->unplug(mHome->filePath(unplug));
    mList->RefreshDevices();
    Device *device = mList->SelectedDevice();
    QCOMPARE(mList->DeviceIsSelected(), !expected.isEmpty());
    QCOMPARE(device ? QFileInfo(device->FriendlyName()).fileName() : QString(), expected);
}

void TestDeviceList::disableEnableCycle()
{
    QSignalSpy disabled(mList.get(), &DeviceList::autoRefreshDisabled);
    // Never enabled: the lock is taken all the same, and the caller told.
    mList->DisableAutoRefresh();
    QTRY_COMPARE(disabled.count(), 1);
    QVERIFY(mMtp->mLocked);

    // An enumeration is running when the run wants the phones left alone.
    mMtp->mInstant = false;
    mList->EnableAutoRefresh(&mObserver);
    QCOMPARE(mMtp->mEnumerations, 1);
    mList->DisableAutoRefresh();
    QVERIFY(mList->autoRefreshEnabled());
    QTest::qWait(100);
    QCOMPARE(disabled.count(), 1);

    plugPhone(u"P"_qs, {u"p"_qs});
    mMtp->finish();
    QTRY_COMPARE(disabled.count(), 2);
    QVERIFY(!mList->autoRefreshEnabled());
    QVERIFY(mMtp->mLocked);
    // Disabled: no refresh reaches the observer, no enumeration starts.
    const int calls = mObserver.mCalls;
    mList->update();
    QCOMPARE(mObserver.mCalls, calls);
    QCOMPARE(mMtp->mEnumerations, 1);
    // A second caller (a run after the wizard) is answered too.
    mList->DisableAutoRefresh();
    QTRY_COMPARE(disabled.count(), 3);

    // The phone found before the lock was taken is merged at once; the bus
    // changed meanwhile, so phones are looked for again.
    mMtp->mInstant = true;
    mList->EnableAutoRefresh(&mObserver);
    QCOMPARE(mObserver.mCalls, calls + 1);
    QCOMPARE(names(mList->GetDevices()), QStringList{u"P p"_qs});
    QCOMPARE(mMtp->mEnumerations, 2);
    QVERIFY(!mMtp->mLocked);
    mList->EnableAutoRefresh(&mObserver);
    QCOMPARE(mObserver.mCalls, calls + 1);

    // Without an enumeration running, the lock is taken on the next turn of the loop.
    mList->DisableAutoRefresh();
    QCOMPARE(disabled.count(), 3);
    QTRY_COMPARE(disabled.count(), 4);
    QVERIFY(mMtp->mLocked);
}

void TestDeviceList::phonesNotOpenedYet()
{
    QSignalSpy unable(mList.get(), &DeviceList::unableToOpenDevice);
    mMtp->mInstant = false;
    mList->EnableAutoRefresh(&mObserver);
    mMtp->finish(1);
    QTRY_COMPARE(unable.count(), 1);
    // The phone is tried again now and then, but the user hears of it once.
    for (int i = 0; i < 2 * DeviceList::RetryUnopenedEveryRefreshes; ++i) {
        mList->update();
        mMtp->finish(1);
        QCoreApplication::processEvents();
    }
    QVERIFY(mMtp->mEnumerations > 1);
    QVERIFY(mMtp->mEnumerations <= 3);
    QCOMPARE(unable.count(), 1);
    // Plugged again: a new phone as far as the user is concerned.
    QVERIFY(QDir().mkpath(mHome->filePath(u"usb/2-1"_qs)));
    mList->update();
    mMtp->finish(1);
    QTRY_COMPARE(unable.count(), 2);

    // A locked phone opens without storage and is not listed, silently; its
    // MTP interface on the bus keeps it being looked for.
    mMtp->mInstant = true;
    QVERIFY(addMtpOnBus(mHome->filePath(u"usb"_qs), "3", "7"));
    mList->update();
    const int searches = mMtp->mEnumerations;
    for (int i = 0; i < 2 * DeviceList::RetryUnopenedEveryRefreshes; ++i) {
        mList->update();
        QCoreApplication::processEvents();
    }
    QVERIFY(mMtp->mEnumerations > searches);
    QCOMPARE(unable.count(), 2);
}

// With the libmtp search over the in-memory phone: a phone locked when plugged
// in shows once unlocked, though the USB bus did not change.
void TestDeviceList::lockedPhoneWithTheRealSearch()
{
    auto transport = std::make_shared<FakeMtpTransport>();
    auto phone = std::make_shared<FakeMtpPhone>(u"SER1"_qs, 1, 5);
    phone->setLocked(true);
    transport->addPhone(phone);
    DeviceList list(mVolumes, std::make_unique<MtpMacDeviceRefresher>(transport));
    QVERIFY(addMtpOnBus(mHome->filePath(u"usb"_qs), "1", "5"));
    list.setUsbBus(std::make_unique<UsbBus>(mHome->filePath(u"usb"_qs)));
    list.setRefreshInterval(20);
    list.EnableAutoRefresh(&mObserver);
    QTest::qWait(200);
    QVERIFY(list.GetDevices().isEmpty());
    phone->setLocked(false);
    QTRY_COMPARE(list.GetDevices().size(), 1);
    QCOMPARE(list.deviceId(list.GetDevices().first()), u"mtp:SER1:1"_qs);
}

QTEST_GUILESS_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
