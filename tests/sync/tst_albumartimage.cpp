#include "sync/albumartimage.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTest>

class TestAlbumArtImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void prepares_data();
    void prepares();
    void failures_data();
    void failures();

private:
    TestHome mHome;
};

void TestAlbumArtImage::prepares_data()
{
    QTest::addColumn<QSize>("inputSize");
    QTest::addColumn<QSize>("outputSize");
    QTest::newRow("wide is reduced") << QSize(600, 300) << QSize(300, 150);
    QTest::newRow("tall and small is enlarged") << QSize(100, 200) << QSize(150, 300);
}

// The left half is transparent and must come out white.
void TestAlbumArtImage::prepares()
{
    QFETCH(QSize, inputSize);
    QFETCH(QSize, outputSize);
    QImage input(inputSize, QImage::Format_ARGB32);
    input.fill(QColor(200, 0, 0));
    QPainter painter(&input);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(0, 0, inputSize.width() / 2, inputSize.height(), Qt::transparent);
    painter.end();
    QVERIFY(QDir().mkpath(mHome.filePath(u"VARUZ"_qs)));
    const QString source = mHome.filePath(u"VARUZ/temp_art.png"_qs);
    QVERIFY(input.save(source));

    QVERIFY(AlbumArtImage::prepare(source));
    QImageReader reader(mHome.filePath(u"VARUZ/AlbumArt.jpg"_qs));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage output = reader.read();
    QCOMPARE(output.size(), outputSize);
    const QRgb left = output.pixel(output.width() / 8, output.height() / 2);
    const QRgb right = output.pixel(output.width() * 7 / 8, output.height() / 2);
    QVERIFY(qRed(right) > 180 && qGreen(right) < 25 && qBlue(right) < 25);
    QVERIFY(qRed(left) > 240 && qGreen(left) > 240 && qBlue(left) > 240);
}

void TestAlbumArtImage::failures_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("garbage") << QByteArray(1000, '\x7f');
}

void TestAlbumArtImage::failures()
{
    QFETCH(QByteArray, bytes);
    const QString source = mHome.filePath(u"input.png"_qs);
    QFile::remove(source);
    QFile input(source);
    if (!bytes.isEmpty())
        QVERIFY(input.open(QIODevice::WriteOnly) && input.write(bytes) == bytes.size());
    input.close();
    // A picture left from the previous album must not be placed for this one.
    const QString target = mHome.filePath(u"previous.jpg"_qs);
    QFile previous(target);
    QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write("old") == 3);
    previous.close();

    QVERIFY(!AlbumArtImage::prepare(source, target));
    QVERIFY(!QFile::exists(target));
}

QTEST_GUILESS_MAIN(TestAlbumArtImage)
#include "tst_albumartimage.moc"
