// mobrelay-sync from end to end: a generated library of real audio files
// (MP3 and AAC, with and without covers), a temporary folder as the phone.
#include "mobrelaysyncfixture.h"
#include "testhome.h"

#include <QTest>
#include <QThread>

#include <csignal>

using namespace e2e;

namespace {
enum Track
{
    Morning,
    Noon,
    Evening,
    Low,
    High,
    Cafe,
    BigOne,
    BigTwo,
    BigThree,
    Ep1,
    Ep2,
    Ep3,
    Damaged,
    Bought
};
constexpr qint64 BigBytes = 24 << 20;
const QString Hidden = u"."_qs;
} // namespace

class TestMobrelaySync : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void firstRunThenNothingToDo();
    void droppedPlaylist_data();
    void droppedPlaylist();
    void deleteAskedOnTerminal_data();
    void deleteAskedOnTerminal();
    void aacConvertedToMp3WithTags();
    void albumArtOncePerAlbumAndForcedPass();
    void incompleteRun();
    void protectedTracksListed();
    void unusableCacheFails();
    void lowSpace_data();
    void lowSpace();
    void killedMidCopyThenCompleted();
    void interruptCancels();

private:
    RunResult configure(const QStringList &aOptions);
    RunResult sync(const QStringList &aOptions = {});
    // Where a track lands on the phone, relative to its root.
    QString phonePath(int aTrack, bool aConverted = false) const;
    // Relative paths of the files below the phone's Music folder, covers aside.
    QStringList musicFiles() const;
    QString settingsText() const;
    void startSync(QProcess &aProcess, const QStringList &aOptions);
    // Reads the running program's output until aText appears.
    bool waitForOutput(QProcess &aProcess, QString &aOut, const QString &aText);

    std::unique_ptr<TestHome> mHome;
    QTemporaryDir mLibraryDir;
    QString mLibrary;
    QList<LibraryTrack> mTracks;
    QString mPhone;
};

void TestMobrelaySync::initTestCase()
{
    QVERIFY2(!binary().isEmpty(), "mobrelay-sync not found below MOBRELAY_BINARY_DIR");
    if (QStandardPaths::findExecutable(u"ffmpeg"_qs).isEmpty())
        QSKIP("ffmpeg is not installed (scripts/install-deps installs it)");
    QVERIFY(mLibraryDir.isValid());
    const QString red = u"red"_qs;
    const QString blue = u"blue"_qs;
    const QString a = u"Alpha Band"_qs, b = u"Beta Duo"_qs;
    const auto music = [](const QString &aName, const QString &aArtist, const QString &aAlbum,
                          int aNumber, const QString &aFormat, const QString &aCover = {},
                          qint64 aBytes = 0) {
        return LibraryTrack{aName,  aArtist, aAlbum, aNumber, aFormat,
                            aCover, false,   {},     aBytes,  {}};
    };
    const auto episode = [](const QString &aName, const QString &aDate) {
        return LibraryTrack{aName, u"Host"_qs, u"Test Cast"_qs, 0, u"mp3"_qs,
                            {},    true,       aDate,           0, {}};
    };
    const QString mp3 = u"mp3"_qs, m4a = u"m4a"_qs, bin = u"bin"_qs;
    mTracks = {
        music(u"Morning Sine"_qs, a, u"First Light"_qs, 1, mp3, red),
        music(u"Noon Square"_qs, a, u"First Light"_qs, 2, mp3, red),
        music(u"Evening Aac"_qs, a, u"First Light"_qs, 3, m4a, red),
        music(u"Low Hum"_qs, b, u"Quiet Rooms"_qs, 1, m4a, blue),
        music(u"High Chirp"_qs, b, u"Quiet Rooms"_qs, 2, mp3, blue),
        music(u"Café Drone"_qs, u"Ünïcode Quartet"_qs, u"Ça va"_qs, 1, mp3),
        music(u"Big One"_qs, u"Heavy"_qs, u"Large"_qs, 1, bin, {}, BigBytes),
        music(u"Big Two"_qs, u"Heavy"_qs, u"Large"_qs, 2, bin, {}, BigBytes),
        music(u"Big Three"_qs, u"Heavy"_qs, u"Large"_qs, 3, bin, {}, BigBytes),
        episode(u"Episode 1"_qs, u"2026-01-01T08:00:00Z"_qs),
        episode(u"Episode 2"_qs, u"2026-01-08T08:00:00Z"_qs),
        episode(u"Episode 3"_qs, u"2026-01-15T08:00:00Z"_qs),
        music(u"Damaged Aac"_qs, a, u"Broken"_qs, 1, u"junk"_qs, {}, 5000),
        music(u"Bought Song"_qs, a, u"Shop"_qs, 1, u"m4p"_qs, {}, 5000),
    };
    mLibrary = mLibraryDir.filePath(u"iTunes Music Library.xml"_qs);
    QVERIFY(writeLibrary(mLibrary, mLibraryDir.filePath(u"media"_qs), mTracks,
                         {{u"Road"_qs, {Morning, Noon, Evening}},
                          {u"Night"_qs, {Low, High}},
                          {u"Extra"_qs, {Cafe}},
                          {u"Big"_qs, {BigOne, BigTwo, BigThree}},
                          {u"Damaged"_qs, {Damaged}},
                          {u"Protected"_qs, {Bought, Cafe}}}));
}

void TestMobrelaySync::init()
{
    mHome = std::make_unique<TestHome>();
    mPhone = mHome->filePath(u"phone"_qs);
}

void TestMobrelaySync::cleanup()
{
    mHome.reset();
}

RunResult TestMobrelaySync::configure(const QStringList &aOptions)
{
    return run(mHome->path(),
               QStringList{u"--library"_qs, mLibrary, u"configure"_qs, mPhone} + aOptions);
}

RunResult TestMobrelaySync::sync(const QStringList &aOptions)
{
    return run(mHome->path(), QStringList{u"--library"_qs, mLibrary, u"sync"_qs, mPhone} + aOptions,
               120000);
}

void TestMobrelaySync::startSync(QProcess &aProcess, const QStringList &aOptions)
{
    start(aProcess, mHome->path(),
          QStringList{u"--library"_qs, mLibrary, u"sync"_qs, mPhone} + aOptions);
}

bool TestMobrelaySync::waitForOutput(QProcess &aProcess, QString &aOut, const QString &aText)
{
    while (!aOut.contains(aText)) {
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

QStringList TestMobrelaySync::musicFiles() const
{
    QStringList files;
    for (const QString &file : snapshot(mPhone + u"/Music"_qs).keys()) {
        if (!file.endsWith(u"/AlbumArt.jpg"_qs))
            files.append(u"Music/"_qs + file);
    }
    return files;
}

QString TestMobrelaySync::settingsText() const
{
    return QString::fromUtf8(readFile(mHome->filePath(u"VARUZ/varuz.xml"_qs)));
}

void TestMobrelaySync::firstRunThenNothingToDo()
{
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Night,Extra"_qs, u"--podcasts"_qs, u"all"_qs,
                        u"--episodes"_qs, u"2"_qs, u"--album-art"_qs, u"off"_qs})
                 .mExitCode,
             0);
    const RunResult first = sync();
    QVERIFY2(first.mExitCode == 0, qPrintable(first.mOut + first.mErr));
    QCOMPARE(first.states().first(), 9);
    QCOMPARE(first.states().last(), 2);
    QVERIFY(first.states().contains(13));
    QVERIFY(first.states().contains(15));
    QVERIFY2(first.mOut.contains(u"summary: copied 8, deleted 0, not copied 0, not deleted 0"_qs),
             qPrintable(first.mOut));

    // Every chosen track, byte for byte, and only those: the two newest episodes.
    QStringList expected;
    for (int track : {Morning, Noon, Evening, Low, High, Cafe, Ep2, Ep3}) {
        expected.append(phonePath(track));
        QCOMPARE(fileHash(mPhone + QLatin1Char('/') + phonePath(track)),
                 fileHash(mTracks.at(track).mPath));
    }
    expected.sort();
    QCOMPARE(musicFiles(), expected);

    const QString road = QString::fromUtf8(readFile(mPhone + u"/Playlists_KVL/Road.m3u"_qs));
    QVERIFY2(road.startsWith(u"#EXTM3U"_qs), qPrintable(road));
    for (int track : {Morning, Noon, Evening})
        QVERIFY2(road.contains(u"../"_qs + phonePath(track)), qPrintable(road));
    QVERIFY(!road.contains(phonePath(Low)));
    QVERIFY(readFile(mPhone + u"/Playlists_KVL/Night.m3u"_qs).contains("High Chirp"));
    QVERIFY(readFile(mPhone + u"/Playlists_KVL/Test Cast.m3u"_qs).contains("Episode 3"));
    const QString metadata = QString::fromUtf8(readFile(mPhone + u"/VARUZ/metadata0.xml"_qs));
    QVERIFY2(metadata.contains(u"Café Drone"_qs) && metadata.trimmed().endsWith(u"</metadata>"_qs),
             qPrintable(metadata));
    QCOMPARE(readFile(mPhone + u"/VARUZ/pcversion.txt"_qs), QByteArray("123"));
    QVERIFY(QFileInfo(mHome->filePath(u"VARUZ/mcache0"_qs)).size() > 0);
    QVERIFY(QFileInfo(mHome->filePath(u"VARUZ/mcache0p"_qs)).size() > 0);
    QVERIFY(readFile(mHome->filePath(u"VARUZ/mcache0p"_qs))
                .contains(QByteArray(reinterpret_cast<const char *>(u"High Chirp"), 20)));

    const QMap<QString, FileState> before = snapshot(mPhone);
    QThread::msleep(20);
    const RunResult second = sync();
    QCOMPARE(second.mExitCode, 0);
    QVERIFY2(!second.copiedSomething(), qPrintable(second.mOut));
    QVERIFY(!second.states().contains(12));
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
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Night"_qs}).mExitCode, 0);
    QCOMPARE(sync({u"--yes"_qs}).mExitCode, 0);
    QCOMPARE(configure({u"--playlists"_qs, u"Road"_qs}).mExitCode, 0);
    const QMap<QString, FileState> before = snapshot(mPhone);
    const QByteArray cacheBefore = readFile(mHome->filePath(u"VARUZ/mcache0"_qs));

    const RunResult refused = sync(refusal);
    QCOMPARE(refused.mExitCode, 2);
    QCOMPARE(refused.states().last(), 6);
    QVERIFY(!refused.states().contains(12));
    QVERIFY(!refused.copiedSomething());
    QVERIFY2(refused.mOut.contains(u"delete: 2 tracks refused"_qs), qPrintable(refused.mOut));
    if (refusal.isEmpty())
        QVERIFY2(refused.mErr.contains(u"no terminal"_qs), qPrintable(refused.mErr));
    const QMap<QString, FileState> after = snapshot(mPhone);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!it.key().startsWith(u"VARUZ/"_qs))
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    QCOMPARE(readFile(mHome->filePath(u"VARUZ/mcache0"_qs)), cacheBefore);

    const RunResult confirmed = sync({u"--yes"_qs});
    QVERIFY2(confirmed.mExitCode == 0, qPrintable(confirmed.mOut + confirmed.mErr));
    QVERIFY(confirmed.states().contains(12));
    QVERIFY2(confirmed.mOut.contains(u"summary: copied 0, deleted 2,"_qs),
             qPrintable(confirmed.mOut));
    QVERIFY(!confirmed.copiedSomething());
    QStringList expected{phonePath(Morning), phonePath(Noon), phonePath(Evening)};
    expected.sort();
    QCOMPARE(musicFiles(), expected);
    QCOMPARE(readFile(mPhone + u"/Playlists_KVL/Night.m3u"_qs).trimmed(), QByteArray("#EXTM3U"));
    QVERIFY(readFile(mPhone + u"/Playlists_KVL/Road.m3u"_qs).contains("Noon Square"));

    // The cache knows: nothing is deleted or copied again.
    const RunResult again = sync();
    QCOMPARE(again.mExitCode, 0);
    QVERIFY(!again.states().contains(12));
    QVERIFY(!again.copiedSomething());
}

void TestMobrelaySync::deleteAskedOnTerminal_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("yes") << QByteArray("y\n") << true;
    QTest::newRow("no") << QByteArray("n\n") << false;
    QTest::newRow("just return") << QByteArray("\n") << false;
}

void TestMobrelaySync::deleteAskedOnTerminal()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, deleted);
    if (QStandardPaths::findExecutable(u"script"_qs).isEmpty())
        QSKIP("needs script(1) from util-linux for a terminal");
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Night"_qs}).mExitCode, 0);
    QCOMPARE(sync().mExitCode, 0);
    QCOMPARE(configure({u"--playlists"_qs, u"Road"_qs}).mExitCode, 0);

    const auto quoted = [](QString aText) -> QString {
        return u"'"_qs + aText.replace(u"'"_qs, u"'\\''"_qs) + u"'"_qs;
    };
    QProcess process;
    process.setProcessEnvironment(environment(mHome->path()));
    process.start(u"script"_qs, {u"-qec"_qs,
                                 quoted(binary()) + u" --library "_qs + quoted(mLibrary) +
                                     u" sync "_qs + quoted(mPhone),
                                 u"/dev/null"_qs});
    QVERIFY(process.waitForStarted());
    QString out;
    QVERIFY2(waitForOutput(process, out, u"[y/N]"_qs), qPrintable(out));
    process.write(answer);
    const RunResult result = finish(process);
    out += result.mOut;
    QVERIFY2(out.contains(u"Delete these 2 tracks from the phone?"_qs), qPrintable(out));
    QVERIFY(out.contains(u"  Beta Duo - Quiet Rooms - Low Hum"_qs));
    QCOMPARE(result.mExitCode, deleted ? 0 : 2);
    QCOMPARE(QFileInfo::exists(mPhone + QLatin1Char('/') + phonePath(High)), !deleted);
    QVERIFY(QFileInfo::exists(mPhone + QLatin1Char('/') + phonePath(Noon)));
}

void TestMobrelaySync::aacConvertedToMp3WithTags()
{
    if (QStandardPaths::findExecutable(u"ffprobe"_qs).isEmpty())
        QSKIP("ffprobe is not installed");
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Night"_qs, u"--convert-to-mp3"_qs, u"on"_qs})
                 .mExitCode,
             0);
    const RunResult result = sync();
    QVERIFY2(result.mExitCode == 0, qPrintable(result.mOut + result.mErr));
    QStringList expected;
    for (int track : {Morning, Noon, Evening, Low, High})
        expected.append(phonePath(track, true));
    expected.sort();
    QCOMPARE(musicFiles(), expected);

    for (int track : {Evening, Low}) {
        const LibraryTrack &source = mTracks.at(track);
        QProcess probe;
        probe.start(u"ffprobe"_qs, {u"-v"_qs, u"error"_qs, u"-show_entries"_qs,
                                    u"format=format_name:format_tags=title,artist,album"_qs,
                                    u"-of"_qs, u"default=noprint_wrappers=1"_qs,
                                    mPhone + QLatin1Char('/') + phonePath(track, true)});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        const QString info = QString::fromUtf8(probe.readAllStandardOutput());
        QVERIFY2(info.contains(u"format_name=mp3"_qs), qPrintable(info));
        QVERIFY2(info.contains(u"TAG:title="_qs + source.mName), qPrintable(info));
        QVERIFY(info.contains(u"TAG:artist="_qs + source.mArtist));
        QVERIFY(info.contains(u"TAG:album="_qs + source.mAlbum));
    }
    // MP3 sources are copied as they are.
    QCOMPARE(fileHash(mPhone + QLatin1Char('/') + phonePath(High)),
             fileHash(mTracks.at(High).mPath));

    const RunResult second = sync();
    QCOMPARE(second.mExitCode, 0);
    QVERIFY2(!second.copiedSomething(), qPrintable(second.mOut));
}

void TestMobrelaySync::albumArtOncePerAlbumAndForcedPass()
{
    const QString first = mPhone + u"/Music/Alpha Band/First Light/AlbumArt.jpg"_qs;
    const QString second = mPhone + u"/Music/Beta Duo/Quiet Rooms/AlbumArt.jpg"_qs;
    const QString hint = mPhone + u"/VARUZ/refreshhint"_qs;

    // Art on: placed while copying, once per album with a cover.
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Extra"_qs}).mExitCode, 0);
    RunResult result = sync();
    QVERIFY2(result.mExitCode == 0, qPrintable(result.mOut + result.mErr));
    QVERIFY(readFile(first).startsWith("\xFF\xD8"));
    QCOMPARE(readFile(hint).count('\n'), 1);
    QVERIFY(!QFileInfo::exists(mPhone + u"/Music/Ünïcode Quartet/Ça va/AlbumArt.jpg"_qs));
    QVERIFY2(settingsText().contains(u"<force-album-art-sync>false</force-album-art-sync>"_qs),
             qPrintable(settingsText()));

    // Art off: Night's tracks arrive without a cover.
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Night,Extra"_qs, u"--album-art"_qs, u"off"_qs})
                 .mExitCode,
             0);
    result = sync();
    QCOMPARE(result.mExitCode, 0);
    QVERIFY(result.copiedSomething());
    QVERIFY(!result.states().contains(11));
    QVERIFY(!QFileInfo::exists(second));

    // Art for earlier tracks: the forced pass, without copying, then off again.
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Night,Extra"_qs, u"--album-art"_qs, u"on"_qs})
                 .mExitCode,
             0);
    const QByteArray firstCover = readFile(first);
    result = sync();
    QVERIFY2(result.mExitCode == 0, qPrintable(result.mOut + result.mErr));
    QVERIFY(result.states().contains(11));
    QVERIFY(!result.copiedSomething());
    QVERIFY(readFile(second).startsWith("\xFF\xD8"));
    QCOMPARE(readFile(first), firstCover);
    // One report per album with a cover, the one already there included.
    QCOMPARE(readFile(hint).count('\n'), 3);
    QVERIFY(settingsText().contains(u"<force-album-art-sync>false</force-album-art-sync>"_qs));

    result = sync();
    QCOMPARE(result.mExitCode, 0);
    QVERIFY(!result.states().contains(11));
    QCOMPARE(readFile(hint).count('\n'), 3);
}

void TestMobrelaySync::incompleteRun()
{
    // A track whose conversion fails is not copied; the rest is, and the run says so.
    QCOMPARE(configure({u"--playlists"_qs, u"Night,Damaged"_qs, u"--convert-to-mp3"_qs, u"on"_qs})
                 .mExitCode,
             0);
    RunResult result = sync();
    QVERIFY2(result.mExitCode == 1, qPrintable(result.mOut + result.mErr));
    QCOMPARE(result.states().last(), 2);
    QVERIFY2(result.mErr.contains(u"not copied: Alpha Band - Broken - Damaged Aac"_qs),
             qPrintable(result.mErr));
    QStringList expected{phonePath(Low, true), phonePath(High)};
    expected.sort();
    QCOMPARE(musicFiles(), expected);

    // A file that cannot be deleted (a folder has taken its name).
    QCOMPARE(configure({u"--playlists"_qs, u"Extra"_qs}).mExitCode, 0);
    const QString blocked = mPhone + QLatin1Char('/') + phonePath(High);
    QVERIFY(QFile::remove(blocked));
    QVERIFY(QDir().mkpath(blocked + u"/inside"_qs));
    result = sync({u"--yes"_qs});
    QCOMPARE(result.mExitCode, 1);
    QVERIFY2(result.mErr.contains(u"not deleted: Beta Duo - Quiet Rooms - High Chirp"_qs),
             qPrintable(result.mErr));
    QVERIFY(!result.mErr.contains(u"Low Hum"_qs));
    QVERIFY(!QFileInfo::exists(mPhone + QLatin1Char('/') + phonePath(Low, true)));
    QVERIFY(QFileInfo::exists(mPhone + QLatin1Char('/') + phonePath(Cafe)));
}

void TestMobrelaySync::protectedTracksListed()
{
    QCOMPARE(configure({u"--playlists"_qs, u"Protected"_qs}).mExitCode, 0);
    const RunResult result = sync();
    QCOMPARE(result.mExitCode, 0);
    QVERIFY2(
        result.lines().contains(u"copy-protected, not copied: Alpha Band - Shop - Bought Song"_qs),
        qPrintable(result.mOut));
    QCOMPARE(musicFiles(), QStringList{phonePath(Cafe)});
}

void TestMobrelaySync::unusableCacheFails()
{
    QCOMPARE(configure({u"--playlists"_qs, u"Extra"_qs}).mExitCode, 0);
    // A folder where the cache file should be: it cannot be opened.
    QVERIFY(QDir().mkpath(mHome->filePath(u"VARUZ/mcache0"_qs)));
    const RunResult result = sync();
    QCOMPARE(result.mExitCode, 2);
    QVERIFY2(result.states().contains(3), qPrintable(result.mOut));
    QVERIFY(!result.copiedSomething());
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
    QCOMPARE(configure({u"--playlists"_qs, u"Road"_qs}).mExitCode, 0);
    QStringList options{u"--free-space"_qs, u"1000"_qs};
    if (allow)
        options.append(u"--allow-low-space"_qs);
    const RunResult result = sync(options);
    QVERIFY2(result.mOut.contains(u"space: 0 MB short"_qs), qPrintable(result.mOut));
    if (allow) {
        QCOMPARE(result.mExitCode, 0);
        QCOMPARE(musicFiles().size(), 3);
    } else {
        QCOMPARE(result.mExitCode, 2);
        QCOMPARE(result.states().last(), 6);
        QVERIFY(!result.copiedSomething());
        QVERIFY(musicFiles().isEmpty());
        QVERIFY(result.mErr.contains(u"--allow-low-space"_qs));
    }
}

void TestMobrelaySync::killedMidCopyThenCompleted()
{
    QCOMPARE(configure({u"--playlists"_qs, u"Road,Big"_qs}).mExitCode, 0);
    QProcess process;
    startSync(process, {});
    QString out;
    QVERIFY2(waitForOutput(process, out, u"progress 13 "_qs), qPrintable(out));

    // Kill it while a copy is under way: its temporary file is there.
    bool copying = false;
    for (int i = 0; i < 20000 && !copying && process.state() == QProcess::Running; ++i) {
        QDirIterator it(mPhone + u"/Music"_qs, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext() && !copying)
            copying = it.next().section(QLatin1Char('/'), -1).startsWith(Hidden);
        if (!copying)
            QThread::usleep(500);
    }
    QVERIFY2(copying, "the run ended before a copy could be interrupted");
    process.kill();
    QVERIFY(process.waitForFinished());

    // No file under a track's name is anything but a complete copy.
    const QStringList wanted{phonePath(Morning), phonePath(Noon),   phonePath(Evening),
                             phonePath(BigOne),  phonePath(BigTwo), phonePath(BigThree)};
    int complete = 0;
    for (const QString &file : musicFiles()) {
        const QString name = file.section(QLatin1Char('/'), -1);
        if (name.startsWith(Hidden))
            continue;
        const int index = int(wanted.indexOf(file));
        QVERIFY2(index >= 0, qPrintable(file));
        const int track = QList<int>{Morning, Noon, Evening, BigOne, BigTwo, BigThree}.at(index);
        QCOMPARE(fileHash(mPhone + QLatin1Char('/') + file), fileHash(mTracks.at(track).mPath));
        ++complete;
    }
    QVERIFY(complete < wanted.size());

    const RunResult next = sync();
    QVERIFY2(next.mExitCode == 0, qPrintable(next.mOut + next.mErr));
    QStringList expected = wanted;
    expected.sort();
    QCOMPARE(musicFiles(), expected);
    for (int track : {Morning, Noon, Evening, BigOne, BigTwo, BigThree})
        QCOMPARE(fileHash(mPhone + QLatin1Char('/') + phonePath(track)),
                 fileHash(mTracks.at(track).mPath));

    const RunResult third = sync();
    QCOMPARE(third.mExitCode, 0);
    QVERIFY2(!third.copiedSomething(), qPrintable(third.mOut));
    QCOMPARE(musicFiles(), expected);
}

void TestMobrelaySync::interruptCancels()
{
    QCOMPARE(configure({u"--playlists"_qs, u"Big"_qs}).mExitCode, 0);
    QProcess process;
    startSync(process, {});
    QString out;
    QVERIFY2(waitForOutput(process, out, u"progress 13 "_qs), qPrintable(out));
    QVERIFY(::kill(pid_t(process.processId()), SIGINT) == 0);
    RunResult result = finish(process);
    result.mOut.prepend(out);
    QCOMPARE(result.mExitCode, 2);
    QVERIFY2(result.mErr.contains(u"cancelling"_qs), qPrintable(result.mErr));
    const QList<int> states = result.states();
    QCOMPARE(states.last(), 6);
    QCOMPARE(states.at(states.size() - 2), 2);
    QVERIFY2(musicFiles().size() < 3, "cancelled only after every track was copied");
    // FinalizeSync closed the metadata file.
    QVERIFY(readFile(mPhone + u"/VARUZ/metadata0.xml"_qs).trimmed().endsWith("</metadata>"));

    const RunResult next = sync();
    QVERIFY2(next.mExitCode == 0, qPrintable(next.mOut + next.mErr));
    QCOMPARE(musicFiles().size(), 3);
}

QTEST_GUILESS_MAIN(TestMobrelaySync)
#include "tst_mobrelaysync.moc"
