#include "sync/logindpowerinhibitor.h"
#include "testhome.h"

#include <QFile>
#include <QTest>

class TestPowerInhibitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noSystemBusFailsSoftly();

private:
    TestHome mHome;
};

// Without a bus the machine may sleep, but the run goes on.
void TestPowerInhibitor::noSystemBusFailsSoftly()
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(mHome.filePath(u"none"_qs)));
    LogindPowerInhibitor inhibitor;
    QVERIFY(!inhibitor.acquire());
    QVERIFY(!inhibitor.isHeld());
    QVERIFY(!inhibitor.lastError().isEmpty());
    inhibitor.release();
}

QTEST_GUILESS_MAIN(TestPowerInhibitor)
#include "tst_powerinhibitor.moc"
