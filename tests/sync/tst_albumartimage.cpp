#include "sync/albumartimage.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTest>

class TestAlbumArtImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void prepares();
    void failures();

private:
    TestHome mHome;
};

// A wide picture is reduced; its transparent left half must come out white.
void TestAlbumArtImage::prepares()
{
    QImage input(QSize(600, 300), QImage::Format_ARGB32);
    input.fill(Qt::transparent);
    QPainter(&input).fillRect(300, 0, 300, 300, QColor(200, 0, 0));
    QVERIFY(QDir().mkpath(mHome.filePath(u"VARUZ"_qs)));
    const QString source = mHome.filePath(u"VARUZ/temp_art.png"_qs);
    QVERIFY(input.save(source));

    QVERIFY(AlbumArtImage::prepare(source));
    const QImage output(mHome.filePath(u"VARUZ/AlbumArt.jpg"_qs), "jpeg");
    QCOMPARE(output.size(), QSize(300, 150));
    const QRgb left = output.pixel(40, 75);
    const QRgb right = output.pixel(260, 75);
    QVERIFY(qRed(right) > 180 && qGreen(right) < 25 && qBlue(right) < 25);
    QVERIFY(qRed(left) > 240 && qGreen(left) > 240 && qBlue(left) > 240);
}

// A picture left from the previous album must not be placed for this one.
void TestAlbumArtImage::failures()
{
    const QString source = mHome.filePath(u"input.png"_qs);
    const QString target = mHome.filePath(u"previous.jpg"_qs);
    for (const QByteArray &bytes : {QByteArray(), QByteArray(1000, '\x7f')}) {
        QFile input(source);
        QVERIFY(input.open(QIODevice::WriteOnly) && input.write(bytes) == bytes.size());
        input.close();
        QFile previous(target);
        QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write("old") == 3);
        previous.close();
        QVERIFY(!AlbumArtImage::prepare(bytes.isEmpty() ? source + u'x' : source, target));
        QVERIFY(!QFile::exists(target));
    }
}

QTEST_GUILESS_MAIN(TestAlbumArtImage)
#include "tst_albumartimage.moc"
