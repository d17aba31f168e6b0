#include "devices/spacecalculator.h"
#include "fakevolumesource.h"
#include "spacefaultdevice.h"
#include "testhome.h"
#include "ui/spacegauge.h"

#include <QLocale>
#include <QTest>

namespace {
constexpr qint64 GB = qint64(1) << 30;

// 'r' red, 'g' green, 'n' grey, '?' anything else (the border, the background).
char colourKind(QRgb aPixel)
{
    const int r = qRed(aPixel), g = qGreen(aPixel), b = qBlue(aPixel);
    if (r > g + 60 && r > b + 60)
        return 'r';
    if (g > r + 60 && g > b + 60)
        return 'g';
    if (qAbs(r - g) < 16 && qAbs(g - b) < 16 && r > 150 && r < 240)
        return 'n';
    return '?';
}
} // namespace

class TestSpaceGauge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void calculateAndDraw_data();
    void calculateAndDraw();
    void negativeFigures();

private:
    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<FakeVolumeSource> mSource;
};

void TestSpaceGauge::initTestCase()
{
    mHome = std::make_unique<TestHome>();
    mSource = std::make_shared<FakeVolumeSource>();
}

void TestSpaceGauge::calculateAndDraw_data()
{
    QTest::addColumn<bool>("mounted");
    QTest::addColumn<int>("capacityResult");
    QTest::addColumn<qint64>("capacity");
    QTest::addColumn<int>("freeResult");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<bool>("coloured");
    QTest::addColumn<bool>("wide");
    QTest::addColumn<int>("result");
    QTest::addColumn<qint64>("used");
    QTest::addColumn<int>("redWidth");
    QTest::addColumn<char>("rest");

    // Bar 396 pixels wide with the narrow margin, 360 with the wide one.
    QTest::newRow("3 GB used of 4")
        << true << 0 << 4 * GB << 0 << GB << true << false << 0 << 3 * GB << 297 << 'g';
    QTest::newRow("wizard margin")
        << true << 0 << 4 * GB << 0 << 2 * GB << true << true << 0 << 2 * GB << 180 << 'g';
    QTest::newRow("percent rounded down") << true << 0 << qint64(200) << 0 << qint64(199) << true
                                          << false << 0 << qint64(1) << 0 << 'g';
    QTest::newRow("full") << true << 0 << 8 * GB << 0 << qint64(0) << true << false << 0 << 8 * GB
                          << 396 << '?';
    QTest::newRow("switched off") << true << 0 << 4 * GB << 0 << GB << false << false << 0 << 3 * GB
                                  << 0 << 'n';
    QTest::newRow("not mounted") << false << 0 << 4 * GB << 0 << GB << true << false << 0
                                 << qint64(0) << 0 << 'n';
    QTest::newRow("capacity fails")
        << true << 11003 << 4 * GB << 0 << GB << true << false << 11003 << qint64(0) << 0 << 'n';
    QTest::newRow("free space fails") << true << 0 << 4 * GB << 11003 << qint64(0) << true << false
                                      << 11003 << qint64(0) << 0 << 'n';
    QTest::newRow("free above capacity")
        << true << 0 << 4 * GB << 0 << 5 * GB << true << false << 0 << qint64(0) << 0 << 'g';
    QTest::newRow("exabytes") << true << 0 << (qint64(1) << 62) << 0 << (qint64(1) << 61) << true
                              << false << 0 << (qint64(1) << 61) << 198 << 'g';
}

void TestSpaceGauge::calculateAndDraw()
{
    QFETCH(bool, mounted);
    QFETCH(int, capacityResult);
    QFETCH(qint64, capacity);
    QFETCH(int, freeResult);
    QFETCH(qint64, free);
    QFETCH(bool, coloured);
    QFETCH(bool, wide);
    QFETCH(int, result);
    QFETCH(qint64, used);
    QFETCH(int, redWidth);
    QFETCH(char, rest);

    const QString root = mHome->filePath(u"phone"_qs);
    QVERIFY(QDir().mkpath(root));
    if (mounted)
        mSource->plug(root);
    else
        mSource->unplug(root);
    SpaceFaultDevice device(mSource, root, u"Phone"_qs, false);
    device.mCapacityResult = capacityResult;
    device.mCapacity = quint64(capacity);
    device.mFreeResult = freeResult;
    // A failed query that leaves 0 behind must not show a full phone.
    device.mFree = freeResult == 0 ? quint64(free) : 0;

    qint64 usedBytes = 0;
    qint64 freeBytes = 0;
    QCOMPARE(SpaceCalculator::calculate(device, usedBytes, freeBytes), result);
    QCOMPARE(usedBytes, used);
    const qint64 shownFree = mounted && result == 0 ? free : 0;
    QCOMPARE(freeBytes, shownFree);

    SpaceGauge gauge(wide);
    gauge.resize(400, 23);
    gauge.setSpace(usedBytes, freeBytes);
    if (!coloured)
        gauge.disable();
    QCOMPARE(gauge.usedWidth(), redWidth);
    const QImage image = gauge.grab().toImage();
    const int left = gauge.barMargin();
    const int barWidth = 400 - 2 * left;
    const int y = SpaceGauge::BarHeight / 2;
    if (redWidth > 0) {
        QCOMPARE(colourKind(image.pixel(left + 3, y)), 'r');
        QCOMPARE(colourKind(image.pixel(left + redWidth - 3, y)), 'r');
    }
    if (redWidth < barWidth) {
        QCOMPARE(colourKind(image.pixel(left + redWidth + 3, y)), rest);
        QCOMPARE(colourKind(image.pixel(left + barWidth - 3, y)), rest);
    }

    const QLocale locale;
    QCOMPARE(gauge.toolTip().contains(locale.formattedDataSize(usedBytes)),
             usedBytes + freeBytes > 0);
    QCOMPARE(gauge.accessibleDescription(), gauge.toolTip());
}

// Figures that did not come through the calculator.
void TestSpaceGauge::negativeFigures()
{
    SpaceGauge gauge(false);
    gauge.resize(400, 23);
    gauge.setSpace(-GB, 5 * GB);
    QCOMPARE(gauge.usedWidth(), 0);
    QCOMPARE(colourKind(gauge.grab().toImage().pixel(5, SpaceGauge::BarHeight / 2)), 'g');
}

QTEST_MAIN(TestSpaceGauge)
#include "tst_spacegauge.moc"
