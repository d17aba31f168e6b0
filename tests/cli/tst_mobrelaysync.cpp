// mobrelay-sync from end to end: a library of files made with ffmpeg, a temporary folder as phone.
#include "cli/librarybusywatch.h"
#include "library/localmusiclibrary.h"
#include "scriptedappfactory.h"
#include "sync/runlock.h"
#include "testhome.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <csignal>

namespace {

struct LibraryTrack
{
    QString mName, mArtist, mAlbum;
    int mNumber = 0;
    QString mFormat, mCover = {}; // extension; colour of an embedded cover, if any
    qint64 mBytes = 0;            // made-up contents of this size instead of audio
    QString mPath = {};
};

struct RunResult
{
    int mExitCode = -1;
    QString mOut, mErr;

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

RunResult finish(QProcess &aProcess)
{
    if (!aProcess.waitForFinished(120000))
        aProcess.kill();
    aProcess.waitForFinished();
    return {aProcess.exitStatus() == QProcess::NormalExit ? aProcess.exitCode() : -1,
            QString::fromUtf8(aProcess.readAllStandardOutput()),
            QString::fromUtf8(aProcess.readAllStandardError())};
}

RunResult run(const QString &aHome, const QStringList &aArguments)
{
    QProcess process;
    start(process, aHome, aArguments);
    return finish(process);
}

QStringList words(const QString &aText)
{
    return aText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
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
    if (!aTrack.mCover.isEmpty())
        args +=
            words(u"-f lavfi -i color=c=%1:s=96x64:d=0.1 -map 0:a -map 1:v -frames:v 1 -c:v mjpeg "
                  "-disposition:v attached_pic"_qs.arg(aTrack.mCover));
    args += {u"-metadata"_qs, u"title="_qs + aTrack.mName,
             u"-metadata"_qs, u"artist="_qs + aTrack.mArtist,
             u"-metadata"_qs, u"album="_qs + aTrack.mAlbum,
             u"-metadata"_qs, u"track="_qs + QString::number(aTrack.mNumber)};
    args += words(aTrack.mFormat == u"m4a"_qs ? u"-c:a aac -b:a 48k"_qs
                                              : u"-c:a libmp3lame -b:a 32k -id3v2_version 3"_qs);
    QProcess ffmpeg;
    ffmpeg.start(u"ffmpeg"_qs, words(u"-v error -y"_qs) + args + QStringList{aTrack.mPath});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

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
    QList<int> all;
    for (int i = 0; i < aTracks.size(); ++i) {
        LibraryTrack &track = aTracks[i];
        if (!makeAudio(track, aFolder, i))
            return false;
        all.append(i);
        tracks += u"<key>%1</key><dict>"_qs.arg(100 + i) + number(u"Track ID"_qs, 100 + i) +
                  entry(u"Name"_qs, u"string"_qs, track.mName) +
                  entry(u"Artist"_qs, u"string"_qs, track.mArtist) +
                  entry(u"Album"_qs, u"string"_qs, track.mAlbum) +
                  number(u"Size"_qs, QFileInfo(track.mPath).size()) +
                  number(u"Track Number"_qs, track.mNumber) +
                  entry(u"Date Added"_qs, u"date"_qs, u"2025-01-01T10:00:00Z"_qs) +
                  entry(u"Track Type"_qs, u"string"_qs, u"File"_qs) +
                  entry(u"Location"_qs, u"string"_qs,
                        QString::fromLatin1(QUrl::fromLocalFile(track.mPath).toEncoded())) +
                  u"</dict>"_qs;
    }
    const QList<std::pair<QString, QList<int>>> builtIn{{u"Library"_qs, all}, {u"Music"_qs, all}};
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
    return QCryptographicHash::hash(readFile(aPath), QCryptographicHash::Sha1).toHex();
}

QMap<QString, QByteArray> snapshot(const QString &aRoot)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(aRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(aRoot).relativeFilePath(path),
                     fileHash(path) + ' ' +
                         QByteArray::number(it.fileInfo().lastModified().toMSecsSinceEpoch()));
    }
    return files;
}

constexpr int Morning = 0, Noon = 1, Evening = 2, Low = 3, High = 4, Cafe = 5, BigOne = 6,
              BigTwo = 7, BigThree = 8;
} // namespace

class TestMobrelaySync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { mHome.reset(); }
    void firstRunThenNothingToDo();
    void droppedPlaylist();
    void damagedCacheHealsInOneRun();
    void albumArtOncePerAlbumAndForcedPass();
    void interruptedMidCopy_data();
    void interruptedMidCopy();
    void exitStatus_data();
    void exitStatus();
    void busyLibraryCancelsTheRunFirst();
    void plainCommands_data();
    void plainCommands();
    void phoneDataFromBackup_data();
    void phoneDataFromBackup();

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
                   QStringList{u"--library"_qs, mLibrary, u"sync"_qs, mPhone} + aOptions);
    }
    QString onPhone(const QString &aPath) const { return mPhone + QLatin1Char('/') + aPath; }
    QString phonePath(int aTrack, bool aConverted = false) const;
    QStringList phonePaths(const QList<int> &aTracks, bool aConverted = false) const;
    // Files below the phone's Music folder, covers aside.
    QStringList musicFiles() const;
    bool sameAsSource(int aTrack) const
    {
        return fileHash(onPhone(phonePath(aTrack))) == fileHash(mTracks.at(aTrack).mPath);
    }
    bool forcedArtOff() const
    {
        return readFile(mHome->filePath(u"VARUZ/varuz.xml"_qs))
            .contains("<force-album-art-sync>false</force-album-art-sync>");
    }

    std::unique_ptr<TestHome> mHome;
    QTemporaryDir mLibraryDir;
    QString mLibrary, mBrokenLibrary, mMalformedLibrary, mPhone;
    QList<LibraryTrack> mTracks;
};

void TestMobrelaySync::initTestCase()
{
    if (QStandardPaths::findExecutable(u"ffmpeg"_qs).isEmpty())
        QSKIP("ffmpeg is not installed (scripts/install-deps installs it)");
    const QString a = u"Alpha Band"_qs, b = u"Beta Duo"_qs, light = u"First Light"_qs;
    const QString mp3 = u"mp3"_qs, m4a = u"m4a"_qs, heavy = u"Heavy"_qs, quiet = u"Quiet Rooms"_qs;
    constexpr qint64 Big = 24 << 20;
    mTracks = {
        {u"Morning Sine"_qs, a, light, 1, mp3, u"red"_qs},
        {u"Noon Square"_qs, a, light, 2, mp3, u"red"_qs},
        {u"Evening Aac"_qs, a, light, 3, m4a, u"red"_qs},
        {u"Low Hum"_qs, b, quiet, 1, m4a, u"blue"_qs},
        {u"High Chirp"_qs, b, quiet, 2, mp3, u"blue"_qs},
        {u"Café Drone"_qs, u"Ünïcode Quartet"_qs, u"Ça va"_qs, 1, mp3},
        {u"Big One"_qs, heavy, u"Large"_qs, 1, mp3, {}, Big},
        {u"Big Two"_qs, heavy, u"Large"_qs, 2, mp3, {}, Big},
        {u"Big Three"_qs, heavy, u"Large"_qs, 3, mp3, {}, Big},
        {u"Damaged Aac"_qs, a, u"Broken"_qs, 1, m4a, {}, 5000},
        {u"Bought Song"_qs, a, u"Shop"_qs, 1, u"m4p"_qs, {}, 5000},
    };
    mLibrary = mLibraryDir.filePath(u"iTunes Music Library.xml"_qs);
    QVERIFY(writeLibrary(mLibrary, mLibraryDir.filePath(u"media"_qs), mTracks,
                         {{u"Road"_qs, {Morning, Noon, Evening}},
                          {u"Night"_qs, {Low, High}},
                          {u"Extra"_qs, {Cafe}},
                          {u"Big"_qs, {BigOne, BigTwo, BigThree}},
                          {u"Damaged"_qs, {9}},
                          {u"Protected"_qs, {10, Cafe}}}));
    mBrokenLibrary = mLibraryDir.filePath(u"broken.xml"_qs);
    QFile broken(mBrokenLibrary);
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(readFile(mLibrary).left(300)) > 0);
    mMalformedLibrary = mLibraryDir.filePath(u"malformed.xml"_qs);
    QFile malformed(mMalformedLibrary);
    QVERIFY(malformed.open(QIODevice::WriteOnly) &&
            malformed.write("<?xml version=\"1.0\"?>\n<plist>\n<dict>\n</plist>\n") > 0);
}

void TestMobrelaySync::init()
{
    mHome = std::make_unique<TestHome>();
    mPhone = mHome->filePath(u"phone"_qs);
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
    for (const QString &file : snapshot(onPhone(u"Music"_qs)).keys()) {
        if (!file.endsWith(u"/AlbumArt.jpg"_qs))
            files.append(u"Music/"_qs + file);
    }
    return files;
}

void TestMobrelaySync::firstRunThenNothingToDo()
{
    QVERIFY(
        configure(words(u"--playlists Road,Night,Extra --album-art off --convert-to-mp3 on"_qs)));
    const RunResult first = sync();
    QVERIFY2(first.mExitCode == 0, qPrintable(first.mOut + first.mErr));
    QCOMPARE(first.states().last(), 2);
    QCOMPARE(musicFiles(), phonePaths({Morning, Noon, Evening, Low, High, Cafe}, true));
    for (int track : {Morning, Noon, High, Cafe})
        QVERIFY(sameAsSource(track));
    // The playlist names the converted file.
    const QString road = QString::fromUtf8(readFile(onPhone(u"Playlists_KVL/Road.m3u"_qs)));
    for (int track : {Morning, Noon, Evening})
        QVERIFY2(road.contains(u"../"_qs + phonePath(track, true)), qPrintable(road));
    QVERIFY(readFile(mHome->filePath(u"VARUZ/mcache0p"_qs))
                .contains(QByteArray(reinterpret_cast<const char *>(u"High Chirp"), 20)));

    const QMap<QString, QByteArray> before = snapshot(mPhone);
    QThread::msleep(20);
    const RunResult second = sync();
    QVERIFY2(second.mExitCode == 0 && !second.copiedSomething(), qPrintable(second.mOut));
    QMap<QString, QByteArray> after = snapshot(mPhone);
    // Added: the second run's metadata file; rewritten with the same text: the version marker.
    QVERIFY(after.remove(u"VARUZ/metadata1.xml"_qs));
    const QString marker = u"VARUZ/pcversion.txt"_qs;
    QCOMPARE(after.take(marker).left(40), before.value(marker).left(40));
    QMap<QString, QByteArray> unchanged = before;
    unchanged.remove(marker);
    QCOMPARE(after, unchanged);
}

void TestMobrelaySync::droppedPlaylist()
{
    QVERIFY(configure({u"--playlists"_qs, u"Road,Night"_qs}));
    QCOMPARE(sync({u"--yes"_qs}).mExitCode, 0);
    QVERIFY(configure({u"--playlists"_qs, u"Road"_qs}));
    const QMap<QString, QByteArray> before = snapshot(onPhone(u"Music"_qs));
    const QByteArray cacheBefore = readFile(mHome->filePath(u"VARUZ/mcache0"_qs));

    const RunResult refused = sync({u"--no-delete"_qs});
    QCOMPARE(refused.mExitCode, 2);
    QCOMPARE(refused.states().last(), 6);
    QVERIFY(!refused.states().contains(12) && !refused.copiedSomething());
    QCOMPARE(snapshot(onPhone(u"Music"_qs)), before);
    QCOMPARE(readFile(mHome->filePath(u"VARUZ/mcache0"_qs)), cacheBefore);

    const RunResult confirmed = sync({u"--yes"_qs});
    QVERIFY2(confirmed.mExitCode == 0, qPrintable(confirmed.mOut + confirmed.mErr));
    QCOMPARE(musicFiles(), phonePaths({Morning, Noon, Evening}));
}

// Copies go from the last track to the first: damage to Evening's record loses it and the two
// records after it; the next run copies those three again, and the run after copies nothing.
void TestMobrelaySync::damagedCacheHealsInOneRun()
{
    QVERIFY(configure({u"--playlists"_qs, u"Road,Night"_qs}));
    QCOMPARE(sync().mExitCode, 0);
    const QString cache = mHome->filePath(u"VARUZ/mcache0"_qs);
    QByteArray bytes = readFile(cache);
    const QString name = mTracks.at(Evening).mName;
    const qsizetype at =
        bytes.indexOf(QByteArray(reinterpret_cast<const char *>(name.utf16()), name.size() * 2));
    QVERIFY(at > 8);
    bytes[at - 8] = 6; // the name's tag becomes one the reader does not know
    QFile file(cache);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();

    const RunResult healing = sync();
    QVERIFY2(healing.mExitCode == 0, qPrintable(healing.mOut + healing.mErr));
    QStringList copied = healing.mOut.split(QLatin1Char('\n')).filter(u"progress 13 "_qs);
    for (QString &line : copied)
        line = line.section(QLatin1Char(' '), 3);
    QCOMPARE(copied, (QStringList{u"Evening Aac"_qs, u"Noon Square"_qs, u"Morning Sine"_qs}));
    const RunResult after = sync();
    QVERIFY2(after.mExitCode == 0 && !after.copiedSomething(), qPrintable(after.mOut));
}

void TestMobrelaySync::albumArtOncePerAlbumAndForcedPass()
{
    const QString first = onPhone(u"Music/Alpha Band/First Light/AlbumArt.jpg"_qs);
    const QString second = onPhone(u"Music/Beta Duo/Quiet Rooms/AlbumArt.jpg"_qs);
    const QString hint = onPhone(u"VARUZ/refreshhint"_qs);
    QVERIFY(configure({u"--playlists"_qs, u"Road,Extra"_qs}));
    QCOMPARE(sync().mExitCode, 0);
    QVERIFY(readFile(first).startsWith("\xFF\xD8"));
    // Extra's album has no cover; the hint names the track copied with it.
    QCOMPARE(readFile(hint), QByteArray("/Music/Alpha Band/First Light/03 Evening Aac.m4a\r\n"));

    QVERIFY(configure(words(u"--playlists Road,Night,Extra --album-art off"_qs)));
    QVERIFY(sync().copiedSomething());
    QVERIFY(!QFileInfo::exists(second));

    // Art for tracks copied earlier: the forced pass, without copying, then off again.
    QVERIFY(configure(words(u"--playlists Road,Night,Extra --album-art on"_qs)));
    const RunResult result = sync();
    QVERIFY2(result.mExitCode == 0, qPrintable(result.mOut + result.mErr));
    QVERIFY(result.states().contains(11) && !result.copiedSomething());
    QVERIFY(readFile(second).startsWith("\xFF\xD8"));
    QCOMPARE(readFile(hint).count('\n'), 3); // one per album with a cover, the first included
    QVERIFY(forcedArtOff());
    QVERIFY(!sync().states().contains(11));
}

void TestMobrelaySync::interruptedMidCopy_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGKILL") << int(SIGKILL);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestMobrelaySync::interruptedMidCopy()
{
    QFETCH(int, signal);
    QVERIFY(configure({u"--playlists"_qs, u"Road,Big"_qs}));
    QProcess process;
    start(process, mHome->path(), {u"--library"_qs, mLibrary, u"sync"_qs, mPhone});
    QVERIFY(process.waitForStarted());
    // Wait until a copy is under way (in the folder of a temporary name the new
    // album is filled in); to kill, until one track has been handed over
    // uncommitted, which the cache must not name yet.
    const int files = signal == SIGKILL ? 2 : 1;
    const QDir artist(onPhone(u"Music/Heavy"_qs));
    bool copying = false;
    for (int i = 0; i < 20000 && !copying && process.state() == QProcess::Running; ++i) {
        QThread::usleep(500);
        const QStringList staging =
            artist.entryList({u".*"_qs}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        copying = !staging.isEmpty() &&
                  QDir(artist.filePath(staging.first())).entryList(QDir::Files).size() >= files;
    }
    QVERIFY2(copying, "the run ended before a copy could be interrupted");
    RunLock window; // the window asking to run meanwhile
    QVERIFY(!window.tryLock());
    QCOMPARE(window.holder(), process.processId());
    QVERIFY(::kill(pid_t(process.processId()), signal) == 0);
    const RunResult result = finish(process);
    if (signal == SIGINT) {
        const QList<int> states = result.states();
        QCOMPARE(result.mExitCode, 2);
        QCOMPARE(states.last(), 6);
        QVERIFY(!states.contains(2));
        // FinalizeSync closed the metadata file.
        QVERIFY(readFile(onPhone(u"VARUZ/metadata0.xml"_qs)).trimmed().endsWith("</metadata>"));
    }

    // No file under a track's name is anything but a complete copy.
    const QList<int> wanted{Morning, Noon, Evening, BigOne, BigTwo, BigThree};
    int complete = 0;
    for (int track : wanted) {
        const bool there = QFileInfo::exists(onPhone(phonePath(track)));
        QVERIFY2(!there || sameAsSource(track), qPrintable(phonePath(track)));
        complete += there;
    }
    QVERIFY(complete < wanted.size());
    const RunResult next = sync();
    QVERIFY2(next.mExitCode == 0, qPrintable(next.mOut + next.mErr));
    QCOMPARE(musicFiles(), phonePaths(wanted));
    for (int track : wanted)
        QVERIFY(sameAsSource(track));
    const RunResult third = sync();
    QVERIFY2(third.mExitCode == 0 && !third.copiedSomething(), qPrintable(third.mOut));
}

void TestMobrelaySync::exitStatus_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    // A failed conversion and a copy-protected track: the rest is copied, the run says so.
    QTest::newRow("incomplete") << u"--playlists Night,Damaged,Protected --convert-to-mp3 on"_qs
                                << u"--library LIBRARY sync PHONE"_qs << 1
                                << u"not copied: Alpha Band - Broken - Damaged Aac"_qs;
    // "BLOCK" puts a folder where the cache file should be: it cannot be opened.
    QTest::newRow("cache cannot be opened")
        << u"--playlists Extra BLOCK"_qs << u"--library LIBRARY sync PHONE"_qs << 2
        << u"state 3"_qs;
    QTest::newRow("no command") << QString() << QString() << 64 << u"no command"_qs;
    QTest::newRow("missing library")
        << QString() << u"--library MISSING --wait 600 sync PHONE --yes"_qs << 66
        << u"library file not found: MISSING"_qs;
    QTest::newRow("busy library") << QString() << u"--library BROKEN --wait 1 sync PHONE --yes"_qs
                                  << 75 << u"BROKEN is still busy"_qs;
    QTest::newRow("malformed library")
        << QString() << u"--library MALFORMED --wait 600 sync PHONE --yes"_qs << 65
        << u"MALFORMED is malformed: line 4, column 8: Opening and ending tag mismatch."_qs;
    // "DAMAGE" leaves the settings file unreadable after configuring.
    QTest::newRow("damaged settings")
        << u"DAMAGE"_qs << u"--library LIBRARY sync PHONE --yes"_qs << 2
        << u"moved to HOME/VARUZ/varuz.xml.bad and a new one is started"_qs;
    // "LOCKED": this test holds the run lock as the window does during a run.
    QTest::newRow("another program running")
        << u"LOCKED"_qs << u"--library LIBRARY sync PHONE --yes"_qs << 75
        << u"another Mobrelay program (process SELF) is synchronising a phone"_qs;
}

void TestMobrelaySync::exitStatus()
{
    QFETCH(QString, options);
    QFETCH(QString, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QVERIFY(configure(
        words(QString(options).remove(u"BLOCK"_qs).remove(u"DAMAGE"_qs).remove(u"LOCKED"_qs))));
    RunLock lock;
    QVERIFY(!options.contains(u"LOCKED"_qs) || lock.tryLock());
    QVERIFY(!options.contains(u"BLOCK"_qs) || QDir().mkpath(mHome->filePath(u"VARUZ/mcache0"_qs)));
    QFile settings(mHome->filePath(u"VARUZ/varuz.xml"_qs));
    QVERIFY(!options.contains(u"DAMAGE"_qs) ||
            (settings.open(QIODevice::Append) && settings.write("<") == 1 && settings.flush()));
    const auto place = [this](QString aText) {
        return aText.replace(u"PHONE"_qs, mPhone)
            .replace(u"LIBRARY"_qs, mLibrary)
            .replace(u"MISSING"_qs, mHome->filePath(u"nowhere/Library.xml"_qs))
            .replace(u"BROKEN"_qs, mBrokenLibrary)
            .replace(u"MALFORMED"_qs, mMalformedLibrary)
            .replace(u"HOME"_qs, mHome->path())
            .replace(u"SELF"_qs, QString::number(QCoreApplication::applicationPid()));
    };
    QStringList argumentList = words(arguments);
    for (QString &argument : argumentList)
        argument = place(argument);
    const RunResult result = run(mHome->path(), argumentList);
    QCOMPARE(result.mExitCode, status);
    const QString output = result.mOut + result.mErr;
    QVERIFY2(output.contains(place(message)), qPrintable(output));
    QCOMPARE(result.states().isEmpty(), status > 2);
    QCOMPARE(musicFiles().size(), status == 1 ? 3 : 0);
}

// A library read failing while the run is not yet cancelled would count as a failed run.
void TestMobrelaySync::busyLibraryCancelsTheRunFirst()
{
    auto factory = std::make_shared<ScriptedAppFactory>();
    factory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    LocalMusicLibrary library(factory);
    library.setRetryPause(1);
    bool libraryCancelledFirst = true;
    std::shared_ptr<ITPlaylistCollection> collection;
    LibraryBusyWatch watch(library, 0, [&] { libraryCancelledFirst = library.isCancelled(); });
    QCOMPARE(library.getPlaylistCollection(collection), LocalMusicLibrary::CallFailed);
    QVERIFY(watch.timedOut());
    QVERIFY(!libraryCancelledFirst);
}

// Commands that run no synchronisation: backups, and the attached phones.
void TestMobrelaySync::plainCommands_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("files"); // written below OUT
    const QString ipd = TestHome::realTestData(u"blackberry-ipd/Sample.ipd"_qs);
    if (!ipd.isEmpty())
        QTest::newRow("export a BlackBerry backup")
            << u"export %1 OUT"_qs.arg(ipd) << 0
            << u"messages: 0 sent, 3 received\npeople: 0\nphotos: 0\n"_qs
            << QStringList{u"address.xml"_qs, u"messages.xml"_qs};
    QTest::newRow("export a folder that is no backup")
        << u"export HOME OUT"_qs << 66 << u"is neither an iPhone backup folder"_qs << QStringList();
    // A backup whose manifest is missing: nothing is exported, and the reason is given.
    QTest::newRow("export a backup without manifest")
        << u"export HOME/Backups/0a1b OUT"_qs << 1 << u"has no Manifest.db or Manifest.mbdb"_qs
        << QStringList();
    QTest::newRow("list backups") << u"backups HOME/Backups"_qs << 0
                                  << u"Old Phone\tHOME/Backups/0a1b/\n"_qs << QStringList();
    // MOUNTS lists HOME/drive, a USB disk's partition that is no real mount.
    QTest::newRow("no phones") << u"--mount-table HOME/none devices"_qs << 0 << u"none\n"_qs
                               << QStringList();
    QTest::newRow("list a drive") << u"MOUNTS devices"_qs << 0
                                  << u"usb:sdb1\tusb\tAcme Phone 3\tnot answering\n"_qs
                                  << QStringList();
    QTest::newRow("sync, nothing connected") << u"--mount-table HOME/none sync --yes"_qs << 69
                                             << u"no phone is connected"_qs << QStringList();
    QTest::newRow("sync, the connected drive does not answer")
        << u"MOUNTS sync --yes"_qs << 69 << u"the phone usb:sdb1 (Acme Phone 3) does not answer"_qs
        << QStringList();
    QTest::newRow("configure, unknown id")
        << u"MOUNTS configure usb:sdc1"_qs << 69 << u"no attached phone has the id usb:sdc1"_qs
        << QStringList();
}

void TestMobrelaySync::plainCommands()
{
    QFETCH(QString, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QStringList, files);
    const QString backup = mHome->filePath(u"Backups/0a1b"_qs);
    QVERIFY(QDir().mkpath(backup));
    QFile plist(backup + u"/Info.plist"_qs);
    QVERIFY(plist.open(QIODevice::WriteOnly) &&
            plist.write("<plist><dict><key>Display Name</key><string>Old Phone</string>"
                        "</dict></plist>") > 0);
    plist.close();
    const QString sys = mHome->filePath(u"sys"_qs);
    const QString disk = sys + u"/devices/pci0/usb1/1-1/host6/block/sdb"_qs;
    QVERIFY(QDir().mkpath(disk + u"/sdb1"_qs) && QDir().mkpath(sys + u"/class/block"_qs));
    QVERIFY(QFile::link(disk + u"/sdb1"_qs, sys + u"/class/block/sdb1"_qs));
    QVERIFY(QFile::link(disk + u"/../.."_qs, disk + u"/device"_qs));
    for (const auto &[name, text] : {std::pair{u"/sdb1/partition"_qs, "1"},
                                     {u"/device/vendor"_qs, "Acme"},
                                     {u"/device/model"_qs, "Phone 3 "}}) {
        QFile file(disk + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
    }
    QFile mounts(mHome->filePath(u"mountinfo"_qs));
    QVERIFY(QDir().mkpath(mHome->filePath(u"drive"_qs)) && mounts.open(QIODevice::WriteOnly) &&
            mounts.write("40 22 8:17 / " + QFile::encodeName(mHome->filePath(u"drive"_qs)) +
                         " rw - vfat /dev/sdb1 rw\n") > 0);
    mounts.close();

    const QString out = mHome->filePath(u"out"_qs);
    QStringList argumentList = words(arguments);
    if (argumentList.first() == u"MOUNTS"_qs)
        argumentList = QStringList{u"--mount-table"_qs, mounts.fileName(), u"--sysfs"_qs, sys} +
                       argumentList.mid(1);
    for (QString &argument : argumentList)
        argument.replace(u"HOME"_qs, mHome->path()).replace(u"OUT"_qs, out);
    const RunResult result = run(mHome->path(), argumentList);
    QCOMPARE(result.mExitCode, status);
    const QString printed = result.mOut + result.mErr;
    QVERIFY2(printed.contains(QString(output).replace(u"HOME"_qs, mHome->path())),
             qPrintable(printed));
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), files);
}

void TestMobrelaySync::phoneDataFromBackup_data()
{
    QTest::addColumn<QString>("backup");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("arrived"); // below the phone's root
    QTest::addColumn<bool>("optionsOff");
    const QString ipd = TestHome::realTestData(u"blackberry-ipd/Sample.ipd"_qs);
    if (!ipd.isEmpty())
        QTest::newRow("BlackBerry")
            << ipd << 0 << QStringList{u"DCIM/Blackberry/pic.jpg"_qs, u"VARUZ/messages.xml"_qs}
            << true;
    // The data never arrived, so the options stay on for the next run.
    QTest::newRow("iPhone backup that does not unpack")
        << u"HOME/old"_qs << 1 << QStringList() << false;
}

void TestMobrelaySync::phoneDataFromBackup()
{
    QFETCH(QString, backup);
    QFETCH(QStringList, arrived);
    backup.replace(u"HOME"_qs, mHome->path());
    const QString photos = mHome->filePath(u"photos"_qs);
    QVERIFY(QDir().mkpath(photos + u"/.thumbnails"_qs));
    QStringList files{photos + u"/pic.jpg"_qs, photos + u"/.thumbnails/pic.jpg"_qs};
    if (!QFileInfo(backup).isFile()) {
        QVERIFY(QDir().mkpath(backup));
        files.append(backup + u"/Info.plist"_qs);
    }
    for (const QString &path : std::as_const(files)) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("<plist/>") > 0);
    }
    QVERIFY(configure({u"--playlists"_qs, u"none"_qs, u"--backup"_qs, backup, u"--copy"_qs,
                       u"messages,photos"_qs, u"--photo-folder"_qs, photos}));
    const RunResult result = sync();
    QTEST(result.mExitCode, "status");
    QStringList onThePhone;
    for (const QString &folder : {u"DCIM"_qs, u"VARUZ"_qs}) {
        QDirIterator it(onPhone(folder), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = QDir(mPhone).relativeFilePath(it.next());
            if (path.startsWith(u"DCIM"_qs) || path.endsWith(u"messages.xml"_qs) ||
                path.endsWith(u"address.xml"_qs))
                onThePhone.append(path);
        }
    }
    onThePhone.sort();
    QCOMPARE(onThePhone, arrived);
    const QByteArray settings = readFile(mHome->filePath(u"VARUZ/varuz.xml"_qs));
    QFETCH(bool, optionsOff);
    QCOMPARE(settings.contains("<copy-text-messages>false</copy-text-messages>"), optionsOff);
    QCOMPARE(settings.contains("<copy-photos>false</copy-photos>"), optionsOff);
    QVERIFY(!QFileInfo::exists(mHome->filePath(u"VARUZ/extracted"_qs)));
    QVERIFY2(optionsOff || result.mErr.contains(u"not copied from the backup: "_qs),
             qPrintable(result.mErr));
}

QTEST_GUILESS_MAIN(TestMobrelaySync)
#include "tst_mobrelaysync.moc"
