#include "devices/devicelist.h"
#include "devices/mtprefresher.h"
#include "devices/usbmsdevice.h"
#include "fakevolumesource.h"
#include "library/librarysnapshot.h"
#include "library/localmusiclibrary.h"
#include "library/podcastramcache.h"
#include "scriptedappfactory.h"
#include "settings/phoneconfiguration.h"
#include "settings/syncsettings.h"
#include "sync/phonesetup.h"
#include "testhome.h"
#include "ui/conclusionpage.h"
#include "ui/connectdevicepage.h"
#include "ui/devicebackuppage.h"
#include "ui/devicewizard.h"
#include "ui/intropage.h"
#include "ui/licensepage.h"
#include "ui/playlistsettingspage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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
// Closes the message boxes the wizard opens and keeps their texts.
class ModalCloser : public QObject
{
public:
    ModalCloser()
    {
        connect(&mTimer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                mTexts.append(box->text());
                box->reject();
            }
        });
        mTimer.start(20);
    }
    QStringList mTexts;

private:
    QTimer mTimer;
};

// Folders posing as phones, and the device list that finds them.
struct PhoneRig
{
    PhoneRig() : mVolumes(std::make_shared<FakeVolumeSource>())
    {
        mDevices = std::make_unique<DeviceList>(mVolumes, nullptr);
    }
    // aUniqueId empty: a phone never set up.
    void add(const QString &aName, const QString &aUniqueId)
    {
        const QString root = mDir.filePath(aName);
        QDir().mkpath(root + u"/VARUZ"_qs);
        if (!aUniqueId.isEmpty()) {
            QFile file(root + u"/VARUZ/uniqueid"_qs);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(aUniqueId.toUtf8());
        }
        mVolumes->plug(root + u'/', aName);
        mDevices->RefreshDevices();
    }
    QString uniqueIdFile(const QString &aName) const
    {
        QFile file(mDir.filePath(aName) + u"/VARUZ/uniqueid"_qs);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir mDir;
    std::shared_ptr<FakeVolumeSource> mVolumes;
    std::unique_ptr<DeviceList> mDevices;
};

QByteArray settingsBytes()
{
    QFile file(SyncSettings::fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void store(const QString &aUniqueId, const PhoneConfiguration &aConfiguration)
{
    QString message;
    QVERIFY2(aConfiguration.save(aUniqueId, u"Phone "_qs + aUniqueId, message),
             qPrintable(message));
}

// Goes through the pages up to aStopAt (or the last), choosing the phone named
// aPhone on the connect page; returns the ids of the pages seen.
QList<int> walk(DeviceWizard &aWizard, const QString &aPhone, int aStopAt = -1)
{
    QList<int> ids;
    if (aWizard.currentId() == -1)
        aWizard.restart();
    for (int guard = 0; guard < 10; ++guard) {
        const int id = aWizard.currentId();
        ids.append(id);
        if (id == aStopAt)
            break;
        QAbstractButton *next = aWizard.button(QWizard::NextButton);
        if (auto *license = qobject_cast<LicensePage *>(aWizard.currentPage())) {
            if (next->isEnabled())
                return {};
            license->acceptBox()->setChecked(true);
        }
        if (id == DeviceWizard::ConnectId) {
            QListWidget *list = aWizard.connectPage()->deviceList();
            const QList<QListWidgetItem *> found = list->findItems(aPhone, Qt::MatchExactly);
            if (next->isEnabled() && aWizard.connectPage()->selectedId().isEmpty())
                return {};
            if (found.isEmpty())
                return ids;
            list->setCurrentItem(found.first());
        }
        if (aWizard.currentPage()->isFinalPage())
            break;
        if (!next->isEnabled())
            return ids;
        aWizard.next();
    }
    return ids;
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
    void pageOrder_data();
    void pageOrder();
    void finish_data();
    void finish();
    void secondPhoneShowsItsOwnChoices();
    void finishFails_data();
    void finishFails();
    void setupKeepsThePhoneId_data();
    void setupKeepsThePhoneId();

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

void TestDeviceWizard::pageOrder_data()
{
    QTest::addColumn<bool>("settings");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("ids");
    QTest::addColumn<QString>("intro");

    const QList<int> withLicense = {0, 1, 2, 4, 5, 7, 9};
    const QList<int> without = {0, 2, 4, 5, 7, 9};
    QTest::newRow("first set-up") << false << int(IntroPage::FirstSetup) << withLicense
                                  << u"set up a phone"_qs;
    // The settings file holds only the library file chosen before.
    QTest::newRow("first set-up, library chosen")
        << true << int(IntroPage::FirstSetup) << withLicense << u"set up a phone"_qs;
    QTest::newRow("settings, new phone")
        << true << int(IntroPage::NewPhone) << without << u"new phone has been detected"_qs;
    QTest::newRow("settings, change")
        << true << int(IntroPage::ChangeSettings) << without << u"change your synchronization"_qs;
    QTest::newRow("no settings, change") << false << int(IntroPage::ChangeSettings) << withLicense
                                         << u"change your synchronization"_qs;
}

void TestDeviceWizard::pageOrder()
{
    QFETCH(bool, settings);
    QFETCH(int, mode);
    QFETCH(QList<int>, ids);
    QFETCH(QString, intro);

    QFile::remove(SyncSettings::fileName());
    if (settings)
        store(u"other"_qs, PhoneConfiguration());
    PhoneRig rig;
    rig.add(u"Pixel"_qs, QString());
    DeviceWizard wizard(mLibrary.get(), *rig.mDevices, nullptr, mode);
    wizard.restart();
    const auto *label = wizard.currentPage()->findChild<QLabel *>();
    QVERIFY(label && label->text().contains(intro));
    QCOMPARE(walk(wizard, u"Pixel"_qs), ids);
}

void TestDeviceWizard::finish_data()
{
    QTest::addColumn<bool>("configured");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("new phone") << false << false;
    QTest::newRow("configured phone") << true << false;
    QTest::newRow("configured phone, cancelled") << true << true;
}

void TestDeviceWizard::finish()
{
    QFETCH(bool, configured);
    QFETCH(bool, cancel);

    QFile::remove(SyncSettings::fileName());
    PhoneRig rig;
    PhoneConfiguration before;
    if (configured) {
        before.mConvertToMp3 = true;
        before.mBackupPath = u"/backups/old-phone/"_qs;
        before.mCopyAddressBook = true;
        before.mPhotoFolders = {u"/pictures"_qs};
        store(u"pixel-1"_qs, before);
    }
    const QByteArray bytes = settingsBytes();
    rig.add(u"Pixel"_qs, configured ? u"pixel-1"_qs : QString());
    DeviceWizard wizard(mLibrary.get(), *rig.mDevices, nullptr, IntroPage::ChangeSettings);
    QCOMPARE(walk(wizard, u"Pixel"_qs, DeviceWizard::MusicId).last(), int(DeviceWizard::MusicId));
    wizard.musicPage()->setPlaylistSettings(false, {u"Chill"_qs});
    wizard.next();
    wizard.podcastPage()->setPodcastSettings(1, {}, 3);
    walk(wizard, QString());
    QCOMPARE(wizard.currentId(), int(DeviceWizard::ConclusionId));
    QCOMPARE(wizard.conclusionPage()->convertToMp3(), configured);
    wizard.conclusionPage()->albumArtBox()->setChecked(false);
    wizard.conclusionPage()->syncLaterRadio()->setChecked(true);
    if (cancel) {
        wizard.reject();
        QVERIFY(!wizard.saved());
        QCOMPARE(settingsBytes(), bytes);
        return;
    }
    wizard.accept();
    QVERIFY2(wizard.saved(), qPrintable(wizard.saveError()));
    QVERIFY(!wizard.syncNow());

    const QString id = rig.uniqueIdFile(u"Pixel"_qs);
    QVERIFY(!id.isEmpty());
    SyncSettings settings;
    QCOMPARE(settings.load(), 0);
    PhoneConfiguration after;
    QVERIFY(after.load(settings, id));
    QCOMPARE(after.mAllMusic, false);
    QCOMPARE(after.mPlaylists, QStringList{u"Chill"_qs});
    QCOMPARE(after.mPodcastSetting, 1);
    QCOMPARE(after.mEpisodes, 3);
    QCOMPARE(after.mAlbumArt, false);
    QCOMPARE(after.mAlbumArtExisting, true);
    // A visit to the wizard keeps what its pages were shown.
    QCOMPARE(after.mConvertToMp3, before.mConvertToMp3);
    QCOMPARE(after.mBackupPath, before.mBackupPath);
    QCOMPARE(after.mCopyAddressBook, before.mCopyAddressBook);
    QCOMPARE(after.mPhotoFolders, before.mPhotoFolders);
}

void TestDeviceWizard::secondPhoneShowsItsOwnChoices()
{
    QFile::remove(SyncSettings::fileName());
    PhoneConfiguration first;
    first.mAllMusic = false;
    first.mPlaylists = {u"Chill"_qs};
    first.mEpisodes = 2;
    first.mConvertToMp3 = true;
    store(u"phone-a"_qs, first);
    PhoneConfiguration second;
    second.mEpisodes = 5;
    store(u"phone-b"_qs, second);
    PhoneRig rig;
    rig.add(u"Alpha"_qs, u"phone-a"_qs);
    rig.add(u"Beta"_qs, u"phone-b"_qs);
    DeviceWizard wizard(mLibrary.get(), *rig.mDevices, nullptr, IntroPage::ChangeSettings);

    walk(wizard, u"Beta"_qs, DeviceWizard::PodcastId);
    QVERIFY(wizard.musicPage()->allSelected());
    QCOMPARE(wizard.podcastPage()->episodes(), 5);
    wizard.back();
    wizard.back();
    QCOMPARE(wizard.currentId(), int(DeviceWizard::ConnectId));
    walk(wizard, u"Alpha"_qs, DeviceWizard::MusicId);
    // The keyboard is on the choice just shown, not on Beta's.
    QCOMPARE(wizard.focusWidget(), wizard.musicPage()->selectedRadio());
    walk(wizard, QString());
    QCOMPARE(wizard.musicPage()->playlistNames(), QStringList{u"Chill"_qs});
    QCOMPARE(wizard.podcastPage()->episodes(), 2);
    QVERIFY(wizard.conclusionPage()->convertToMp3());
    wizard.accept();
    QVERIFY(wizard.saved());
    SyncSettings settings;
    QCOMPARE(settings.load(), 0);
    QCOMPARE(settings.numberOfEpisodesToSync(u"phone-a"_qs), 2);
    QCOMPARE(settings.numberOfEpisodesToSync(u"phone-b"_qs), 5);
}

void TestDeviceWizard::finishFails_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<bool>("saved");
    QTest::newRow("damaged file kept aside") << u"damaged"_qs << true;
    QTest::newRow("file cannot be written") << u"unwritable"_qs << false;
    QTest::newRow("phone gone before Finish") << u"gone"_qs << false;
}

void TestDeviceWizard::finishFails()
{
    QFETCH(QString, trouble);
    QFETCH(bool, saved);

    const QString file = SyncSettings::fileName();
    QDir folder = QFileInfo(file).dir();
    QFile::remove(file);
    const QByteArray garbage = "<settings><device><id>pixel-1</id>";
    QFile out(file);
    if (trouble == u"damaged")
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(garbage) > 0);
    out.close();
    // A folder in the file's place can be neither read nor written.
    if (trouble == u"unwritable")
        QVERIFY(QDir().mkpath(file));
    PhoneRig rig;
    rig.add(u"Pixel"_qs, u"pixel-1"_qs);
    ModalCloser closer;
    {
        DeviceWizard wizard(mLibrary.get(), *rig.mDevices, nullptr, IntroPage::ChangeSettings);
        QSignalSpy failed(&wizard, &DeviceWizard::saveFailed);
        walk(wizard, u"Pixel"_qs);
        if (trouble == u"gone") {
            rig.mVolumes->unplug(rig.mDir.filePath(u"Pixel"_qs) + u'/');
            rig.mDevices->RefreshDevices();
            QVERIFY(rig.mDevices->GetDevices().isEmpty());
        }
        wizard.accept();
        QCOMPARE(wizard.saved(), saved);
        QCOMPARE(failed.count(), saved ? 0 : 1);
        QCOMPARE(closer.mTexts.size(), saved ? 0 : 1);
    }
    QDir(file).removeRecursively();
    SyncSettings settings;
    QCOMPARE(settings.load() == 0, saved);
    QCOMPARE(settings.isConfigured(u"pixel-1"_qs), saved);
    const QStringList copies = folder.entryList({u"varuz.xml.bad*"_qs}, QDir::Files);
    QCOMPARE(copies.size(), trouble == u"damaged" ? 1 : 0);
    if (!copies.isEmpty()) {
        QFile copy(folder.filePath(copies.first()));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), garbage);
        folder.remove(copies.first());
    }
}

void TestDeviceWizard::setupKeepsThePhoneId_data()
{
    QTest::addColumn<QString>("storedId");
    QTest::addColumn<bool>("readIdNow");
    QTest::newRow("new phone") << QString() << true;
    QTest::newRow("new phone, listed before it was mounted") << QString() << false;
    QTest::newRow("phone with an id") << u"pixel-1"_qs << true;
    QTest::newRow("phone with an id, listed before it was mounted") << u"pixel-1"_qs << false;
}

// The phone's cache is named by its id: an id it already carries is never replaced.
void TestDeviceWizard::setupKeepsThePhoneId()
{
    QFETCH(QString, storedId);
    QFETCH(bool, readIdNow);

    QFile::remove(SyncSettings::fileName());
    PhoneRig rig;
    rig.add(u"Pixel"_qs, storedId);
    UsbMSDevice device(rig.mVolumes, rig.mDir.filePath(u"Pixel"_qs), u"Pixel"_qs, readIdNow);
    QString message;
    QVERIFY2(PhoneSetup::finish(device, PhoneConfiguration(), message), qPrintable(message));
    const QString id = rig.uniqueIdFile(u"Pixel"_qs);
    QVERIFY(!id.isEmpty());
    if (!storedId.isEmpty())
        QCOMPARE(id, storedId);
    QCOMPARE(device.UniqueDeviceId(), id);
    SyncSettings settings;
    QCOMPARE(settings.load(), 0);
    QVERIFY(settings.isConfigured(id));
}

QTEST_MAIN(TestDeviceWizard)
#include "tst_devicewizard.moc"
