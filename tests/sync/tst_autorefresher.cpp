#include "devices/devicelist.h"
#include "devices/usbbus.h"
#include "fakemtprefresher.h"
#include "fakephonedevice.h"
#include "fakevolumesource.h"
#include "library/localmusiclibrary.h"
#include "scriptedappfactory.h"
#include "sync/autorefresher.h"
#include "testhome.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr qint64 GB = qint64(1) << 30;
}

class TestAutoRefresher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void space_data();
    void space();
    void stateFollowsTheList();

private:
    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    std::shared_ptr<FakeVolumeSource> mVolumes;
    FakeMtpRefresher *mMtp = nullptr;
    std::unique_ptr<DeviceList> mList;
    std::unique_ptr<AutoRefresher> mRefresher;
};

void TestAutoRefresher::init()
{
    mHome = std::make_unique<TestHome>();
    mFactory = std::make_shared<ScriptedAppFactory>();
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mVolumes = std::make_shared<FakeVolumeSource>();
    auto mtp = std::make_unique<FakeMtpRefresher>();
    mMtp = mtp.get();
    mList = std::make_unique<DeviceList>(mVolumes, std::move(mtp));
    QVERIFY(QDir().mkpath(mHome->filePath(u"usb"_qs)));
    mList->setUsbBus(std::make_unique<UsbBus>(mHome->filePath(u"usb"_qs)));
    mList->setRefreshInterval(3600 * 1000);
    mRefresher = std::make_unique<AutoRefresher>(*mLibrary, *mList);
}

void TestAutoRefresher::cleanup()
{
    mRefresher.reset();
    mList.reset();
    mLibrary.reset();
    mHome.reset();
}

void TestAutoRefresher::space_data()
{
    QTest::addColumn<bool>("usb");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<int>("capacityResult");
    QTest::addColumn<int>("freeResult");
    QTest::addColumn<qint64>("expectUsed");
    QTest::addColumn<qint64>("expectFree");

    QTest::newRow("drive") << true << true << 16 * GB << 6 * GB << 0 << 0 << 10 * GB << 6 * GB;
    QTest::newRow("drive not answering")
        << true << false << 16 * GB << 6 * GB << 0 << 0 << qint64(0) << qint64(0);
    QTest::newRow("phone") << false << true << 32 * GB << 2 * GB << 0 << 0 << 30 * GB << 2 * GB;
    QTest::newRow("phone not mounted")
        << false << false << 32 * GB << 2 * GB << 0 << 0 << qint64(0) << qint64(0);
    QTest::newRow("capacity fails")
        << false << true << 32 * GB << 2 * GB << 11003 << 0 << qint64(0) << qint64(0);
    QTest::newRow("free space fails")
        << false << true << 32 * GB << 2 * GB << 0 << 11003 << qint64(0) << qint64(0);
    QTest::newRow("more free than capacity")
        << false << true << 2 * GB << 3 * GB << 0 << 0 << qint64(0) << 3 * GB;
}

void TestAutoRefresher::space()
{
    QFETCH(bool, usb);
    QFETCH(bool, answers);
    QFETCH(qint64, total);
    QFETCH(qint64, free);
    QFETCH(int, capacityResult);
    QFETCH(int, freeResult);
    QFETCH(qint64, expectUsed);
    QFETCH(qint64, expectFree);

    if (usb) {
        const QString root = mHome->filePath(u"drive"_qs);
        QVERIFY(QDir().mkpath(root));
        mVolumes->plug(root, u"Drive"_qs, quint64(total), quint64(free));
        mVolumes->setResponding(root, answers);
    } else {
        auto *phone = FakeMtpRefresher::makePhone(u"Phone"_qs, {u"p"_qs});
        FakePhoneDevice *storage = FakeMtpRefresher::storage(phone);
        storage->mMounted = answers;
        storage->mCapacity = quint64(total);
        storage->mFree = quint64(free);
        storage->mCapacityResult = capacityResult;
        storage->mFreeResult = freeResult;
        mMtp->plug(phone);
    }
    QSignalSpy space(mRefresher.get(), &AutoRefresher::freeSpaceUpdate);
    mRefresher->start();
    // A drive's figures arrive from the checker's thread; a phone is merged on
    // the refresh after its enumeration. Either way the window hears of it.
    const QList<QVariant> expected{expectUsed, expectFree};
    QTRY_VERIFY(!space.isEmpty() && space.last() == expected);

    // A library event reports the figures again.
    const qsizetype before = space.size();
    mFactory->fireEvent();
    QTRY_VERIFY(space.size() > before);
    QCOMPARE(space.last(), expected);
}

void TestAutoRefresher::stateFollowsTheList()
{
    QSignalSpy state(mRefresher.get(), &AutoRefresher::connectedDeviceStateChanged);
    QSignalSpy space(mRefresher.get(), &AutoRefresher::freeSpaceUpdate);
    mRefresher->start();
    QCOMPARE(state.size(), 1);
    QCOMPARE(state.last(), (QList<QVariant>{0, 0}));
    QVERIFY(space.isEmpty());

    const QString root = mHome->filePath(u"drive"_qs);
    QVERIFY(QDir().mkpath(root));
    mVolumes->plug(root, u"Drive"_qs, quint64(8 * GB), quint64(2 * GB));
    mList->update();
    QCOMPARE(state.last(), (QList<QVariant>{1, 0}));
    QTRY_COMPARE(space.last(), (QList<QVariant>{6 * GB, 2 * GB}));
    // Space used by something else shows without the list changing.
    mVolumes->setFreeBytes(root, quint64(GB));
    mFactory->fireEvent();
    QTRY_COMPARE(space.last(), (QList<QVariant>{7 * GB, GB}));

    mVolumes->unplug(root);
    mList->update();
    QCOMPARE(state.last(), (QList<QVariant>{0, 0}));
    const qsizetype states = state.size();
    mList->update();
    QCOMPARE(state.size(), states);

    mRefresher->stop();
    QSignalSpy disabled(mList.get(), &DeviceList::autoRefreshDisabled);
    QTRY_COMPARE(disabled.size(), 1);
}

QTEST_GUILESS_MAIN(TestAutoRefresher)
#include "tst_autorefresher.moc"
