#include "sync/tracklist.h"
#include "testhome.h"

#include <QTest>

class TestTrackList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(TestTrackList)
#include "tst_tracklist.moc"
