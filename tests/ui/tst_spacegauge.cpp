#include "devices/spacecalculator.h"
#include "fakevolumesource.h"
#include "spacefaultdevice.h"
#include "testhome.h"
#include "ui/spacegauge.h"

#include <QLocale>
#include <QTest>

namespace {
constexpr qint64 GB = qint64(1) << 30;
constexpr int Failed = 11003;

// 'r' red, 'g' green, 'n' grey, '?' anything else (the border, the background).
char colourKind(QRgb aPixel)
{
    const int r = qRed(aPixel), g = qGreen(aPixel), b = qBlue(aPixel);
    if (r > g + 60 && r > b + 60)
        return 'r';
    if (g > r + 60 && g > b + 60)
        return 'g';
    return qAbs(r - g) < 16 && qAbs(g - b) < 16 && r > 150 && r < 240 ? 'n' : '?';
}
} // namespace

class TestSpaceGauge : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void calculateAndDraw_data();
    void calculateAndDraw();
    void negativeFigures();
};

void TestSpaceGauge::calculateAndDraw_data()
{
    QTest::addColumn<QString>("fault"); // "unmounted", "capacity", "free" or none
    QTest::addColumn<qint64>("capacity");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<char>("gauge"); // 'n' narrow margin, 'w' wide, 'o' switched off
    QTest::addColumn<qint64>("used");
    QTest::addColumn<int>("redWidth"); // of 396 pixels, 360 with the wide margin
    QTest::addColumn<char>("rest");

    const QString none;
    QTest::newRow("3 GB used of 4") << none << 4 * GB << GB << 'n' << 3 * GB << 297 << 'g';
    QTest::newRow("wide margin") << none << 4 * GB << 2 * GB << 'w' << 2 * GB << 180 << 'g';
    QTest::newRow("rounded down") << none << qint64(200) << qint64(199) << 'n' << qint64(1) << 0
                                  << 'g';
    QTest::newRow("full") << none << 8 * GB << qint64(0) << 'n' << 8 * GB << 396 << '?';
    QTest::newRow("switched off") << none << 4 * GB << GB << 'o' << 3 * GB << 0 << 'n';
    QTest::newRow("not mounted") << u"unmounted"_qs << 4 * GB << GB << 'n' << qint64(0) << 0 << 'n';
    QTest::newRow("capacity fails")
        << u"capacity"_qs << 4 * GB << GB << 'n' << qint64(0) << 0 << 'n';
    QTest::newRow("free space fails") << u"free"_qs << 4 * GB << GB << 'n' << qint64(0) << 0 << 'n';
    QTest::newRow("free above capacity")
        << none << 4 * GB << 5 * GB << 'n' << qint64(0) << 0 << 'g';
    QTest::newRow("exabytes") << none << (qint64(1) << 62) << (qint64(1) << 61) << 'n'
                              << (qint64(1) << 61) << 198 << 'g';
}

void TestSpaceGauge::calculateAndDraw()
{
    QFETCH(QString, fault);
    QFETCH(qint64, capacity);
    QFETCH(qint64, free);
    QFETCH(char, gauge);
    QFETCH(qint64, used);
    QFETCH(int, redWidth);
    QFETCH(char, rest);

    TestHome home;
    auto source = std::make_shared<FakeVolumeSource>();
    if (fault != u"unmounted")
        source->plug(home.path());
    SpaceFaultDevice device(source, home.path(), u"Phone"_qs, false);
    device.mCapacityResult = fault == u"capacity" ? Failed : 0;
    device.mCapacity = quint64(capacity);
    // A failed query that leaves 0 behind must not show a full phone.
    device.mFreeResult = fault == u"free" ? Failed : 0;
    device.mFree = fault == u"free" ? 0 : quint64(free);

    qint64 usedBytes = 0;
    qint64 freeBytes = 0;
    const int result = fault == u"capacity" || fault == u"free" ? Failed : 0;
    QCOMPARE(SpaceCalculator::calculate(device, usedBytes, freeBytes), result);
    QCOMPARE(usedBytes, used);
    QCOMPARE(freeBytes, fault.isEmpty() ? free : 0);

    SpaceGauge widget(gauge == 'w');
    widget.resize(400, 23);
    widget.setSpace(usedBytes, freeBytes);
    if (gauge == 'o')
        widget.disable();
    QCOMPARE(widget.usedWidth(), redWidth);
    const QImage image = widget.grab().toImage();
    const int left = widget.barMargin();
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
    QCOMPARE(widget.toolTip().contains(QLocale().formattedDataSize(usedBytes)),
             usedBytes + freeBytes > 0);
    QCOMPARE(widget.accessibleDescription(), widget.toolTip());
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
