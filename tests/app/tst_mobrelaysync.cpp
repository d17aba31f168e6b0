// mobrelay-sync from end to end: a library of files made with ffmpeg, a temporary folder as phone.
#include "testhome.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <sys/stat.h>

namespace {

struct LibraryTrack
{
    QString mName, mArtist, mAlbum;
    int mNumber = 0;
    QString mFormat, mCover; // extension; colour of an embedded cover, if any
    qint64 mBytes = 0;       // made-up contents of this size instead of audio
    QString mDate;           // set for podcast episodes
    QString mPath = {};
};

struct RunResult
{
    int mExitCode = -1;
    QString mOut, mErr;

    // The numbers of the "state N" lines, in order.
    QList<int> states() const
    {
        QList<int> result;
        for (const QString &line : mOut.split(QLatin1Char('\n')).filter(u"state "_qs))
            result.append(line.section(QLatin1Char(' '), 1, 1).toInt());
        return result;
    }
    bool copiedSomething() const { return mOut.contains(u"progress 13 "_qs); }
};

void start(QProcess &aProcess, const QString &aHome, const QStringList &aArguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_qs, aHome);
    aProcess.setProcessEnvironment(env);
    aProcess.start(qEnvironmentVariable("MOBRELAY_BINARY_DIR") + u"/src/mobrelay-sync"_qs,
                   aArguments);
}

RunResult finish(QProcess &aProcess, int aTimeoutMs = 60000)
{
    if (!aProcess.waitForFinished(aTimeoutMs)) {
        aProcess.kill();
        aProcess.waitForFinished();
    }
    return {aProcess.exitStatus() == QProcess::NormalExit ? aProcess.exitCode() : -1,
            QString::fromUtf8(aProcess.readAllStandardOutput()),
            QString::fromUtf8(aProcess.readAllStandardError())};
}

RunResult run(const QString &aHome, const QStringList &aArguments, int aTimeoutMs = 60000)
{
    QProcess process;
    start(process, aHome, aArguments);
    return finish(process, aTimeoutMs);
}

bool ffmpeg(const QStringList &aArguments)
{
    QProcess process;
    process.start(u"ffmpeg"_qs, QStringList{u"-v"_qs, u"error"_qs, u"-y"_qs} + aArguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QStringList words(const QString &aText)
{
    return aText.split(QLatin1Char(' '));
}

bool makeAudio(LibraryTrack &aTrack, const QString &aFolder, int aIndex)
{
    const QString dir = aFolder + u"/%1/%2"_qs.arg(aTrack.mArtist, aTrack.mAlbum);
    QDir().mkpath(dir);
    aTrack.mPath = u"%1/%2 %3.%4"_qs.arg(dir)
                       .arg(aTrack.mNumber, 2, 10, QLatin1Char('0'))
                       .arg(aTrack.mName, aTrack.mFormat);
    if (aTrack.mBytes > 0) {
        // Made-up MPEG-4 files stop after their first box: no decoder can read them.
        QFile file(aTrack.mPath);
        const QByteArray head = aTrack.mFormat == u"mp3"_qs
                                    ? QByteArray()
                                    : QByteArray::fromHex("0000001866747970") + "M4A ";
        return file.open(QIODevice::WriteOnly) &&
               file.write(head + QByteArray(aTrack.mBytes, char(aIndex + 1))) > 0;
    }
    QStringList args{u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
                     u"sine=frequency=%1:duration=0.4"_qs.arg(220 + 110 * aIndex)};
    if (!aTrack.mCover.isEmpty()) {
        const QString cover = aFolder + u"/cover-%1.jpg"_qs.arg(aTrack.mCover);
        if (!QFileInfo::exists(cover) &&
            !ffmpeg(words(u"-f lavfi -i color=c=%1:s=96x64 -frames:v 1"_qs.arg(aTrack.mCover)) +
                    QStringList{cover}))
            return false;
        args += QStringList{u"-i"_qs, cover} +
                words(u"-map 0:a -map 1:v -c:v copy -disposition:v attached_pic"_qs);
    }
    args += {u"-metadata"_qs, u"title="_qs + aTrack.mName,
             u"-metadata"_qs, u"artist="_qs + aTrack.mArtist,
             u"-metadata"_qs, u"album="_qs + aTrack.mAlbum,
             u"-metadata"_qs, u"track="_qs + QString::number(aTrack.mNumber)};
    args += words(aTrack.mFormat == u"m4a"_qs ? u"-c:a aac -b:a 48k"_qs
                                              : u"-c:a libmp3lame -b:a 32k -id3v2_version 3"_qs);
    return ffmpeg(args + QStringList{aTrack.mPath});
}

// Makes every track's file under aFolder and writes the library file that lists them.
bool writeLibrary(const QString &aXmlPath, const QString &aFolder, QList<LibraryTrack> &aTracks,
                  const QList<std::pair<QString, QList<int>>> &aPlaylists)
{
    const auto entry = [](const QString &aKey, const QString &aType, const QString &aValue) {
        return u"<key>%1</key><%2>%3</%2>"_qs.arg(aKey, aType, aValue.toHtmlEscaped());
    };
    const auto number = [&](const QString &aKey, qint64 aValue) {
        return entry(aKey, u"integer"_qs, QString::number(aValue));
    };
    QString tracks, playlists;
    QList<int> all, music, podcasts;
    for (int i = 0; i < aTracks.size(); ++i) {
        LibraryTrack &track = aTracks[i];
        if (!makeAudio(track, aFolder, i))
            return false;
        all.append(i);
        (track.mDate.isEmpty() ? music : podcasts).append(i);
        tracks += u"<key>%1</key><dict>"_qs.arg(100 + i) + number(u"Track ID"_qs, 100 + i) +
                  entry(u"Name"_qs, u"string"_qs, track.mName) +
                  entry(u"Artist"_qs, u"string"_qs, track.mArtist) +
                  entry(u"Album"_qs, u"string"_qs, track.mAlbum) +
                  number(u"Size"_qs, QFileInfo(track.mPath).size()) +
                  number(u"Track Number"_qs, track.mNumber) +
                  entry(u"Date Added"_qs, u"date"_qs,
                        track.mDate.isEmpty() ? u"2025-01-01T10:00:00Z"_qs : track.mDate) +
                  (track.mDate.isEmpty() ? QString() : u"<key>Podcast</key><true/>"_qs) +
                  entry(u"Track Type"_qs, u"string"_qs, u"File"_qs) +
                  entry(u"Location"_qs, u"string"_qs,
                        QString::fromLatin1(QUrl::fromLocalFile(track.mPath).toEncoded())) +
                  u"</dict>"_qs;
    }
    const QList<std::pair<QString, QList<int>>> builtIn{
        {u"Library"_qs, all}, {u"Music"_qs, music}, {u"Podcasts"_qs, podcasts}};
    for (const auto &[name, items] : builtIn + aPlaylists) {
        playlists += u"<dict>"_qs + entry(u"Name"_qs, u"string"_qs, name);
        if (builtIn.contains({name, items}))
            playlists +=
                u"<key>%1</key><true/>"_qs.arg(name == u"Library"_qs ? u"Master"_qs : name);
        playlists += u"<key>Playlist Items</key><array>"_qs;
        for (int item : items)
            playlists += u"<dict>"_qs + number(u"Track ID"_qs, 100 + item) + u"</dict>"_qs;
        playlists += u"</array></dict>"_qs;
    }
    QFile file(aXmlPath);
    return file.open(QIODevice::WriteOnly) &&
           file.write(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist><dict>%1"
                      "<key>Tracks</key><dict>%2</dict><key>Playlists</key><array>%3</array>"
                      "</dict></plist>\n"_qs
                          .arg(entry(u"Music Folder"_qs, u"string"_qs,
                                     QUrl::fromLocalFile(aFolder + u"/"_qs).toString()),
                               tracks, playlists)
                          .toUtf8()) > 0;
}

QByteArray readFile(const QString &aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray fileHash(const QString &aPath)
{
    return QCryptographicHash::hash(readFile(aPath), QCryptographicHash::Sha1);
}

struct FileState
{
    QByteArray mHash;
    qint64 mModifiedNs = 0;
    bool operator==(const FileState &) const = default;
};

// Every file below aRoot by relative path.
QMap<QString, FileState> snapshot(const QString &aRoot)
{
    QMap<QString, FileState> files;
    QDirIterator it(aRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info = {};
        ::stat(QFile::encodeName(path).constData(), &info);
        files.insert(
            QDir(aRoot).relativeFilePath(path),
            {fileHash(path), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec});
    }
    return files;
}

constexpr int Morning = 0, Noon = 1, Evening = 2, Low = 3, High = 4, Cafe = 5, BigOne = 6,
              BigTwo = 7, BigThree = 8, Ep2 = 10, Ep3 = 11;
const QString ArtOff = u"<force-album-art-sync>false</force-album-art-sync>"_qs;
} // namespace

class TestMobrelaySync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { mHome.reset(); }
    void firstRunThenNothingToDo();
    void droppedPlaylist_data();
    void droppedPlaylist();
    void aacConvertedToMp3WithTags();
    void albumArtOncePerAlbumAndForcedPass();
    void incompleteRun();
    void unusableCacheFails();
    void lowSpace_data();
    void lowSpace();
    void killedMidCopyThenCompleted();
    void interruptCancels();
    void exitStatus_data();
    void exitStatus();
    void interruptedWhileWaitingForLibrary();
    void playlists();
    void configureWritesSettings_data();
    void configureWritesSettings();

private:
    bool configure(const QStringList &aOptions)
    {
        return run(mHome->path(),
                   QStringList{u"--library"_qs, mLibrary, u"configure"_qs, mPhone} + aOptions)
                   .mExitCode == 0;
    }
    RunResult sync(const QStringList &aOptions = {})
    {
        return run(mHome->path(),
                   QStringList{u"--library"_qs, mLibrary, u"sync"_qs, mPhone} + aOptions, 120000);
    }
    // Starts a run and reads its output until it copies.
    bool startCopying(QProcess &aProcess, QString &aOut);
    QString onPhone(const QString &aPath) const { return mPhone + QLatin1Char('/') + aPath; }
    // Where a track lands on the phone, relative to its root.
    QString phonePath(int aTrack, bool aConverted = false) const;
    QStringList phonePaths(const QList<int> &aTracks, bool aConverted = false) const;
    // Relative paths of the files below the phone's Music folder, covers aside.
    QStringList musicFiles() const;
    bool sameAsSource(int aTrack) const
    {
        return fileHash(onPhone(phonePath(aTrack))) == fileHash(mTracks.at(aTrack).mPath);
    }
    QString settingsText() const
    {
        return QString::fromUtf8(readFile(mHome->filePath(u"VARUZ/varuz.xml"_qs)));
    }

    std::unique_ptr<TestHome> mHome;
    QTemporaryDir mLibraryDir;
    QString mLibrary, mBrokenLibrary;
    QList<LibraryTrack> mTracks;
    QString mPhone;
};

void TestMobrelaySync::initTestCase()
{
    if (QStandardPaths::findExecutable(u"ffmpeg"_qs).isEmpty())
        QSKIP("ffmpeg is not installed (scripts/install-deps installs it)");
    const auto music = [](const QString &aName, const QString &aArtist, const QString &aAlbum,
                          int aNumber, const QString &aFormat, const QString &aCover = {},
                          qint64 aBytes = 0) {
        return LibraryTrack{aName, aArtist, aAlbum, aNumber, aFormat, aCover, aBytes, {}, {}};
    };
    const auto episode = [](const QString &aName, const QString &aDate) {
        return LibraryTrack{aName, u"Host"_qs, u"Test Cast"_qs, 0, u"mp3"_qs, {}, 0, aDate, {}};
    };
    const QString a = u"Alpha Band"_qs, b = u"Beta Duo"_qs, light = u"First Light"_qs;
    const QString mp3 = u"mp3"_qs, m4a = u"m4a"_qs, heavy = u"Heavy"_qs;
    constexpr qint64 Big = 24 << 20;
    mTracks = {
        music(u"Morning Sine"_qs, a, light, 1, mp3, u"red"_qs),
        music(u"Noon Square"_qs, a, light, 2, mp3, u"red"_qs),
        music(u"Evening Aac"_qs, a, light, 3, m4a, u"red"_qs),
        music(u"Low Hum"_qs, b, u"Quiet Rooms"_qs, 1, m4a, u"blue"_qs),
        music(u"High Chirp"_qs, b, u"Quiet Rooms"_qs, 2, mp3, u"blue"_qs),
        music(u"Café Drone"_qs, u"Ünïcode Quartet"_qs, u"Ça va"_qs, 1, mp3),
        music(u"Big One"_qs, heavy, u"Large"_qs, 1, mp3, {}, Big),
        music(u"Big Two"_qs, heavy, u"Large"_qs, 2, mp3, {}, Big),
        music(u"Big Three"_qs, heavy, u"Large"_qs, 3, mp3, {}, Big),
        episode(u"Episode 1"_qs, u"2026-01-01T08:00:00Z"_qs),
        episode(u"Episode 2"_qs, u"2026-01-08T08:00:00Z"_qs),
        episode(u"Episode 3"_qs, u"2026-01-15T08:00:00Z"_qs),
        music(u"Damaged Aac"_qs, a, u"Broken"_qs, 1, m4a, {}, 5000),
        music(u"Bought Song"_qs, a, u"Shop"_qs, 1, u"m4p"_qs, {}, 5000),
    };
    mLibrary = mLibraryDir.filePath(u"iTunes Music Library.xml"_qs);
    QVERIFY(writeLibrary(mLibrary, mLibraryDir.filePath(u"media"_qs), mTracks,
                         {{u"Road"_qs, {Morning, Noon, Evening}},
                          {u"Night"_qs, {Low, High}},
                          {u"Extra"_qs, {Cafe}},
                          {u"Big"_qs, {BigOne, BigTwo, BigThree}},
                          {u"Damaged"_qs, {12}},
                          {u"Protected"_qs, {13, Cafe}}}));
    mBrokenLibrary = mLibraryDir.filePath(u"broken.xml"_qs);
    QFile broken(mBrokenLibrary);
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(readFile(mLibrary).left(300)) > 0);
}

void TestMobrelaySync::init()
{
    mHome = std::make_unique<TestHome>();
    mPhone = mHome->filePath(u"phone"_qs);
}

bool TestMobrelaySync::startCopying(QProcess &aProcess, QString &aOut)
{
    start(aProcess, mHome->path(), {u"--library"_qs, mLibrary, u"sync"_qs, mPhone});
    while (!aOut.contains(u"progress 13 "_qs)) {
        if (!aProcess.waitForReadyRead(30000))
            return false;
        aOut += QString::fromUtf8(aProcess.readAllStandardOutput());
    }
    return true;
}

QString TestMobrelaySync::phonePath(int aTrack, bool aConverted) const
{
    const LibraryTrack &track = mTracks.at(aTrack);
    QString name = QFileInfo(track.mPath).fileName();
    if (aConverted && name.endsWith(u".m4a"_qs))
        name = name.chopped(3) + u"mp3"_qs;
    return u"Music/%1/%2/%3"_qs.arg(track.mArtist, track.mAlbum, name);
}

QStringList TestMobrelaySync::phonePaths(const QList<int> &aTracks, bool aConverted) const
{
    QStringList paths;
    for (int track : aTracks)
        paths.append(phonePath(track, aConverted));
    paths.sort();
    return paths;
}

QStringList TestMobrelaySync::musicFiles() const
{
    QStringList files;
    for (const QString &file : snapshot(mPhone + u"/Music"_qs).keys()) {
        if (!file.endsWith(u"/AlbumArt.jpg"_qs))
            files.append(u"Music/"_qs + file);
    }
    return files;
}

void TestMobrelaySync::firstRunThenNothingToDo()
{
    QVERIFY(configure({u"--playlists"_qs, u"Road,Night,Extra"_qs, u"--podcasts"_qs, u"all"_qs,
                       u"--episodes"_qs, u"2"_qs, u"--album-art"_qs, u"off"_qs}));
    const RunResult first = sync();
    QVERIFY2(first.mExitCode == 0, qPrintable(first.mOut + first.mErr));
    QCOMPARE(first.states().first(), 9);
    QCOMPARE(first.states().last(), 2);
    QVERIFY2(first.mOut.contains(u"summary: copied 8, deleted 0, not copied 0, not deleted 0"_qs),
             qPrintable(first.mOut));
    // Every chosen track, byte for byte, and only those: the two newest episodes.
    const QList<int> chosen{Morning, Noon, Evening, Low, High, Cafe, Ep2, Ep3};
    QCOMPARE(musicFiles(), phonePaths(chosen));
    for (int track : chosen)
        QVERIFY(sameAsSource(track));

    const QString road = QString::fromUtf8(readFile(onPhone(u"Playlists_KVL/Road.m3u"_qs)));
    QVERIFY2(road.startsWith(u"#EXTM3U"_qs), qPrintable(road));
    for (int track : {Morning, Noon, Evening})
        QVERIFY2(road.contains(u"../"_qs + phonePath(track)), qPrintable(road));
    QVERIFY(!road.contains(phonePath(Low)));
    QVERIFY(readFile(onPhone(u"Playlists_KVL/Test Cast.m3u"_qs)).contains("Episode 3"));
    const QString metadata = QString::fromUtf8(readFile(onPhone(u"VARUZ/metadata0.xml"_qs)));
    QVERIFY2(metadata.contains(u"Café Drone"_qs) && metadata.trimmed().endsWith(u"</metadata>"_qs),
             qPrintable(metadata));
    QVERIFY(QFileInfo(mHome->filePath(u"VARUZ/mcache0"_qs)).size() > 0);
    QVERIFY(readFile(mHome->filePath(u"VARUZ/mcache0p"_qs))
                .contains(QByteArray(reinterpret_cast<const char *>(u"High Chirp"), 20)));

    const QMap<QString, FileState> before = snapshot(mPhone);
    QThread::msleep(20);
    const RunResult second = sync();
    QCOMPARE(second.mExitCode, 0);
    QVERIFY2(!second.copiedSomething(), qPrintable(second.mOut));
    const QMap<QString, FileState> after = snapshot(mPhone);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        // The version marker is stored again by every run, with the same text.
        if (it.key() == u"VARUZ/pcversion.txt"_qs)
            QCOMPARE(after.value(it.key()).mHash, it.value().mHash);
        else
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    // The only addition is the second run's (empty) metadata file.
    QCOMPARE(after.size(), before.size() + 1);
    QVERIFY(after.contains(u"VARUZ/metadata1.xml"_qs));
}

void TestMobrelaySync::droppedPlaylist_data()
{
    QTest::addColumn<QStringList>("refusal");
    QTest::newRow("--no-delete") << QStringList{u"--no-delete"_qs};
    QTest::newRow("no terminal to ask") << QStringList{};
}

void TestMobrelaySync::droppedPlaylist()
{
    QFETCH(QStringList, refusal);
    QVERIFY(configure({u"--playlists"_qs, u"Road,Night"_qs}));
    QCOMPARE(sync({u"--yes"_qs}).mExitCode, 0);
    QVERIFY(configure({u"--playlists"_qs, u"Road"_qs}));
    const QMap<QString, FileState> before = snapshot(mPhone + u"/Music"_qs);
    const QByteArray cacheBefore = readFile(mHome->filePath(u"VARUZ/mcache0"_qs));

    const RunResult refused = sync(refusal);
    QCOMPARE(refused.mExitCode, 2);
    QCOMPARE(refused.states().last(), 6);
    QVERIFY(!refused.states().contains(12));
    QVERIFY(!refused.copiedSomething());
    QVERIFY2(refused.mOut.contains(u"delete: 2 tracks refused"_qs), qPrintable(refused.mOut));
    QCOMPARE(snapshot(mPhone + u"/Music"_qs), before);
    QCOMPARE(readFile(mHome->filePath(u"VARUZ/mcache0"_qs)), cacheBefore);

    const RunResult confirmed = sync({u"--yes"_qs});
    QVERIFY2(confirmed.mExitCode == 0, qPrintable(confirmed.mOut + confirmed.mErr));
    QVERIFY2(confirmed.mOut.contains(u"summary: copied 0, deleted 2,"_qs),
             qPrintable(confirmed.mOut));
    QCOMPARE(musicFiles(), phonePaths({Morning, Noon, Evening}));
    QCOMPARE(readFile(onPhone(u"Playlists_KVL/Night.m3u"_qs)).trimmed(), QByteArray("#EXTM3U"));
    QVERIFY(readFile(onPhone(u"Playlists_KVL/Road.m3u"_qs)).contains("Noon Square"));

    // The cache knows: nothing is deleted or copied again.
    const RunResult again = sync();
    QCOMPARE(again.mExitCode, 0);
    QVERIFY(!again.states().contains(12));
    QVERIFY(!again.copiedSomething());
}

void TestMobrelaySync::aacConvertedToMp3WithTags()
{
    if (QStandardPaths::findExecutable(u"ffprobe"_qs).isEmpty())
        QSKIP("ffprobe is not installed");
    QVERIFY(configure({u"--playlists"_qs, u"Road,Night"_qs, u"--convert-to-mp3"_qs, u"on"_qs}));
    const RunResult result = sync();
    QVERIFY2(result.mExitCode == 0, qPrintable(result.mOut + result.mErr));
    QCOMPARE(musicFiles(), phonePaths({Morning, Noon, Evening, Low, High}, true));
    for (int track : {Evening, Low}) {
        const LibraryTrack &source = mTracks.at(track);
        QProcess probe;
        probe.start(u"ffprobe"_qs,
                    {u"-v"_qs, u"error"_qs, u"-show_entries"_qs,
                     u"format=format_name:format_tags=title,artist,album"_qs, u"-of"_qs,
                     u"default=noprint_wrappers=1"_qs, onPhone(phonePath(track, true))});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        const QString info = QString::fromUtf8(probe.readAllStandardOutput());
        for (const QString &expected :
             QStringList{u"format_name=mp3"_qs, u"TAG:title="_qs + source.mName,
                         u"TAG:artist="_qs + source.mArtist, u"TAG:album="_qs + source.mAlbum})
            QVERIFY2(info.contains(expected), qPrintable(info));
    }
    QVERIFY(sameAsSource(High)); // MP3 sources are copied as they are
    QVERIFY(!sync().copiedSomething());
}

void TestMobrelaySync::albumArtOncePerAlbumAndForcedPass()
{
    const QString first = onPhone(u"Music/Alpha Band/First Light/AlbumArt.jpg"_qs);
    const QString second = onPhone(u"Music/Beta Duo/Quiet Rooms/AlbumArt.jpg"_qs);
    const QString hint = onPhone(u"VARUZ/refreshhint"_qs);

    // Art on: placed while copying, once per album with a cover.
    QVERIFY(configure({u"--playlists"_qs, u"Road,Extra"_qs}));
    RunResult result = sync();
    QVERIFY2(result.mExitCode == 0, qPrintable(result.mOut + result.mErr));
    QVERIFY(readFile(first).startsWith("\xFF\xD8"));
    QCOMPARE(readFile(hint).count('\n'), 1);
    QVERIFY(!QFileInfo::exists(onPhone(u"Music/Ünïcode Quartet/Ça va/AlbumArt.jpg"_qs)));
    QVERIFY2(settingsText().contains(ArtOff), qPrintable(settingsText()));

    // Art off: Night's tracks arrive without a cover.
    QVERIFY(configure({u"--playlists"_qs, u"Road,Night,Extra"_qs, u"--album-art"_qs, u"off"_qs}));
    result = sync();
    QVERIFY(result.mExitCode == 0 && result.copiedSomething());
    QVERIFY(!QFileInfo::exists(second));

    // Art for earlier tracks: the forced pass, without copying, then off again.
    QVERIFY(configure({u"--playlists"_qs, u"Road,Night,Extra"_qs, u"--album-art"_qs, u"on"_qs}));
    const QByteArray firstCover = readFile(first);
    result = sync();
    QVERIFY2(result.mExitCode == 0, qPrintable(result.mOut + result.mErr));
    QVERIFY(result.states().contains(11));
    QVERIFY(!result.copiedSomething());
    QVERIFY(readFile(second).startsWith("\xFF\xD8"));
    QCOMPARE(readFile(first), firstCover);
    // One report per album with a cover, the one already there included.
    QCOMPARE(readFile(hint).count('\n'), 3);
    QVERIFY(settingsText().contains(ArtOff));
    QVERIFY(!sync().states().contains(11));
}

void TestMobrelaySync::incompleteRun()
{
    // A conversion that fails and a copy-protected track: the rest is copied, the run says so.
    QVERIFY(configure(
        {u"--playlists"_qs, u"Night,Damaged,Protected"_qs, u"--convert-to-mp3"_qs, u"on"_qs}));
    const RunResult result = sync();
    QVERIFY2(result.mExitCode == 1, qPrintable(result.mOut + result.mErr));
    QCOMPARE(result.states().last(), 2);
    QVERIFY2(result.mErr.contains(u"not copied: Alpha Band - Broken - Damaged Aac"_qs),
             qPrintable(result.mErr));
    QVERIFY2(
        result.mOut.contains(u"copy-protected, not copied: Alpha Band - Shop - Bought Song"_qs),
        qPrintable(result.mOut));
    QStringList expected{phonePath(Low, true), phonePath(High), phonePath(Cafe)};
    expected.sort();
    QCOMPARE(musicFiles(), expected);
}

void TestMobrelaySync::unusableCacheFails()
{
    QVERIFY(configure({u"--playlists"_qs, u"Extra"_qs}));
    // A folder where the cache file should be: it cannot be opened.
    QVERIFY(QDir().mkpath(mHome->filePath(u"VARUZ/mcache0"_qs)));
    const RunResult result = sync();
    QCOMPARE(result.mExitCode, 2);
    QVERIFY2(result.states().contains(3), qPrintable(result.mOut));
    QVERIFY(musicFiles().isEmpty());
}

void TestMobrelaySync::lowSpace_data()
{
    QTest::addColumn<bool>("allow");
    QTest::newRow("stop") << false;
    QTest::newRow("--allow-low-space") << true;
}

void TestMobrelaySync::lowSpace()
{
    QFETCH(bool, allow);
    QVERIFY(configure({u"--playlists"_qs, u"Road"_qs}));
    QStringList options{u"--free-space"_qs, u"1000"_qs};
    if (allow)
        options.append(u"--allow-low-space"_qs);
    const RunResult result = sync(options);
    QVERIFY2(result.mOut.contains(u"space: 0 MB short"_qs), qPrintable(result.mOut));
    QCOMPARE(result.mExitCode, allow ? 0 : 2);
    QCOMPARE(result.states().last(), allow ? 2 : 6);
    QCOMPARE(musicFiles().size(), allow ? 3 : 0);
}

void TestMobrelaySync::killedMidCopyThenCompleted()
{
    QVERIFY(configure({u"--playlists"_qs, u"Road,Big"_qs}));
    QProcess process;
    QString out;
    QVERIFY2(startCopying(process, out), qPrintable(out));
    // Kill it while a copy is under way: its temporary file is there.
    bool copying = false;
    for (int i = 0; i < 20000 && !copying && process.state() == QProcess::Running; ++i) {
        QDirIterator it(onPhone(u"Music"_qs), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext() && !copying)
            copying = it.next().section(QLatin1Char('/'), -1).startsWith(QLatin1Char('.'));
        if (!copying)
            QThread::usleep(500);
    }
    QVERIFY2(copying, "the run ended before a copy could be interrupted");
    process.kill();
    QVERIFY(process.waitForFinished());

    // No file under a track's name is anything but a complete copy.
    const QList<int> wanted{Morning, Noon, Evening, BigOne, BigTwo, BigThree};
    int complete = 0;
    for (int track : wanted) {
        if (QFileInfo::exists(onPhone(phonePath(track)))) {
            QVERIFY2(sameAsSource(track), qPrintable(phonePath(track)));
            ++complete;
        }
    }
    QVERIFY(complete < wanted.size());

    const RunResult next = sync();
    QVERIFY2(next.mExitCode == 0, qPrintable(next.mOut + next.mErr));
    QCOMPARE(musicFiles(), phonePaths(wanted));
    for (int track : wanted)
        QVERIFY(sameAsSource(track));
    const RunResult third = sync();
    QCOMPARE(third.mExitCode, 0);
    QVERIFY2(!third.copiedSomething(), qPrintable(third.mOut));
}

void TestMobrelaySync::interruptCancels()
{
    QVERIFY(configure({u"--playlists"_qs, u"Big"_qs}));
    QProcess process;
    QString out;
    QVERIFY2(startCopying(process, out), qPrintable(out));
    QVERIFY(::kill(pid_t(process.processId()), SIGINT) == 0);
    RunResult result = finish(process);
    result.mOut.prepend(out);
    QCOMPARE(result.mExitCode, 2);
    const QList<int> states = result.states();
    QCOMPARE(states.last(), 6);
    QCOMPARE(states.at(states.size() - 2), 2);
    QVERIFY2(musicFiles().size() < 3, "cancelled only after every track was copied");
    // FinalizeSync closed the metadata file.
    QVERIFY(readFile(onPhone(u"VARUZ/metadata0.xml"_qs)).trimmed().endsWith("</metadata>"));
    QCOMPARE(sync().mExitCode, 0);
    QCOMPARE(musicFiles().size(), 3);
}

void TestMobrelaySync::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList{} << 64 << u"no command"_qs;
    QTest::newRow("--yes and --no-delete")
        << words(u"sync PHONE --yes --no-delete"_qs) << 64 << u"exclude"_qs;
    QTest::newRow("option without value")
        << words(u"configure PHONE --podcasts"_qs) << 64 << u"needs a value"_qs;
    // A missing file is not worth waiting for, whatever the wait.
    QTest::newRow("missing library") << words(u"--library MISSING --wait 600 sync PHONE --yes"_qs)
                                     << 66 << u"library file not found: MISSING"_qs;
    QTest::newRow("busy library") << words(u"--library BROKEN --wait 1 sync PHONE --yes"_qs) << 75
                                  << u"BROKEN is still busy"_qs;
}

void TestMobrelaySync::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QVERIFY(configure({}));
    const auto place = [this](QString aText) {
        return aText.replace(u"PHONE"_qs, mPhone)
            .replace(u"MISSING"_qs, mHome->filePath(u"nowhere/Library.xml"_qs))
            .replace(u"BROKEN"_qs, mBrokenLibrary);
    };
    for (QString &argument : arguments)
        argument = place(argument);
    const RunResult result = run(mHome->path(), arguments, 20000);
    QCOMPARE(result.mExitCode, status);
    QVERIFY2(result.mErr.contains(place(message)), qPrintable(result.mErr));
    QVERIFY(result.states().isEmpty());
    QVERIFY(!QFileInfo::exists(onPhone(u"Music"_qs)));
}

void TestMobrelaySync::interruptedWhileWaitingForLibrary()
{
    QProcess process;
    start(process, mHome->path(),
          {u"--library"_qs, mBrokenLibrary, u"--wait"_qs, u"60"_qs, u"playlists"_qs});
    QVERIFY(process.waitForStarted());
    QThread::msleep(500);
    QVERIFY(::kill(pid_t(process.processId()), SIGINT) == 0);
    const RunResult result = finish(process, 20000);
    QCOMPARE(result.mExitCode, 130);
    QVERIFY2(result.mErr.contains(u"interrupted"_qs), qPrintable(result.mErr));
}

void TestMobrelaySync::playlists()
{
    const RunResult result = run(mHome->path(), {u"--library"_qs, mLibrary, u"playlists"_qs});
    QCOMPARE(result.mExitCode, 0);
    QCOMPARE(result.mOut, u"Road\nNight\nExtra\nBig\nDamaged\nProtected\npodcast: Test Cast\n"_qs);
}

void TestMobrelaySync::configureWritesSettings_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("settings");
    QTest::newRow("defaults") << QStringList{}
                              << words(u"podcast-sync-setting=0 number-of-episodes-to-sync=0 "
                                       "enable-album-art-sync=true force-album-art-sync=true "
                                       "convert-to-mp3=false"_qs);
    QTest::newRow("no music, all podcasts")
        << words(u"--playlists none --podcasts all"_qs)
        << words(u"playlist=###DONT-SYNC-MUSIC### podcast-sync-setting=1"_qs);
    QTest::newRow("named, art off, conversion on")
        << (words(u"--playlists=Road,Night --episodes 2 --album-art off --convert-to-mp3 on"_qs) +
            QStringList{u"--podcasts"_qs, u"Test Cast"_qs})
        << words(u"playlist=Road playlist=Night podcast-sync-setting=2 "
                 "number-of-episodes-to-sync=2 enable-album-art-sync=false "
                 "force-album-art-sync=false convert-to-mp3=true"_qs) +
               QStringList{u"podcast=Test Cast"_qs};
}

void TestMobrelaySync::configureWritesSettings()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, settings);
    QVERIFY(configure(options));
    const QString text = settingsText();
    const QString id = QString::fromUtf8(readFile(onPhone(u"VARUZ/uniqueid"_qs)));
    settings << u"id="_qs + id << u"cache="_qs + mHome->filePath(u"VARUZ/mcache0"_qs);
    for (const QString &setting : settings) {
        const QString name = setting.section(QLatin1Char('='), 0, 0);
        const QString element = u"<%1>%2</%1>"_qs.arg(name, setting.section(QLatin1Char('='), 1));
        QVERIFY2(text.contains(element), qPrintable(element + u"\n"_qs + text));
    }
    if (options.isEmpty())
        QVERIFY(!text.contains(u"<playlist>"_qs) && !text.contains(u"<podcast>"_qs));
}

QTEST_GUILESS_MAIN(TestMobrelaySync)
#include "tst_mobrelaysync.moc"
