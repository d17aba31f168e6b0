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

// Without a bus the machine may sleep: a log line, never a failed run.
void TestPowerInhibitor::noSystemBusFailsSoftly()
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(mHome.filePath(u"none"_qs)));
    const QString log = mHome.enableLog();
    LogindPowerInhibitor inhibitor;
    QVERIFY(!inhibitor.acquire());
    QVERIFY(!inhibitor.isHeld());
    QVERIFY(!inhibitor.lastError().isEmpty());
    inhibitor.release();
    mHome.disableLog();
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("Cannot keep the machine awake"));
}

QTEST_GUILESS_MAIN(TestPowerInhibitor)
#include "tst_powerinhibitor.moc"
