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

using Art = LibrarySnapshot::Artwork;

LibrarySnapshot library()
{
    LibrarySnapshot s;
    QList<qint32> all;
    auto add = [&](const QString &aName, const QString &aArtist, const QString &aPath,
                   const QList<Art> &aArt) {
        LibrarySnapshot::TrackRecord track;
        track.mName = aName;
        track.mAlbum = u"Album"_qs;
        track.mArtist = aArtist;
        track.mPath = aPath;
        track.mArtwork = aArt;
        all << s.addTrack(track);
    };
    add(u"Jpeg song"_qs, u"A"_qs, u"/m/one/1.mp3"_qs, {Art{1, "jpeg-bytes"}});
    add(u"Png song"_qs, u"A"_qs, u"/m/two/2.mp3"_qs, {Art{2, "png-bytes"}});
    add(u"Bmp song"_qs, u"A"_qs, u"/m/three/3.mp3"_qs, {Art{3, "bmp-bytes"}});
    add(u"Bare song"_qs, u"A"_qs, u"/m/bare/1.mp3"_qs, {});
    add(u"Bare song 2"_qs, u"A"_qs, u"/m/bare/2.mp3"_qs, {Art{1, "late"}});
    add(u"Shared"_qs, u"Someone else"_qs, u"/m/shared/x.mp3"_qs, {Art{1, "not mine"}});
    add(u"Mixed"_qs, u"A"_qs, u"/m/mixed/1.mp3"_qs,
        {Art{0, "gif"}, Art{1, "second jpeg"}, Art{2, "third"}});
    s.addPlaylist(u"Library"_qs, 0, all, 1);
    s.addPlaylist(u"Music"_qs, 6, all);
    return s;
}

Track trackFor(const QString &aName, const QString &aPath, const QString &aArtist = u"A"_qs)
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
    void savedByFormat_data();
    void savedByFormat();
    void foldersWithoutPicture();
    void failures();
    void formatOf_data();
    void formatOf();
    void embeddedPictures();

private:
    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
};

void TestArtwork::init()
{
    mLibrary.reset();
    mHome = std::make_unique<TestHome>();
    mFactory = std::make_shared<ScriptedAppFactory>(library());
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mLibrary->setRetryPause(1);
}

void TestArtwork::savedByFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("jpeg") << u"Jpeg song"_qs << u"temp_art.jpg"_qs << QByteArray("jpeg-bytes");
    QTest::newRow("png") << u"Png song"_qs << u"temp_art.png"_qs << QByteArray("png-bytes");
    QTest::newRow("bmp") << u"Bmp song"_qs << u"temp_art.bmp"_qs << QByteArray("bmp-bytes");
    QTest::newRow("unsupported first")
        << u"Mixed"_qs << u"temp_art.jpg"_qs << QByteArray("second jpeg");
}

void TestArtwork::savedByFormat()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    const QString path = mLibrary->generateArtwork(trackFor(name, u"/m/any/x.mp3"_qs));
    QCOMPARE(path, AppPaths::dataFolder() + u"/"_qs + file);
    QCOMPARE(readAll(path), content);
    QVERIFY(mLibrary->noArtworkFolders().isEmpty());
}

void TestArtwork::foldersWithoutPicture()
{
    QVERIFY(mLibrary->generateArtwork(trackFor(u"Bare song"_qs, u"/m/bare/1.mp3"_qs)).isEmpty());
    // The same name by another artist is not this track.
    QVERIFY(mLibrary->generateArtwork(trackFor(u"Shared"_qs, u"/m/shared/x.mp3"_qs)).isEmpty());
    QCOMPARE(mLibrary->noArtworkFolders(), QSet<QString>({u"/m/bare"_qs, u"/m/shared"_qs}));
    const int searches = mFactory->faults().calls(u"Playlist.Search"_qs);
    const Track bare2 = trackFor(u"Bare song 2"_qs, u"/m/bare/2.mp3"_qs);
    QVERIFY(mLibrary->generateArtwork(bare2).isEmpty());
    QCOMPARE(mFactory->faults().calls(u"Playlist.Search"_qs), searches);
    QVERIFY(!LocalMusicLibrary(mFactory).generateArtwork(bare2).isEmpty());
}

// Failures to search leave the folder open; a failed save closes it.
void TestArtwork::failures()
{
    const Track track = trackFor(u"Jpeg song"_qs, u"/m/one/1.mp3"_qs);
    for (const QString &call : {u"Playlist.Search"_qs, u"PlaylistCollection.Item"_qs}) {
        mFactory->faults().fail(call, ITResult::Fail, FaultScript::Always);
        QVERIFY(mLibrary->generateArtwork(track).isEmpty());
        mFactory->faults().clear();
    }
    QVERIFY(mLibrary->generateArtwork(trackFor(u"Unknown"_qs, u"/m/one/2.mp3"_qs)).isEmpty());
    QVERIFY(mLibrary->noArtworkFolders().isEmpty());
    QVERIFY(!mLibrary->generateArtwork(track).isEmpty());

    mFactory->faults().clear();
    mFactory->faults().fail(u"Artwork.Save"_qs, ITResult::Fail, FaultScript::Always);
    QVERIFY(mLibrary->generateArtwork(trackFor(u"Png song"_qs, u"/m/two/2.mp3"_qs)).isEmpty());
    QCOMPARE(mFactory->faults().calls(u"Artwork.Save"_qs), 9);
    QVERIFY(mLibrary->noArtworkFolders().contains(u"/m/two"_qs));
}

void TestArtwork::formatOf_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<int>("format");
    QTest::newRow("jpeg") << LibraryGenerator::jpegPicture() << u"image/png"_qs << 1;
    QTest::newRow("bmp") << QByteArray("BM\x36\0\0\0", 6) << QString() << 3;
    QTest::newRow("gif") << QByteArray("GIF89a") << u"image/jpeg"_qs << 0;
    QTest::newRow("empty, by mime") << QByteArray() << u"image/JPEG"_qs << 1;
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
    const QList<QPair<QByteArray, int>> files = {
        {LibraryGenerator::minimalMp3(LibraryGenerator::jpegPicture(), "image/jpeg"), 1},
        {LibraryGenerator::minimalMp3(LibraryGenerator::pngPicture(), "image/png"), 2},
        {LibraryGenerator::minimalMp3(QByteArray(), QByteArray()), 0}};
    for (const auto &[bytes, format] : files) {
        QFile file(mHome->filePath(u"x.mp3"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const auto art = TrackArtworkReader::read(file.fileName());
        QCOMPARE(art.size(), format ? 1 : 0);
        if (format)
            QCOMPARE(art.first().mFormat, format);
    }
    QVERIFY(TrackArtworkReader::read(mHome->filePath(u"missing.mp3"_qs)).isEmpty());

    const QString demo = QDir::cleanPath(QStringLiteral(MOBRELAY_TEST_DATA) +
                                         u"/../../demo/iTunes Media/Music/The Demo Tones/"
                                         "First Light/03 Evening Triangle.m4a"_qs);
    if (QFile::exists(demo))
        QCOMPARE(TrackArtworkReader::read(demo).value(0).mFormat, 1);
}

QTEST_GUILESS_MAIN(TestArtwork)
#include "tst_artwork.moc"
