#include "ui/devicewizard.h"

#include "backup/backupfinder.h"
#include "core/logger.h"
#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/spacecalculator.h"
#include "settings/syncsettings.h"
#include "sync/phonesetup.h"
#include "ui/conclusionpage.h"
#include "ui/connectdevicepage.h"
#include "ui/devicebackuppage.h"
#include "ui/intropage.h"
#include "ui/licensepage.h"
#include "ui/playlistsettingspage.h"

#include <QMessageBox>
#include <QPixmap>

#include <limits>

// Resources of a static library are registered by hand; outside any namespace.
static void initWizardResources()
{
    Q_INIT_RESOURCE(wizard);
}

DeviceWizard::DeviceWizard(LocalMusicLibrary *aLibrary, DeviceList &aDevices, QWidget *aParent,
                           int aMode)
    : QWizard(aParent), mLibrary(aLibrary), mDevices(aDevices)
{
    LogScope scope("DeviceWizard::DeviceWizard");
    initWizardResources();
    setWindowTitle(QStringLiteral("Mobrelay"));
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::HaveHelpButton, false);

    // Loading also moves a damaged file aside, so that Finish cannot overwrite it.
    SyncSettings settings;
    mSettingsLoaded = settings.load() == 0;
    Logger::instance().value("settings loaded", mSettingsLoaded ? "true" : "false");

    const QPixmap watermark(QStringLiteral(":/images/wizard1.png"));
    // The file may be there before the first set-up, holding only the chosen
    // library file: the licence is still to be accepted.
    auto *intro = new IntroPage(aMode, mSettingsLoaded && aMode != IntroPage::FirstSetup, this);
    auto *license = new LicensePage(this);
    mConnect = new ConnectDevicePage(mDevices, this);
    for (QWizardPage *page :
         {static_cast<QWizardPage *>(intro), static_cast<QWizardPage *>(license),
          static_cast<QWizardPage *>(mConnect)})
        page->setPixmap(QWizard::WatermarkPixmap, watermark);
    mMusic = new PlaylistSettingsPage(mLibrary, false, this);
    mPodcast = new PlaylistSettingsPage(mLibrary, true, this);
    mBackup = new DeviceBackupPage(BackupFinder::findiTunesBackups(), this);
    mConclusion = new ConclusionPage(this);
    setPage(IntroId, intro);
    setPage(LicenseId, license);
    setPage(ConnectId, mConnect);
    setPage(MusicId, mMusic);
    setPage(PodcastId, mPodcast);
    setPage(BackupId, mBackup);
    setPage(ConclusionId, mConclusion);
    setStartId(IntroId);

    connect(this, &QWizard::finished, this, &DeviceWizard::saveSettings);
    connect(this, &QWizard::currentIdChanged, this, &DeviceWizard::pageChanged);
}

DeviceWizard::~DeviceWizard()
{
    // The connect page must not stay the device list's observer.
    if (mObserving)
        mDevices.DisableAutoRefresh();
}

bool DeviceWizard::syncNow() const
{
    return mConclusion->syncNow();
}

QString DeviceWizard::selectedDeviceId() const
{
    return mConnect->selectedId();
}

void DeviceWizard::pageChanged(int aNewPageId)
{
    doPageChanged(aNewPageId);
}

void DeviceWizard::updateSpace(PlaylistSettingsPage *aPage, Device *aDevice)
{
    qint64 used = 0;
    qint64 free = 0;
    quint64 totalBytes = 0;
    quint64 freeBytes = 0;
    // A drive's sizes from its last answered check: asking a drive that has
    // stopped answering would freeze the window.
    if (aDevice && mDevices.lastDiskSpace(aDevice, totalBytes, freeBytes)) {
        free = qint64(qMin<quint64>(freeBytes, quint64(std::numeric_limits<qint64>::max())));
        used = freeBytes < totalBytes ? qint64(totalBytes - freeBytes) : 0;
    } else if (aDevice && aDevice->GetDeviceType() == Device::TypeMtp) {
        SpaceCalculator::calculate(*aDevice, used, free);
    }
    aPage->showSpace(used, free);
}

void DeviceWizard::doPageChanged(int aNewPageId)
{
    LogScope scope("DeviceWizard::doPageChanged");
    Logger &log = Logger::instance();
    if (aNewPageId == ConnectId) {
        mDevices.EnableAutoRefresh(mConnect);
        mObserving = true;
        mConnect->setCurrent(true);
    } else {
        if (mObserving)
            mDevices.DisableAutoRefresh();
        mObserving = false;
        mConnect->setCurrent(false);
    }
    mMusic->setCurrent(aNewPageId == MusicId);
    mPodcast->setCurrent(aNewPageId == PodcastId);

    Device *device = mConnect->selectedDevice();
    QString uniqueId;
    if (device) {
        uniqueId = device->UniqueDeviceId();
        log.text("Device is connected");
        log.value("deviceName", device->FriendlyName());
    }
    // Another phone was chosen: show its own choices, or the defaults of a new one.
    if (!mShownAny || uniqueId != mShownUniqueId) {
        SyncSettings settings;
        settings.load();
        mStored = PhoneConfiguration();
        if (!uniqueId.isEmpty() && !mStored.load(settings, uniqueId))
            mStored = PhoneConfiguration();
        showConfiguration(mStored);
        mShownUniqueId = uniqueId;
        mShownAny = true;
    }
    if (aNewPageId == MusicId) {
        updateSpace(mMusic, device);
        mMusic->focusChoice();
    } else if (aNewPageId == PodcastId) {
        updateSpace(mPodcast, device);
        mPodcast->focusChoice();
    }
}

void DeviceWizard::showConfiguration(const PhoneConfiguration &aConfiguration)
{
    mMusic->setPlaylistSettings(aConfiguration.mAllMusic, aConfiguration.mPlaylists);
    mPodcast->setPodcastSettings(aConfiguration.mPodcastSetting, aConfiguration.mPodcasts,
                                 aConfiguration.mEpisodes);
    mBackup->setChoice(aConfiguration.mBackupPath, aConfiguration.mCopyTextMessages,
                       aConfiguration.mCopyAddressBook, aConfiguration.mCopyPhotos);
    mConclusion->setOptions(aConfiguration.mAlbumArt, aConfiguration.mAlbumArtExisting,
                            aConfiguration.mConvertToMp3);
}

PhoneConfiguration DeviceWizard::chosenConfiguration() const
{
    // Starts from what was stored, so that choices no page shows are kept.
    PhoneConfiguration chosen = mStored;
    chosen.mAllMusic = mMusic->allSelected();
    chosen.mPlaylists = mMusic->playlistNames();
    chosen.mPodcastSetting = mPodcast->podcastSyncSettings();
    chosen.mPodcasts = mPodcast->playlistNames();
    chosen.mEpisodes = mPodcast->episodes();
    chosen.mAlbumArt = mConclusion->albumArt();
    chosen.mAlbumArtExisting = mConclusion->albumArtExisting();
    chosen.mConvertToMp3 = mConclusion->convertToMp3();
    chosen.mBackupPath = mBackup->selectedBackupPath();
    chosen.mCopyTextMessages = mBackup->copyTextMessages();
    chosen.mCopyAddressBook = mBackup->copyAddressBook();
    chosen.mCopyPhotos = mBackup->copyPhotos();
    // Photo folders belong to the backup they were found in.
    if (chosen.mBackupPath != mStored.mBackupPath)
        chosen.mPhotoFolders.clear();
    return chosen;
}

void DeviceWizard::saveSettings(int aExitReason)
{
    LogScope scope("DeviceWizard::saveSettings");
    Logger &log = Logger::instance();
    mSaved = false;
    mSaveError.clear();
    if (aExitReason == QDialog::Rejected) {
        log.text("Wizard cancelled");
        return;
    }
    Device *device = mConnect->selectedDevice();
    if (device) {
        log.text("Device is selected");
        const QList<Device *> devices = mDevices.GetDevices();
        for (int i = 0; i < devices.size(); ++i) {
            log.value("device list index: ", i);
            log.value("device name: ", devices.at(i)->FriendlyName());
        }
        mSaved = PhoneSetup::finish(*device, chosenConfiguration(), mSaveError);
    } else {
        mSaveError = tr("the phone was disconnected before the settings could be stored");
    }
    if (mSaved)
        return;
    log.value("Settings not saved", mSaveError);
    Q_EMIT saveFailed(mSaveError);
    QMessageBox::critical(parentWidget(), QStringLiteral("Mobrelay"),
                          tr("The phone's settings were not saved: %1.").arg(mSaveError));
}
