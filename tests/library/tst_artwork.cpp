#include "app/apppaths.h"
#include "library/localmusiclibrary.h"
#include "library/scriptedappfactory.h"
#include "library/trackartworkreader.h"
#include "librarygenerator.h"
#include "sync/track.h"
#include "testhome.h"

#include "config.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

LibrarySnapshot::Artwork picture(qint32 aFormat, const QByteArray &aData)
{
    return LibrarySnapshot::Artwork{aFormat, aData};
}

LibrarySnapshot::TrackRecord record(const QString &aName, const QString &aArtist,
                                    const QString &aPath,
                                    const QList<LibrarySnapshot::Artwork> &aArt = {})
{
    LibrarySnapshot::TrackRecord track;
    track.mName = aName;
    track.mAlbum = u"Album"_qs;
    track.mArtist = aArtist;
    track.mPath = aPath;
    track.mArtwork = aArt;
    return track;
}

Track trackFor(const QString &aName, const QString &aArtist, const QString &aPath)
{
    return Track(aName, u"Album"_qs, aArtist, 1, aPath, true, false, false, QString());
}

QByteArray readAll(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestArtwork : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void savedByFormat_data();
    void savedByFormat();
    void folderWithoutPictureIsNotAskedAgain();
    void sameNameOtherArtist();
    void unsupportedFirstPicture();
    void failuresLeaveTheFolderOpen();
    void saveFailureRecordsTheFolder();
    void formatOf_data();
    void formatOf();
    void embeddedPictures();
    void demoLibraryPictures();

private:
    LibrarySnapshot library() const;

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
};

LibrarySnapshot TestArtwork::library() const
{
    LibrarySnapshot s;
    QList<qint32> all;
    all << s.addTrack(
        record(u"Jpeg song"_qs, u"A"_qs, u"/m/one/1.mp3"_qs, {picture(1, "jpeg-bytes")}));
    all << s.addTrack(
        record(u"Png song"_qs, u"A"_qs, u"/m/two/2.mp3"_qs, {picture(2, "png-bytes")}));
    all << s.addTrack(
        record(u"Bmp song"_qs, u"A"_qs, u"/m/three/3.mp3"_qs, {picture(3, "bmp-bytes")}));
    all << s.addTrack(record(u"Bare song"_qs, u"A"_qs, u"/m/bare/1.mp3"_qs));
    all << s.addTrack(
        record(u"Bare song 2"_qs, u"A"_qs, u"/m/bare/2.mp3"_qs, {picture(1, "late")}));
    all << s.addTrack(
        record(u"Shared"_qs, u"Someone else"_qs, u"/m/shared/x.mp3"_qs, {picture(1, "not mine")}));
    all << s.addTrack(record(u"Mixed"_qs, u"A"_qs, u"/m/mixed/1.mp3"_qs,
                             {picture(0, "gif"), picture(1, "second jpeg"), picture(2, "third")}));
    s.addPlaylist(u"Library"_qs, 0, all, 1);
    s.addPlaylist(u"Music"_qs, 6, all);
    return s;
}

void TestArtwork::init()
{
    mHome = std::make_unique<TestHome>();
    mFactory = std::make_shared<ScriptedAppFactory>(library());
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mLibrary->setRetryPause(1);
}

void TestArtwork::cleanup()
{
    mLibrary.reset();
    mFactory.reset();
    mHome.reset();
}

void TestArtwork::savedByFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("jpeg") << u"Jpeg song"_qs << u"temp_art.jpg"_qs << QByteArray("jpeg-bytes");
    QTest::newRow("png") << u"Png song"_qs << u"temp_art.png"_qs << QByteArray("png-bytes");
    QTest::newRow("bmp") << u"Bmp song"_qs << u"temp_art.bmp"_qs << QByteArray("bmp-bytes");
}

void TestArtwork::savedByFormat()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    const QString path = mLibrary->generateArtwork(trackFor(name, u"A"_qs, u"/m/any/x.mp3"_qs));
    QCOMPARE(path, AppPaths::dataFolder() + u"/"_qs + file);
    QCOMPARE(readAll(path), content);
    QVERIFY(mLibrary->noArtworkFolders().isEmpty());
}

void TestArtwork::folderWithoutPictureIsNotAskedAgain()
{
    QVERIFY(mLibrary->generateArtwork(trackFor(u"Bare song"_qs, u"A"_qs, u"/m/bare/1.mp3"_qs))
                .isEmpty());
    QCOMPARE(mLibrary->noArtworkFolders(), QSet<QString>({u"/m/bare"_qs}));
    const int searches = mFactory->faults().calls(u"Playlist.Search"_qs);
    QVERIFY(mLibrary->generateArtwork(trackFor(u"Bare song 2"_qs, u"A"_qs, u"/m/bare/2.mp3"_qs))
                .isEmpty());
    QCOMPARE(mFactory->faults().calls(u"Playlist.Search"_qs), searches);
    // A new library object looks again.
    LocalMusicLibrary fresh(mFactory);
    QVERIFY(!fresh.generateArtwork(trackFor(u"Bare song 2"_qs, u"A"_qs, u"/m/bare/2.mp3"_qs))
                 .isEmpty());
}

void TestArtwork::sameNameOtherArtist()
{
    QVERIFY(mLibrary->generateArtwork(trackFor(u"Shared"_qs, u"A"_qs, u"/m/shared/x.mp3"_qs))
                .isEmpty());
    QCOMPARE(mLibrary->noArtworkFolders(), QSet<QString>({u"/m/shared"_qs}));
}

void TestArtwork::unsupportedFirstPicture()
{
    const QString path =
        mLibrary->generateArtwork(trackFor(u"Mixed"_qs, u"A"_qs, u"/m/mixed/1.mp3"_qs));
    QVERIFY(path.endsWith(u"/temp_art.jpg"_qs));
    QCOMPARE(readAll(path), QByteArray("second jpeg"));
}

void TestArtwork::failuresLeaveTheFolderOpen()
{
    const Track track = trackFor(u"Jpeg song"_qs, u"A"_qs, u"/m/one/1.mp3"_qs);
    mFactory->faults().fail(u"Playlist.Search"_qs, ITResult::Fail, FaultScript::Always);
    QVERIFY(mLibrary->generateArtwork(track).isEmpty());
    mFactory->faults().clear();
    mFactory->faults().fail(u"PlaylistCollection.Item"_qs, ITResult::Fail, FaultScript::Always);
    QVERIFY(mLibrary->generateArtwork(track).isEmpty());
    // Not found at all: nothing is recorded either.
    mFactory->faults().clear();
    QVERIFY(
        mLibrary->generateArtwork(trackFor(u"Unknown"_qs, u"A"_qs, u"/m/one/2.mp3"_qs)).isEmpty());
    QVERIFY(mLibrary->noArtworkFolders().isEmpty());
    QVERIFY(!mLibrary->generateArtwork(track).isEmpty());
}

void TestArtwork::saveFailureRecordsTheFolder()
{
    mFactory->faults().fail(u"Artwork.Save"_qs, ITResult::Fail, FaultScript::Always);
    QVERIFY(
        mLibrary->generateArtwork(trackFor(u"Png song"_qs, u"A"_qs, u"/m/two/2.mp3"_qs)).isEmpty());
    QCOMPARE(mFactory->faults().calls(u"Artwork.Save"_qs), 9);
    QVERIFY(mLibrary->noArtworkFolders().contains(u"/m/two"_qs));
}

void TestArtwork::formatOf_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<int>("format");
    QTest::newRow("jpeg") << LibraryGenerator::jpegPicture() << u"image/png"_qs << 1;
    QTest::newRow("png") << LibraryGenerator::pngPicture() << QString() << 2;
    QTest::newRow("bmp") << QByteArray("BM\x36\0\0\0", 6) << QString() << 3;
    QTest::newRow("gif") << QByteArray("GIF89a") << u"image/jpeg"_qs << 0;
    QTest::newRow("empty, by mime") << QByteArray() << u"image/JPEG"_qs << 1;
    QTest::newRow("empty") << QByteArray() << QString() << 0;
}

void TestArtwork::formatOf()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, mime);
    QFETCH(int, format);
    QCOMPARE(TrackArtworkReader::formatOf(data, mime), format);
}

void TestArtwork::embeddedPictures()
{
    if (!HAVE_TAGLIB)
        QSKIP("built without TagLib");
    const QString jpeg = mHome->filePath(u"cover.mp3"_qs);
    const QString png = mHome->filePath(u"png.mp3"_qs);
    const QString none = mHome->filePath(u"none.mp3"_qs);
    const QList<QPair<QString, QByteArray>> files = {
        {jpeg, LibraryGenerator::minimalMp3(LibraryGenerator::jpegPicture(), "image/jpeg")},
        {png, LibraryGenerator::minimalMp3(LibraryGenerator::pngPicture(), "image/png")},
        {none, LibraryGenerator::minimalMp3(QByteArray(), QByteArray())}};
    for (const auto &[path, bytes] : files) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const auto jpegArt = TrackArtworkReader::read(jpeg);
    QCOMPARE(jpegArt.size(), 1);
    QCOMPARE(jpegArt.first().mFormat, 1);
    QCOMPARE(jpegArt.first().mData, LibraryGenerator::jpegPicture());
    const auto pngArt = TrackArtworkReader::read(png);
    QCOMPARE(pngArt.size(), 1);
    QCOMPARE(pngArt.first().mFormat, 2);
    QVERIFY(TrackArtworkReader::read(none).isEmpty());
    QVERIFY(TrackArtworkReader::read(mHome->filePath(u"missing.mp3"_qs)).isEmpty());
}

void TestArtwork::demoLibraryPictures()
{
    if (!HAVE_TAGLIB)
        QSKIP("built without TagLib");
    const QString demo =
        QDir::cleanPath(QStringLiteral(MOBRELAY_TEST_DATA) +
                        u"/../../demo/iTunes Media/Music/The Demo Tones/First Light"_qs) +
        QLatin1Char('/');
    if (!QFile::exists(demo))
        QSKIP("demo library not present");
    for (const QString &name : {u"01 Morning Sine.mp3"_qs, u"03 Evening Triangle.m4a"_qs}) {
        const auto art = TrackArtworkReader::read(demo + name);
        QCOMPARE(art.size(), 1);
        QCOMPARE(art.first().mFormat, 1);
        QVERIFY(art.first().mData.size() > 100);
    }
}

QTEST_GUILESS_MAIN(TestArtwork)
#include "tst_artwork.moc"
