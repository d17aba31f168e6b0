#include "cannedhttpserver.h"
#include "settings/syncsettings.h"
#include "testhome.h"
#include "update/softwareupdatewatcher.h"
#include "update/vendorsite.h"

#include <QSignalSpy>
#include <QTest>

namespace {
void setBase(const QString &aBase)
{
    SyncSettings settings;
    settings.load();
    settings.setGlobalStringValue(VendorSite::BaseKey, aBase);
    settings.save();
}
} // namespace

class TestSoftwareUpdateWatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void vendorSite_data();
    void vendorSite();
    void notice_data();
    void notice();

private:
    std::unique_ptr<TestHome> mHome;
    CannedHttpServer mServer;
};

void TestSoftwareUpdateWatcher::initTestCase()
{
    mHome = std::make_unique<TestHome>();
    QVERIFY(mServer.start());
}

void TestSoftwareUpdateWatcher::vendorSite_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("help");

    const QString fallback = VendorSite::DefaultBase + VendorSite::Help;
    QTest::newRow("trailing slash and path")
        << u" https://mirror.test/old/ "_qs << u"https://mirror.test/help/help.html"_qs;
    QTest::newRow("not a web address") << u"ftp://mirror.test"_qs << fallback;
    QTest::newRow("no scheme") << u"mirror.test"_qs << fallback;
}

void TestSoftwareUpdateWatcher::vendorSite()
{
    QFETCH(QString, base);
    QFETCH(QString, help);
    setBase(base);
    QCOMPARE(VendorSite::current().url(VendorSite::Help).toString(), help);
}

void TestSoftwareUpdateWatcher::notice_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("text");

    const QByteArray lf = "Mobrelay 1.2\nnotice-12\nA new version is out.\n";
    QByteArray crlf = lf;
    crlf.replace("\n", "\r\n");
    const QByteArray huge = lf + QByteArray(SoftwareUpdateWatcher::MaxNoticeBytes, 'x');

    QTest::newRow("CRLF") << CannedHttpServer::answer(200, crlf) << u"Mobrelay 1.2"_qs
                          << u"notice-12"_qs << u"A new version is out."_qs;
    QTest::newRow("UTF-8, BOM, no last line feed")
        << CannedHttpServer::answer(200, "\xEF\xBB\xBFMise \xC3\xA0 jour\nn\xC2\xB0"
                                         "13\nVoil\xC3\xA0")
        << u"Mise \u00e0 jour"_qs << u"n\u00b013"_qs << u"Voil\u00e0"_qs;
    QTest::newRow("two lines") << CannedHttpServer::answer(200, "Title\nnotice-14\n") << QString()
                               << QString() << QString();
    QTest::newRow("404") << CannedHttpServer::answer(404, lf) << QString() << QString()
                         << QString();
    QTest::newRow("oversized, declared")
        << CannedHttpServer::answer(200, huge) << QString() << QString() << QString();
    QTest::newRow("oversized, streamed")
        << CannedHttpServer::answer(200, huge, false) << QString() << QString() << QString();
    QTest::newRow("no answer") << QByteArray() << QString() << QString() << QString();
}

void TestSoftwareUpdateWatcher::notice()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, title);
    QFETCH(QString, identifier);
    QFETCH(QString, text);
    setBase(mServer.baseAddress());
    mServer.setAnswer(answer);

    SoftwareUpdateWatcher watcher;
    watcher.setTimeout(500);
    QSignalSpy found(&watcher, &SoftwareUpdateWatcher::updateInfoFound);
    QSignalSpy finished(&watcher, &SoftwareUpdateWatcher::checkFinished);
    watcher.getUpdateInfo(VendorSite::current().url(VendorSite::UpdateNotice).toString());
    QVERIFY(finished.wait(10000));
    QCOMPARE(mServer.lastPath(), QByteArray("/update/update123.txt"));
    QCOMPARE(found.count(), text.isEmpty() ? 0 : 1);
    QCOMPARE(watcher.title(), title);
    QCOMPARE(watcher.identifier(), identifier);
    QCOMPARE(watcher.text(), text);
}

QTEST_GUILESS_MAIN(TestSoftwareUpdateWatcher)
#include "tst_softwareupdatewatcher.moc"
