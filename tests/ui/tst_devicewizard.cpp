#include "library/librarysnapshot.h"
#include "library/localmusiclibrary.h"
#include "library/podcastramcache.h"
#include "scriptedappfactory.h"
#include "testhome.h"
#include "ui/devicebackuppage.h"
#include "ui/playlistsettingspage.h"

#include <QComboBox>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

namespace {
const QStringList MusicNames = {u"Road Trip"_qs, u"Chill"_qs, u"Workout"_qs};

LibrarySnapshot sampleLibrary(const QStringList &aPlaylists)
{
    LibrarySnapshot s;
    QList<qint32> all;
    const auto add = [&](const QString &aName, const QString &aAlbum, bool aPodcast) {
        LibrarySnapshot::TrackRecord track;
        track.mName = aName;
        track.mAlbum = aAlbum;
        track.mArtist = u"Artist"_qs;
        track.mPath = u"/music/"_qs + aName + u".mp3"_qs;
        track.mSize = 1000;
        track.mPodcast = aPodcast;
        const int index = s.addTrack(track);
        all.append(index);
        return index;
    };
    const int song = add(u"Song"_qs, u"Album"_qs, false);
    const QList<qint32> episodes = {add(u"A1"_qs, u"Pod A"_qs, true),
                                    add(u"B1"_qs, u"Pod B"_qs, true)};
    s.addPlaylist(u"Library"_qs, 0, all, 1);
    s.addPlaylist(u"Music"_qs, 6, {song});
    s.addPlaylist(u"Podcasts"_qs, 3, episodes);
    for (const QString &name : aPlaylists)
        s.addPlaylist(name, 0, {song});
    return s;
}

QString radioName(const PlaylistSettingsPage &aPage)
{
    if (aPage.allRadio()->isChecked())
        return u"all"_qs;
    return aPage.selectedRadio()->isChecked() ? u"selected"_qs : u"none"_qs;
}

int missingCount(const QListWidget *aList)
{
    int count = 0;
    for (int row = 0; row < aList->count(); ++row)
        count += aList->item(row)->data(PlaylistSettingsPage::MissingRole).toBool() ? 1 : 0;
    return count;
}
} // namespace

class TestDeviceWizard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void selectionPage_data();
    void selectionPage();
    void libraryChangeKeepsChoices();
    void busyLibraryDoesNotBlock();
    void backupPage_data();
    void backupPage();

private:
    std::unique_ptr<PlaylistSettingsPage> readyPage(bool aPodcasts);

    std::unique_ptr<TestHome> mHome;
    std::shared_ptr<ScriptedAppFactory> mFactory;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    std::unique_ptr<PodcastRamCache> mPodcasts;
};

void TestDeviceWizard::initTestCase()
{
    mHome = std::make_unique<TestHome>();
    mFactory = std::make_shared<ScriptedAppFactory>(sampleLibrary(MusicNames));
    mLibrary = std::make_unique<LocalMusicLibrary>(mFactory);
    mPodcasts = std::make_unique<PodcastRamCache>(mFactory);
    QSignalSpy podcastsRead(mPodcasts.get(), &PodcastRamCache::updated);
    mPodcasts->start();
    // The names may arrive before waiting starts.
    QTRY_VERIFY_WITH_TIMEOUT(podcastsRead.count() == 1, 10000);
}

void TestDeviceWizard::cleanupTestCase()
{
    mPodcasts.reset();
    mLibrary.reset();
    mHome.reset();
}

std::unique_ptr<PlaylistSettingsPage> TestDeviceWizard::readyPage(bool aPodcasts)
{
    auto page = std::make_unique<PlaylistSettingsPage>(mLibrary.get(), aPodcasts);
    if (!aPodcasts && page->isRefreshing()) {
        QSignalSpy refreshed(page.get(), &PlaylistSettingsPage::namesRefreshed);
        refreshed.wait(10000);
    }
    return page;
}

void TestDeviceWizard::selectionPage_data()
{
    QTest::addColumn<bool>("podcasts");
    QTest::addColumn<int>("setting");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("episodes");
    // -1: leave as set; else choose "selected", untick all, then tick this row by keyboard.
    QTest::addColumn<int>("keyRow");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("missing");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<int>("episodeIndex");

    const QStringList none;
    QTest::newRow("music all") << false << 1 << none << 0 << -1 << u"all"_qs << none << 0 << true
                               << 0;
    QTest::newRow("music none") << false << 0 << none << 0 << -1 << u"none"_qs << none << 0 << true
                                << 0;
    QTest::newRow("music name in other case")
        << false << 0 << QStringList{u"road TRIP"_qs} << 0 << -1 << u"selected"_qs
        << QStringList{u"Road Trip"_qs} << 0 << true << 0;
    QTest::newRow("music last first")
        << false << 0 << MusicNames << 0 << -1 << u"selected"_qs
        << QStringList{u"Workout"_qs, u"Chill"_qs, u"Road Trip"_qs} << 0 << true << 0;
    QTest::newRow("music stored name gone")
        << false << 0 << QStringList{u"Chill"_qs, u"Gone"_qs} << 0 << -1 << u"selected"_qs
        << QStringList{u"Gone"_qs, u"Chill"_qs} << 1 << true << 0;
    QTest::newRow("music every stored name gone")
        << false << 0 << QStringList{u"Gone"_qs} << 0 << -1 << u"selected"_qs
        << QStringList{u"Gone"_qs} << 1 << true << 0;
    QTest::newRow("music selected without tick")
        << false << 1 << none << 0 << -2 << u"selected"_qs << none << 0 << false << 0;
    QTest::newRow("music ticked by keyboard") << false << 1 << none << 0 << 1 << u"selected"_qs
                                              << QStringList{u"Chill"_qs} << 0 << true << 0;
    QTest::newRow("podcasts selected without tick")
        << true << 2 << none << 0 << -1 << u"selected"_qs << none << 0 << false << 0;
    QTest::newRow("podcasts named") << true << 2 << QStringList{u"pod b"_qs} << 4 << -1
                                    << u"selected"_qs << QStringList{u"Pod B"_qs} << 0 << true << 4;
    QTest::newRow("podcast ticked by keyboard") << true << 0 << none << 0 << 0 << u"selected"_qs
                                                << QStringList{u"Pod A"_qs} << 0 << true << 0;
    QTest::newRow("episodes above range")
        << true << 1 << none << 15 << -1 << u"all"_qs << none << 0 << true << 10;
    QTest::newRow("episodes below range")
        << true << 0 << none << -3 << -1 << u"none"_qs << none << 0 << true << 0;
}

void TestDeviceWizard::selectionPage()
{
    QFETCH(bool, podcasts);
    QFETCH(int, setting);
    QFETCH(QStringList, stored);
    QFETCH(int, episodes);
    QFETCH(int, keyRow);
    QFETCH(QString, radio);
    QFETCH(QStringList, names);
    QFETCH(int, missing);
    QFETCH(bool, complete);
    QFETCH(int, episodeIndex);

    auto page = readyPage(podcasts);
    QCOMPARE(page->list()->count(), podcasts ? 2 : 3);
    if (podcasts)
        page->setPodcastSettings(setting, stored, episodes);
    else
        page->setPlaylistSettings(setting == 1, stored);
    if (keyRow != -1) {
        page->selectedRadio()->click();
        page->show();
        if (keyRow >= 0) {
            page->list()->setCurrentRow(keyRow);
            QTest::keyClick(page->list(), Qt::Key_Space);
        }
    }
    QCOMPARE(radioName(*page), radio);
    QCOMPARE(page->playlistNames(), names);
    QCOMPARE(missingCount(page->list()), missing);
    QCOMPARE(page->isComplete(), complete);
    QCOMPARE(page->podcastSyncSettings(), radio == u"all" ? 1 : radio == u"selected" ? 2 : 0);
    if (podcasts)
        QCOMPARE(page->episodes(), episodeIndex);
}

void TestDeviceWizard::libraryChangeKeepsChoices()
{
    auto page = readyPage(false);
    page->setPlaylistSettings(false, {u"Chill"_qs, u"Workout"_qs});
    QSignalSpy refreshed(page.get(), &PlaylistSettingsPage::namesRefreshed);
    mFactory->setLibrary(sampleLibrary({u"Road Trip"_qs, u"Workout"_qs, u"New"_qs}));
    mLibrary->OnITunesEventInvoke();
    QVERIFY(refreshed.wait(10000));
    mFactory->setLibrary(sampleLibrary(MusicNames));

    QCOMPARE(page->list()->count(), 4);
    QCOMPARE(page->list()->item(2)->text(), u"New"_qs);
    QCOMPARE(page->playlistNames(), (QStringList{u"Chill"_qs, u"Workout"_qs}));
    QCOMPARE(missingCount(page->list()), 1);
}

void TestDeviceWizard::busyLibraryDoesNotBlock()
{
    mFactory->faults().fail(u"CreateApp"_qs, ITResult::CallRejected, FaultScript::Always);
    {
        // A page on a library that stays busy is made, shown and closed at once.
        PlaylistSettingsPage page(mLibrary.get(), false);
        QVERIFY(page.isRefreshing());
        page.setPlaylistSettings(false, {u"Chill"_qs});
        QCOMPARE(page.playlistNames(), QStringList{u"Chill"_qs});
        QCOMPARE(missingCount(page.list()), 0);
    }
    auto page = std::make_unique<PlaylistSettingsPage>(mLibrary.get(), false);
    page->setPlaylistSettings(false, {u"Chill"_qs});
    QSignalSpy refreshed(page.get(), &PlaylistSettingsPage::namesRefreshed);
    mFactory->faults().clear();
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(page->list()->count(), 3);
    QCOMPARE(page->playlistNames(), QStringList{u"Chill"_qs});
}

void TestDeviceWizard::backupPage_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("problem");

    const QString phone = u"/backups/old-phone/"_qs;
    QTest::newRow("nothing") << QString() << -1 << 0 << QString() << QString();
    QTest::newRow("backup and data")
        << QString() << 1 << 0b101 << u"/backups/tablet/"_qs << QString();
    QTest::newRow("backup without data")
        << QString() << 0 << 0 << phone << u"not selected which data"_qs;
    QTest::newRow("data without backup")
        << QString() << -1 << 0b010 << QString() << u"create_itunes_backup"_qs;
    QTest::newRow("stored backup kept") << phone << -1 << 0b001 << phone << QString();
    QTest::newRow("stored backup gone from PC")
        << u"/elsewhere/gone/"_qs << -1 << 0b001 << u"/elsewhere/gone/"_qs << QString();
}

void TestDeviceWizard::backupPage()
{
    QFETCH(QString, stored);
    QFETCH(int, row);
    QFETCH(int, boxes);
    QFETCH(QString, path);
    QFETCH(QString, problem);

    DeviceBackupPage page(
        {{u"Old phone"_qs, u"/backups/old-phone/"_qs}, {QString(), u"/backups/tablet/"_qs}});
    QCOMPARE(page.backupList()->item(1)->text(), u"tablet"_qs);
    page.setChoice(u"/elsewhere/earlier-phone/"_qs, true, true, true);
    page.setChoice(stored, boxes & 1, boxes & 2, boxes & 4);
    // Another phone's missing backup is not offered for this one.
    QCOMPARE(page.backupList()->count(), stored.startsWith(u"/elsewhere") ? 3 : 2);
    if (row >= 0)
        page.backupList()->item(row)->setSelected(true);
    QCOMPARE(page.selectedBackupPath(), path);
    QCOMPARE(page.copyTextMessages(), bool(boxes & 1));
    QCOMPARE(page.copyAddressBook(), bool(boxes & 2));
    QCOMPARE(page.copyPhotos(), bool(boxes & 4));
    if (problem.isEmpty())
        QCOMPARE(page.problem(), QString());
    else
        QVERIFY2(page.problem().contains(problem), qPrintable(page.problem()));
}

QTEST_MAIN(TestDeviceWizard)
#include "tst_devicewizard.moc"
