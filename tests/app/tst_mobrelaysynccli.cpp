// The command line of mobrelay-sync: usage errors, the library's location and
// its waits, the playlist listing and what "configure" writes.
#include "mobrelaysyncfixture.h"
#include "testhome.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QXmlStreamReader>

#include <csignal>

using namespace e2e;

class TestMobrelaySyncCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void badUsage_data();
    void badUsage();
    void help();
    void missingLibrary_data();
    void missingLibrary();
    void busyLibrary_data();
    void busyLibrary();
    void busyLibraryThatBecomesReady();
    void interruptedWhileWaiting();
    void playlists();
    void libraryLocation();
    void configure_data();
    void configure();
    void reconfigureKeepsIdentityAndCache();
    void configureWarnsAboutUnknownNames();
    void syncNeedsConfiguredPhone();

private:
    // Child elements of the phone's device element: name -> texts in order.
    QMap<QString, QStringList> deviceSettings(const QString &aId) const;
    QString phoneId() const;

    std::unique_ptr<TestHome> mHome;
    QTemporaryDir mLibraryDir;
    QString mLibrary;
    QString mBrokenLibrary;
    QString mPhone;
};

void TestMobrelaySyncCli::initTestCase()
{
    QVERIFY2(!binary().isEmpty(), "mobrelay-sync not found below MOBRELAY_BINARY_DIR");
    QVERIFY(mLibraryDir.isValid());
    QList<LibraryTrack> tracks{
        {u"One"_qs, u"Ann"_qs, u"Red"_qs, 1, u"bin"_qs, {}, false, {}, 1000, {}},
        {u"Two"_qs, u"Ann"_qs, u"Red"_qs, 2, u"bin"_qs, {}, false, {}, 1000, {}},
        {u"Drei"_qs, u"Bär"_qs, u"Grün"_qs, 1, u"bin"_qs, {}, false, {}, 1000, {}},
        {u"Ep 1"_qs, u"Host"_qs, u"Talk Show"_qs, 0, u"bin"_qs, {}, true, {}, 1000, {}},
        {u"Ep A"_qs, u"Host"_qs, u"Ünï Cast"_qs, 0, u"bin"_qs, {}, true, {}, 1000, {}},
    };
    mLibrary = mLibraryDir.filePath(u"iTunes Music Library.xml"_qs);
    QVERIFY(
        writeLibrary(mLibrary, mLibraryDir.filePath(u"media"_qs), tracks,
                     {{u"Morning"_qs, {0, 1}}, {u"Für Elise, Abends"_qs, {2}}, {u"Empty"_qs, {}}}));
    mBrokenLibrary = mLibraryDir.filePath(u"broken.xml"_qs);
    QFile broken(mBrokenLibrary);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(readFile(mLibrary).left(300));
}

void TestMobrelaySyncCli::init()
{
    mHome = std::make_unique<TestHome>();
    mPhone = mHome->filePath(u"phone"_qs);
}

void TestMobrelaySyncCli::cleanup()
{
    mHome.reset();
}

QString TestMobrelaySyncCli::phoneId() const
{
    return QString::fromUtf8(readFile(mPhone + u"/VARUZ/uniqueid"_qs));
}

QMap<QString, QStringList> TestMobrelaySyncCli::deviceSettings(const QString &aId) const
{
    QFile file(mHome->filePath(u"VARUZ/varuz.xml"_qs));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    QMap<QString, QStringList> current;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"settings"_qs)
            continue;
        if (xml.name() != u"device"_qs) {
            xml.skipCurrentElement();
            continue;
        }
        current.clear();
        while (xml.readNextStartElement()) {
            const QString name = xml.name().toString();
            current[name].append(name == u"list"_qs ? QString() : xml.readElementText());
            if (name == u"list"_qs)
                xml.skipCurrentElement();
        }
        if (current.value(u"id"_qs) == QStringList{aId})
            return current;
    }
    return {};
}

void TestMobrelaySyncCli::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");
    const QString phone = u"/tmp/no-such-phone"_qs;
    QTest::newRow("nothing") << QStringList{} << u"no command"_qs;
    QTest::newRow("unknown command") << QStringList{u"copy"_qs} << u"unknown command"_qs;
    QTest::newRow("sync without folder") << QStringList{u"sync"_qs} << u"phone folder"_qs;
    QTest::newRow("playlists with argument")
        << QStringList{u"playlists"_qs, u"Morning"_qs} << u"no arguments"_qs;
    QTest::newRow("sync option for configure")
        << QStringList{u"configure"_qs, phone, u"--yes"_qs} << u"--yes"_qs;
    QTest::newRow("configure option for sync")
        << QStringList{u"sync"_qs, phone, u"--playlists"_qs, u"all"_qs} << u"--playlists"_qs;
    QTest::newRow("yes and no-delete")
        << QStringList{u"sync"_qs, phone, u"--yes"_qs, u"--no-delete"_qs} << u"exclude"_qs;
    QTest::newRow("negative episodes")
        << QStringList{u"configure"_qs, phone, u"--episodes"_qs, u"-1"_qs} << u"--episodes"_qs;
    QTest::newRow("album art maybe")
        << QStringList{u"configure"_qs, phone, u"--album-art"_qs, u"maybe"_qs} << u"--album-art"_qs;
    QTest::newRow("empty name in list")
        << QStringList{u"configure"_qs, phone, u"--playlists"_qs, u"A,,B"_qs} << u"--playlists"_qs;
    QTest::newRow("missing value")
        << QStringList{u"configure"_qs, phone, u"--podcasts"_qs} << u"needs a value"_qs;
    QTest::newRow("wait not a number")
        << QStringList{u"--wait"_qs, u"soon"_qs, u"playlists"_qs} << u"--wait"_qs;
    QTest::newRow("flag with value")
        << QStringList{u"sync"_qs, phone, u"--force-full=yes"_qs} << u"takes no value"_qs;
}

void TestMobrelaySyncCli::badUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    const RunResult result = run(mHome->path(), arguments);
    QCOMPARE(result.mExitCode, 64);
    QVERIFY2(result.mErr.contains(complaint), qPrintable(result.mErr));
    QVERIFY(result.mErr.contains(u"Usage:"_qs));
    QVERIFY(result.mOut.isEmpty());
    QVERIFY(!QFileInfo::exists(mHome->filePath(u"VARUZ/varuz.xml"_qs)));
}

void TestMobrelaySyncCli::help()
{
    const RunResult result = run(mHome->path(), {u"--help"_qs});
    QCOMPARE(result.mExitCode, 0);
    for (const QString &word : {u"playlists"_qs, u"configure DIR"_qs, u"sync DIR"_qs,
                                u"--no-delete"_qs, u"--allow-low-space"_qs, u"--wait"_qs})
        QVERIFY2(result.mOut.contains(word), qPrintable(word));
}

void TestMobrelaySyncCli::missingLibrary_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("playlists") << QStringList{u"playlists"_qs};
    QTest::newRow("sync") << QStringList{u"sync"_qs, u"PHONE"_qs, u"--yes"_qs};
}

void TestMobrelaySyncCli::missingLibrary()
{
    QFETCH(QStringList, command);
    command.replaceInStrings(u"PHONE"_qs, mPhone);
    QDir().mkpath(mPhone);
    const QString missing = mHome->filePath(u"nowhere/Library.xml"_qs);
    // A missing file is not worth waiting for, whatever the wait.
    const RunResult given =
        run(mHome->path(), QStringList{u"--library"_qs, missing, u"--wait"_qs, u"600"_qs} + command,
            20000);
    QCOMPARE(given.mExitCode, 66);
    QVERIFY2(given.mErr.contains(u"library file not found: "_qs + missing), qPrintable(given.mErr));

    // Without --library the usual place is looked up and named.
    const RunResult usual =
        run(mHome->path(), QStringList{u"--wait"_qs, u"600"_qs} + command, 20000);
    QCOMPARE(usual.mExitCode, 66);
    QVERIFY2(usual.mErr.contains(mHome->filePath(u"Music/iTunes/iTunes Music Library.xml"_qs)),
             qPrintable(usual.mErr));
    QVERIFY(!QFileInfo::exists(mPhone + u"/Music"_qs));
}

void TestMobrelaySyncCli::busyLibrary_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("playlists") << QStringList{u"playlists"_qs};
    QTest::newRow("sync") << QStringList{u"sync"_qs, u"PHONE"_qs, u"--yes"_qs};
}

void TestMobrelaySyncCli::busyLibrary()
{
    QFETCH(QStringList, command);
    command.replaceInStrings(u"PHONE"_qs, mPhone);
    QVERIFY(run(mHome->path(), {u"configure"_qs, mPhone}).mExitCode == 0);
    const RunResult result =
        run(mHome->path(),
            QStringList{u"--library"_qs, mBrokenLibrary, u"--wait"_qs, u"1"_qs} + command);
    QCOMPARE(result.mExitCode, 75);
    QVERIFY2(result.mErr.contains(u"still busy"_qs), qPrintable(result.mErr));
    QVERIFY(result.mErr.contains(mBrokenLibrary));
    QVERIFY(result.stateLines().isEmpty());
    QVERIFY(!QFileInfo::exists(mPhone + u"/Music"_qs));
}

void TestMobrelaySyncCli::busyLibraryThatBecomesReady()
{
    const QString path = mHome->filePath(u"growing.xml"_qs);
    QVERIFY(QFile::copy(mBrokenLibrary, path));
    QProcess process;
    start(process, mHome->path(), {u"--library"_qs, path, u"--wait"_qs, u"60"_qs, u"playlists"_qs});
    QVERIFY(process.waitForStarted());
    QThread::msleep(600);
    QCOMPARE(process.state(), QProcess::Running);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(readFile(mLibrary));
    file.close();
    const RunResult result = finish(process, 30000);
    QCOMPARE(result.mExitCode, 0);
    QVERIFY(result.lines().contains(u"Morning"_qs));
}

void TestMobrelaySyncCli::interruptedWhileWaiting()
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

void TestMobrelaySyncCli::playlists()
{
    const RunResult result = run(mHome->path(), {u"--library"_qs, mLibrary, u"playlists"_qs});
    QCOMPARE(result.mExitCode, 0);
    QCOMPARE(result.lines(), (QStringList{u"Morning"_qs, u"Für Elise, Abends"_qs, u"Empty"_qs,
                                          u"podcast: Talk Show"_qs, u"podcast: Ünï Cast"_qs}));
}

void TestMobrelaySyncCli::libraryLocation()
{
    // The usual place, then the configured one, and --library over both.
    const QString usual = mHome->filePath(u"Music/iTunes/iTunes Music Library.xml"_qs);
    QDir().mkpath(QFileInfo(usual).path());
    QVERIFY(QFile::copy(mLibrary, usual));
    RunResult result = run(mHome->path(), {u"playlists"_qs});
    QCOMPARE(result.mExitCode, 0);
    QVERIFY(result.lines().contains(u"Morning"_qs));

    const QString other = mHome->filePath(u"other.xml"_qs);
    QList<LibraryTrack> tracks{
        {u"Solo"_qs, u"Zed"_qs, u"Blue"_qs, 1, u"bin"_qs, {}, false, {}, 10, {}}};
    QVERIFY(
        writeLibrary(other, mHome->filePath(u"othermedia"_qs), tracks, {{u"Elsewhere"_qs, {0}}}));
    result = run(mHome->path(), {u"--library"_qs, other, u"playlists"_qs});
    QCOMPARE(result.mExitCode, 0);
    QCOMPARE(result.lines(), QStringList{u"Elsewhere"_qs});
    // The override is for that call only.
    result = run(mHome->path(), {u"playlists"_qs});
    QVERIFY(result.lines().contains(u"Morning"_qs));
    QVERIFY(!QFileInfo::exists(mHome->filePath(u"VARUZ/varuz.xml"_qs)) ||
            !readFile(mHome->filePath(u"VARUZ/varuz.xml"_qs)).contains("other.xml"));
}

void TestMobrelaySyncCli::configure_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("playlistElements");
    QTest::addColumn<QStringList>("podcastElements");
    QTest::addColumn<QString>("podcastSetting");
    QTest::addColumn<QString>("episodes");
    QTest::addColumn<QString>("enableArt");
    QTest::addColumn<QString>("forceArt");
    QTest::addColumn<QString>("convert");

    QTest::newRow("defaults") << QStringList{} << QStringList{} << QStringList{} << u"0"_qs
                              << u"0"_qs << u"true"_qs << u"true"_qs << u"false"_qs;
    QTest::newRow("no music, all podcasts, two episodes")
        << QStringList{u"--playlists"_qs, u"none"_qs,       u"--podcasts"_qs,
                       u"all"_qs,         u"--episodes"_qs, u"2"_qs}
        << QStringList{u"###DONT-SYNC-MUSIC###"_qs} << QStringList{} << u"1"_qs << u"2"_qs
        << u"true"_qs << u"true"_qs << u"false"_qs;
    QTest::newRow("named lists, art off, conversion on")
        << QStringList{u"--playlists=Morning,Empty"_qs,
                       u"--podcasts"_qs,
                       u"Ünï Cast"_qs,
                       u"--album-art"_qs,
                       u"off"_qs,
                       u"--convert-to-mp3"_qs,
                       u"on"_qs}
        << QStringList{u"Morning"_qs, u"Empty"_qs} << QStringList{u"Ünï Cast"_qs} << u"2"_qs
        << u"0"_qs << u"false"_qs << u"false"_qs << u"true"_qs;
    QTest::newRow("art for new tracks only")
        << QStringList{u"--album-art-existing"_qs, u"off"_qs} << QStringList{} << QStringList{}
        << u"0"_qs << u"0"_qs << u"true"_qs << u"false"_qs << u"false"_qs;
    QTest::newRow("podcasts none after all")
        << QStringList{u"--podcasts"_qs, u"all"_qs, u"--podcasts"_qs, u"none"_qs} << QStringList{}
        << QStringList{} << u"0"_qs << u"0"_qs << u"true"_qs << u"true"_qs << u"false"_qs;
}

void TestMobrelaySyncCli::configure()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, playlistElements);
    QFETCH(QStringList, podcastElements);
    QFETCH(QString, podcastSetting);
    QFETCH(QString, episodes);
    QFETCH(QString, enableArt);
    QFETCH(QString, forceArt);
    QFETCH(QString, convert);

    const RunResult result = run(
        mHome->path(), QStringList{u"--library"_qs, mLibrary, u"configure"_qs, mPhone} + options);
    QCOMPARE(result.mExitCode, 0);
    const QString id = phoneId();
    QVERIFY(!id.isEmpty());
    QVERIFY(result.mOut.contains(id));
    const QMap<QString, QStringList> device = deviceSettings(id);
    QVERIFY2(!device.isEmpty(), "no device element for the phone's id");
    QCOMPARE(device.value(u"name"_qs), QStringList{u"phone"_qs});
    QCOMPARE(device.value(u"cache"_qs), QStringList{mHome->filePath(u"VARUZ/mcache0"_qs)});
    QCOMPARE(device.value(u"playlist"_qs), playlistElements);
    QCOMPARE(device.value(u"podcast"_qs), podcastElements);
    QCOMPARE(device.value(u"podcast-sync-setting"_qs), QStringList{podcastSetting});
    QCOMPARE(device.value(u"number-of-episodes-to-sync"_qs), QStringList{episodes});
    QCOMPARE(device.value(u"enable-album-art-sync"_qs), QStringList{enableArt});
    QCOMPARE(device.value(u"force-album-art-sync"_qs), QStringList{forceArt});
    QCOMPARE(device.value(u"convert-to-mp3"_qs), QStringList{convert});
    QCOMPARE(device.value(u"copy-photos"_qs), QStringList{u"false"_qs});
    QVERIFY(!device.contains(u"list"_qs));
}

void TestMobrelaySyncCli::reconfigureKeepsIdentityAndCache()
{
    QCOMPARE(run(mHome->path(), {u"configure"_qs, mPhone}).mExitCode, 0);
    const QString id = phoneId();
    const QString other = mHome->filePath(u"second phone"_qs);
    QCOMPARE(run(mHome->path(), {u"configure"_qs, other}).mExitCode, 0);
    QCOMPARE(
        run(mHome->path(), {u"configure"_qs, mPhone, u"--playlists"_qs, u"Morning"_qs}).mExitCode,
        0);
    QCOMPARE(phoneId(), id);
    const QMap<QString, QStringList> device = deviceSettings(id);
    QCOMPARE(device.value(u"cache"_qs), QStringList{mHome->filePath(u"VARUZ/mcache0"_qs)});
    QCOMPARE(device.value(u"playlist"_qs), QStringList{u"Morning"_qs});
    const QString otherId = QString::fromUtf8(readFile(other + u"/VARUZ/uniqueid"_qs));
    QVERIFY(!otherId.isEmpty());
    QCOMPARE(deviceSettings(otherId).value(u"cache"_qs),
             QStringList{mHome->filePath(u"VARUZ/mcache1"_qs)});
}

void TestMobrelaySyncCli::configureWarnsAboutUnknownNames()
{
    const RunResult result =
        run(mHome->path(), {u"--library"_qs, mLibrary, u"configure"_qs, mPhone, u"--playlists"_qs,
                            u"Morning,Nope"_qs, u"--podcasts"_qs, u"Gone Cast"_qs});
    QCOMPARE(result.mExitCode, 0);
    QVERIFY2(result.mErr.contains(u"no playlist named 'Nope'"_qs), qPrintable(result.mErr));
    QVERIFY(result.mErr.contains(u"no podcast named 'Gone Cast'"_qs));
    QVERIFY(!result.mErr.contains(u"'Morning'"_qs));
    QCOMPARE(deviceSettings(phoneId()).value(u"playlist"_qs),
             (QStringList{u"Morning"_qs, u"Nope"_qs}));
}

void TestMobrelaySyncCli::syncNeedsConfiguredPhone()
{
    RunResult result = run(mHome->path(), {u"--library"_qs, mLibrary, u"sync"_qs, mPhone});
    QCOMPARE(result.mExitCode, 66);
    QVERIFY2(result.mErr.contains(u"no phone folder"_qs), qPrintable(result.mErr));

    // No settings file at all, then settings for another phone only.
    QDir().mkpath(mPhone);
    result = run(mHome->path(), {u"--library"_qs, mLibrary, u"sync"_qs, mPhone});
    QCOMPARE(result.mExitCode, 2);
    QVERIFY2(result.states().contains(5), qPrintable(result.mOut));
    QVERIFY(result.mErr.contains(u"configure"_qs));
    QCOMPARE(run(mHome->path(), {u"configure"_qs, mHome->filePath(u"other"_qs)}).mExitCode, 0);
    result = run(mHome->path(), {u"--library"_qs, mLibrary, u"sync"_qs, mPhone});
    QCOMPARE(result.mExitCode, 2);
    QVERIFY2(result.states().contains(4), qPrintable(result.mOut));
    QVERIFY(result.mErr.contains(u"configure"_qs));
    QVERIFY(!QFileInfo::exists(mPhone + u"/Music"_qs));
}

QTEST_GUILESS_MAIN(TestMobrelaySyncCli)
#include "tst_mobrelaysynccli.moc"
