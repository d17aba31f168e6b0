#include "sync/albumartimage.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTest>

class TestAlbumArtImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void prepares_data();
    void prepares();
    void unreadableInputFails_data();
    void unreadableInputFails();
    void unwritableTargetFails();

private:
    static bool isNear(QRgb aPixel, QColor aColor);
    static void writeFile(const QString &aPath, const QByteArray &aBytes);

    TestHome mHome;
};

bool TestAlbumArtImage::isNear(QRgb aPixel, QColor aColor)
{
    // JPEG is lossy: allow a small difference per channel.
    return qAbs(qRed(aPixel) - aColor.red()) < 12 && qAbs(qGreen(aPixel) - aColor.green()) < 12 &&
           qAbs(qBlue(aPixel) - aColor.blue()) < 12;
}

void TestAlbumArtImage::writeFile(const QString &aPath, const QByteArray &aBytes)
{
    QFile f(aPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(aBytes);
}

void TestAlbumArtImage::initTestCase()
{
    QVERIFY(mHome.isValid());
    QVERIFY(QImageReader::supportedImageFormats().contains("jpeg"));
}

void TestAlbumArtImage::prepares_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QSize>("inputSize");
    QTest::addColumn<QSize>("outputSize");
    QTest::addColumn<bool>("leftHalfTransparent");
    QTest::newRow("wide png with transparency")
        << u"png"_qs << QSize(600, 300) << QSize(300, 150) << true;
    QTest::newRow("square png with transparency")
        << u"png"_qs << QSize(400, 400) << QSize(300, 300) << true;
    QTest::newRow("tall small jpeg is enlarged")
        << u"jpg"_qs << QSize(100, 200) << QSize(150, 300) << false;
    QTest::newRow("bmp of the exact size")
        << u"bmp"_qs << QSize(300, 300) << QSize(300, 300) << false;
}

void TestAlbumArtImage::prepares()
{
    QFETCH(QString, format);
    QFETCH(QSize, inputSize);
    QFETCH(QSize, outputSize);
    QFETCH(bool, leftHalfTransparent);
    QImage input(inputSize, QImage::Format_ARGB32);
    input.fill(QColor(200, 0, 0));
    if (leftHalfTransparent) {
        QPainter painter(&input);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(0, 0, inputSize.width() / 2, inputSize.height(), Qt::transparent);
    }
    // The library writes its extracted pictures under these names.
    const QString source = mHome.path() + QStringLiteral("/VARUZ/temp_art.") + format;
    QDir().mkpath(mHome.path() + QStringLiteral("/VARUZ"));
    QVERIFY(input.save(source));
    const QString log = mHome.enableLog();

    QVERIFY(AlbumArtImage::prepare(source));
    mHome.disableLog();

    const QString target = mHome.path() + QStringLiteral("/VARUZ/AlbumArt.jpg");
    QCOMPARE(AlbumArtImage::defaultPath(), target);
    QImageReader reader(target);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage output = reader.read();
    QCOMPARE(output.size(), outputSize);
    QVERIFY(!output.hasAlphaChannel());
    const int y = output.height() / 2;
    const QRgb left = output.pixel(output.width() / 8, y);
    const QRgb right = output.pixel(output.width() * 7 / 8, y);
    QVERIFY(isNear(right, QColor(200, 0, 0)));
    QVERIFY2(isNear(left, leftHalfTransparent ? QColor(Qt::white) : QColor(200, 0, 0)),
             qPrintable(QColor(left).name()));

    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QVERIFY(logFile.readAll().contains("Image saved to"));
}

void TestAlbumArtImage::unreadableInputFails_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("empty file") << QByteArray() << true;
    QTest::newRow("garbage") << QByteArray(1000, '\x7f') << true;
    QTest::newRow("cut-off png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << true;
}

void TestAlbumArtImage::unreadableInputFails()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, exists);
    const QString source = mHome.filePath(QStringLiteral("broken.png"));
    QFile::remove(source);
    if (exists)
        writeFile(source, bytes);
    const QString target = mHome.filePath(QStringLiteral("previous album.jpg"));
    writeFile(target, "picture of the previous album");
    const QString log = mHome.enableLog();

    QVERIFY(!AlbumArtImage::prepare(source, target));
    mHome.disableLog();
    QVERIFY(!QFile::exists(target));
    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QVERIFY(logFile.readAll().contains("Image is null - can't proceed"));
}

void TestAlbumArtImage::unwritableTargetFails()
{
    const QString source = mHome.filePath(QStringLiteral("good.png"));
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QVERIFY(image.save(source));
    // A plain file stands where the target's folder should be.
    const QString blocker = mHome.filePath(QStringLiteral("blocker"));
    writeFile(blocker, "x");
    QVERIFY(!AlbumArtImage::prepare(source, blocker + QStringLiteral("/AlbumArt.jpg")));
}

QTEST_GUILESS_MAIN(TestAlbumArtImage)
#include "tst_albumartimage.moc"
