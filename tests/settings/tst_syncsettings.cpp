#include "core/apppaths.h"
#include "settings/syncsettings.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {
const QString Phone = QStringLiteral("phone-1");

void writeSettingsFile(const QByteArray &aContent)
{
    QDir().mkpath(AppPaths::dataFolder());
    QFile file(SyncSettings::fileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(aContent);
}

SyncSettings reloaded()
{
    SyncSettings settings;
    settings.load();
    return settings;
}
} // namespace

class TestSyncSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { mHome = std::make_unique<TestHome>(); }
    void cleanup() { mHome.reset(); }

    void missingAndMalformedFiles();
    void musicSelectionRoundTrip_data();
    void musicSelectionRoundTrip();
    void reconfigureKeepsCacheAndWarnings();
    void generatedCacheNamesFillGaps();
    void readsWhatIsStored();

private:
    std::unique_ptr<TestHome> mHome;
};

void TestSyncSettings::missingAndMalformedFiles()
{
    SyncSettings settings;
    QCOMPARE(settings.load(), SyncSettings::SettingsUnreadable);
    QVERIFY(QFileInfo(AppPaths::dataFolder()).isDir());
    QString cache;
    QCOMPARE(settings.getCacheFilename(Phone, cache), SyncSettings::DeviceNotConfigured);
    settings.setConvertAacToMp3(Phone, true);
    settings.findListElement(Phone, QStringLiteral("photo_folders"), true);
    QVERIFY(!settings.convertAacToMp3(Phone));
    QVERIFY(settings.document().documentElement().isNull());

    writeSettingsFile("");
    QCOMPARE(settings.load(), 0);

    // A damaged file is moved aside, never overwritten; an older copy is kept too.
    const QByteArray damaged = "<settings><device><id>phone-1</id><cache>x</cache></device>";
    writeSettingsFile(damaged);
    QCOMPARE(settings.load(), SyncSettings::SettingsDamaged);
    QVERIFY(settings.document().documentElement().isNull());
    QVERIFY(!settings.isConfigured(Phone));
    QVERIFY2(settings.damage().startsWith(u"line 1, column 59: "_qs),
             qPrintable(settings.damage()));
    const QString firstCopy = SyncSettings::fileName() + u".bad"_qs;
    QCOMPARE(settings.damagedCopy(), firstCopy);
    QCOMPARE(settings.setConfig(Phone, true, 0, {}, {}, u"P"_qs), 0);
    QVERIFY(reloaded().isConfigured(Phone));

    writeSettingsFile(QByteArray(100000, '<'));
    QCOMPARE(settings.load(), SyncSettings::SettingsDamaged);
    QCOMPARE(settings.damagedCopy(), firstCopy + u".1"_qs);
    QFile first(firstCopy);
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), damaged);
    QCOMPARE(QFileInfo(settings.damagedCopy()).size(), 100000);
}

void TestSyncSettings::musicSelectionRoundTrip_data()
{
    QTest::addColumn<bool>("allMusic");
    QTest::addColumn<QStringList>("playlists");
    QTest::addColumn<int>("podcastSetting");
    QTest::addColumn<QStringList>("expectedPlaylists");
    QTest::addColumn<QStringList>("expectedPodcasts");
    QTest::addColumn<QByteArray>("storedPlaylistXml");
    const QStringList none{QString()};
    QTest::newRow("all music") << true << QStringList{u"ignored"_qs} << 0 << none << none
                               << QByteArray();
    QTest::newRow("no music") << false << QStringList{} << 1 << QStringList{} << none
                              << QByteArray("<playlist>###DONT-SYNC-MUSIC###</playlist>");
    // Podcasts are stored by name only when chosen by name.
    const QStringList two{u"Rock & Roll"_qs, u"Über <90s>"_qs};
    QTest::newRow("named") << false << two << 2 << two << QStringList{u"News"_qs, u"Talk"_qs}
                           << QByteArray("<playlist>Rock &amp; Roll</playlist>");
}

void TestSyncSettings::musicSelectionRoundTrip()
{
    QFETCH(bool, allMusic);
    QFETCH(QStringList, playlists);
    QFETCH(int, podcastSetting);
    QFETCH(QByteArray, storedPlaylistXml);

    SyncSettings settings = reloaded();
    QCOMPARE(settings.setConfig(Phone, allMusic, podcastSetting, playlists,
                                {u"News"_qs, u"Talk"_qs}, u"My phone"_qs),
             0);

    QFile file(SyncSettings::fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray xml = file.readAll();
    if (storedPlaylistXml.isEmpty())
        QVERIFY(!xml.contains("<playlist"));
    else
        QVERIFY2(xml.contains(storedPlaylistXml), xml.constData());

    bool readAllMusic = !allMusic;
    int readSetting = -1;
    QStringList readPlaylists, readPodcasts;
    QCOMPARE(reloaded().getConfig(Phone, readAllMusic, readSetting, readPlaylists, readPodcasts),
             0);
    QCOMPARE(readAllMusic, allMusic);
    QCOMPARE(readSetting, podcastSetting);
    QTEST(readPlaylists, "expectedPlaylists");
    QTEST(readPodcasts, "expectedPodcasts");
    QCOMPARE(reloaded().getStringValue(Phone, u"name"_qs), u"My phone"_qs);
}

void TestSyncSettings::reconfigureKeepsCacheAndWarnings()
{
    SyncSettings settings = reloaded();
    settings.setConfig(Phone, true, 0, {}, {}, QStringLiteral("One"));
    settings.setConfig(QStringLiteral("phone-2"), true, 0, {}, {}, QStringLiteral("Two"));
    settings.setDeleteWithoutWarning(Phone);
    settings.setSkipDrmWarning(Phone);
    settings.setBooleanValue(Phone, QStringLiteral("dont-warn-not-deleted"), true);
    settings.setConvertAacToMp3(Phone, true);
    settings.setNumberOfEpisodesToSync(Phone, 5);
    settings.findListElement(Phone, QStringLiteral("photo_folders"), true);
    settings.save();

    SyncSettings again = reloaded();
    QString cacheBefore;
    QCOMPARE(again.getCacheFilename(Phone, cacheBefore), 0);
    QCOMPARE(cacheBefore, AppPaths::cacheFilePrefix() + u"0");
    const int lineBefore = again.deviceLineNumber(Phone);
    QVERIFY(lineBefore < again.deviceLineNumber(QStringLiteral("phone-2")));

    again.setConfig(Phone, false, 0, {QStringLiteral("Mix")}, {}, QStringLiteral("Renamed"));
    SyncSettings last = reloaded();
    QString cacheAfter;
    last.getCacheFilename(Phone, cacheAfter);
    QCOMPARE(cacheAfter, cacheBefore);
    QVERIFY(last.deleteWithoutWarning(Phone));
    QVERIFY(last.skipDrmWarning(Phone));
    QVERIFY(last.getBooleanValue(Phone, QStringLiteral("dont-warn-not-deleted"), false));
    QVERIFY(!last.convertAacToMp3(Phone));
    QCOMPARE(last.numberOfEpisodesToSync(Phone), 0);
    QVERIFY(last.findListElement(Phone, QStringLiteral("photo_folders"), false).isNull());
    QVERIFY(last.deviceLineNumber(Phone) > last.deviceLineNumber(QStringLiteral("phone-2")));

    // A write that fails says so: a folder stands where the file goes.
    const QString folder = AppPaths::dataFolder();
    QVERIFY(QDir(folder).rename(QFileInfo(SyncSettings::fileName()).fileName(), u"kept"_qs));
    QVERIFY(
        QDir(folder).mkpath(QFileInfo(SyncSettings::fileName()).fileName() + u"/in-the-way"_qs));
    QCOMPARE(last.save(), SyncSettings::SettingsNotWritten);
}

void TestSyncSettings::generatedCacheNamesFillGaps()
{
    const QString prefix = AppPaths::cacheFilePrefix();
    writeSettingsFile(QByteArray("<settings><device><id>a</id><cache>@0</cache></device><device>"
                                 "<id>b</id><cache>@2</cache></device><device><id>c</id></device>"
                                 "</settings>")
                          .replace('@', prefix.toUtf8()));
    SyncSettings settings;
    QCOMPARE(settings.load(), 0);
    QCOMPARE(settings.getUsedCacheFilenames().size(), 2);
    QCOMPARE(settings.generateUniqueCacheFilename(), prefix + u"1");
    settings.setConfig(QStringLiteral("c"), true, 0, {}, {}, QStringLiteral("C"));
    QString cache;
    settings.getCacheFilename(QStringLiteral("c"), cache);
    QCOMPARE(cache, prefix + u"1");
    QCOMPARE(settings.generateUniqueCacheFilename(), prefix + u"3");
    // Files of phones the settings no longer know are not taken over.
    for (const QString &orphan : QStringList{prefix + u"3"_qs, prefix + u"4p"_qs})
        QVERIFY(QFile(orphan).open(QIODevice::WriteOnly));
    QCOMPARE(settings.generateUniqueCacheFilename(), prefix + u"5");
}

void TestSyncSettings::readsWhatIsStored()
{
    writeSettingsFile("<settings>\n<library-path>/old.xml</library-path>\n"
                      "<device>\n<id>first</id>\n</device>\n"
                      "<device><id>phone-1</id>"
                      "<convert-to-mp3>TRUE</convert-to-mp3><copy-photos>1</copy-photos>"
                      "<copy-address-book>true</copy-address-book>"
                      "<number-of-episodes-to-sync>ten</number-of-episodes-to-sync>"
                      "<backup-path>/b/ü</backup-path><backup-path>/second</backup-path>"
                      "<list name=\"photo_folders\"><entry key=\"/a\" value=\"A\"/>"
                      "<anything key=\"/b\"/></list></device>\n"
                      "<device><id>phone-1</id><copy-photos>true</copy-photos></device>\n"
                      "</settings>\n");
    SyncSettings settings;
    QCOMPARE(settings.load(), 0);
    QCOMPARE(settings.deviceLineNumber(QStringLiteral("first")), 3);
    QCOMPARE(settings.deviceLineNumber(Phone), 6);
    QVERIFY(!settings.convertAacToMp3(Phone));
    QVERIFY(!settings.copyPhotos(Phone));
    QVERIFY(settings.copyAddressBook(Phone));
    QCOMPARE(settings.numberOfEpisodesToSync(Phone), 0);
    QCOMPARE(settings.selectedBackupPath(Phone), QStringLiteral("/b/ü"));
    const SyncSettings::SettingsList list =
        settings.getSettingsList(Phone, QStringLiteral("photo_folders"));
    QCOMPARE(list, (SyncSettings::SettingsList{{QStringLiteral("/a"), QStringLiteral("A")},
                                               {QStringLiteral("/b"), QString()}}));

    settings.setSelectedBackupPath(Phone, QStringLiteral("/new"));
    QCOMPARE(settings.selectedBackupPath(Phone), QStringLiteral("/second"));
    settings.removeSettingsList(Phone, QStringLiteral("photo_folders"));
    QVERIFY(settings.getSettingsList(Phone, QStringLiteral("photo_folders")).isEmpty());
    settings.setLibraryPath(QStringLiteral("/music/Library ü.xml"));
    settings.save();
    SyncSettings again = reloaded();
    QCOMPARE(again.libraryPath(), QStringLiteral("/music/Library ü.xml"));
    QCOMPARE(again.document().elementsByTagName(QStringLiteral("library-path")).count(), 1);
}

QTEST_GUILESS_MAIN(TestSyncSettings)
#include "tst_syncsettings.moc"
