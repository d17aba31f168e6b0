#pragma once

#include <QWidget>

// The phone's storage as one bar: red from the left for the used part, green
// for the rest; grey when switched off or when nothing is known.
class SpaceGauge : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BarHeight = 20;

    // aWideMargin: the wizard's inset of 20 pixels on each side, else 2.
    explicit SpaceGauge(bool aWideMargin, QWidget *aParent = nullptr);

    qint64 usedSpace() const { return mUsed; }
    qint64 freeSpace() const { return mFree; }
    int barMargin() const { return mMargin; }
    bool isColoured() const { return mColoured; }
    // Width of the red part for the current values and widget width.
    int usedWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public Q_SLOTS:
    void setSpace(qint64 aUsedSpace, qint64 aFreeSpace);
    void enable();
    void disable();

protected:
    void paintEvent(QPaintEvent *aEvent) override;

private:
    void describe();

    qint64 mUsed = 0;
    qint64 mFree = 0;
    int mMargin;
    bool mColoured = true;
};
