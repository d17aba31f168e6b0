#include "ui/spacegauge.h"

#include <QLinearGradient>
#include <QLocale>
#include <QPainter>

#include <limits>

SpaceGauge::SpaceGauge(bool aWideMargin, QWidget *aParent)
    : QWidget(aParent), mMargin(aWideMargin ? 20 : 2)
{
    describe();
}

int SpaceGauge::usedWidth() const
{
    const qint64 total = mUsed + mFree;
    if (!mColoured || total <= 0)
        return 0;
    const int barWidth = qMax(0, width() - 2 * mMargin);
    // 128 bits: used x 100 must not overflow for any size a phone can report.
    const qint64 percent = qMin<qint64>(100, qint64(__int128(mUsed) * 100 / total));
    return int(percent * barWidth / 100);
}

QSize SpaceGauge::sizeHint() const
{
    return {200, 23};
}

QSize SpaceGauge::minimumSizeHint() const
{
    return {100, 23};
}

void SpaceGauge::setSpace(qint64 aUsedSpace, qint64 aFreeSpace)
{
    // Negative figures come from a device that reported free space above its
    // capacity; they would draw the red part backwards.
    mUsed = qMax<qint64>(0, aUsedSpace);
    mFree = qMax<qint64>(0, aFreeSpace);
    if (mUsed > std::numeric_limits<qint64>::max() - mFree)
        mUsed = std::numeric_limits<qint64>::max() - mFree;
    describe();
    update();
}

void SpaceGauge::enable()
{
    mColoured = true;
    update();
}

void SpaceGauge::disable()
{
    mColoured = false;
    update();
}

void SpaceGauge::paintEvent(QPaintEvent *)
{
    const QColor green(0, 255, 0);
    const QColor red(255, 0, 0);
    const QColor grey(128, 128, 128);
    const int barWidth = qMax(0, width() - 2 * mMargin);

    QLinearGradient freeGradient(0, 0, 0, 30);
    freeGradient.setColorAt(0, Qt::white);
    freeGradient.setColorAt(1, mColoured && (mUsed != 0 || mFree != 0) ? green : grey);
    QLinearGradient usedGradient(0, 0, 0, 30);
    usedGradient.setColorAt(0, Qt::white);
    usedGradient.setColorAt(1, red);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);
    painter.setBrush(freeGradient);
    // Half a pixel in, so that the one-pixel border falls on whole pixels.
    painter.drawRoundedRect(QRectF(mMargin + 0.5, 0.5, barWidth - 1, BarHeight - 1), 3.0, 3.0);
    const int used = usedWidth();
    if (used > 1) {
        painter.setBrush(usedGradient);
        painter.drawRoundedRect(QRectF(mMargin + 0.5, 0.5, used - 1, BarHeight - 1), 3.0, 3.0);
    }
}

void SpaceGauge::describe()
{
    const QLocale locale;
    const QString text = mUsed == 0 && mFree == 0 ? tr("Phone space unknown")
                                                  : tr("Used: %1, free: %2")
                                                        .arg(locale.formattedDataSize(mUsed),
                                                             locale.formattedDataSize(mFree));
    setToolTip(text);
    setAccessibleName(tr("Phone space"));
    setAccessibleDescription(text);
}
