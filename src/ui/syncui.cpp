#include "ui/syncui.h"

#include "core/logger.h"
#include "core/tracklist.h"
#include "devices/device.h"
#include "devices/devicelist.h"
#include "devices/mtprefresher.h"
#include "devices/volumesource.h"
#include "library/itunesappfactory.h"
#include "library/localmusiclibrary.h"
#include "library/podcastramcache.h"
#include "settings/syncsettings.h"
#include "sync/autorefresher.h"
#include "sync/musicsync.h"
#include "sync/syncsession.h"
#include "ui/deletetracksconfirm.h"
#include "ui/devicewizard.h"
#include "ui/richtext.h"
#include "ui/spacegauge.h"
#include "ui/syncwarningdialog.h"
#include "ui/updatedialog.h"
#include "ui/usbejectwarning.h"
#include "update/softwareupdatewatcher.h"
#include "update/vendorsite.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString ProductName = QStringLiteral("Mobrelay");
const QString LibraryHelpLink = QStringLiteral("ituneshelp");
constexpr int WaitMs = 500;
constexpr int FailuresBeforeNotice = 60;
constexpr int WindowWidth = 400;

// Counts the questions open on the window, so that nothing tears down a run
// that waits for an answer.
class Answering
{
public:
    explicit Answering(int &aCount) : mCount(aCount) { ++mCount; }
    ~Answering() { --mCount; }
    Answering(const Answering &) = delete;
    Answering &operator=(const Answering &) = delete;

private:
    int &mCount;
};

bool isFinalState(int aState)
{
    return aState >= MusicSync::StateFinished && aState <= MusicSync::StateCancelled;
}
} // namespace

SyncUi::SyncUi(std::shared_ptr<VolumeSource> aVolumes, std::unique_ptr<MtpRefresher> aMtp,
               std::shared_ptr<ITunesAppFactory> aLibraryFactory, QWidget *aParent)
    : QWidget(aParent), mProgressBar(new QProgressBar(this)),
      mSpaceGauge(new SpaceGauge(false, this)), mStatusLabel(new QLabel(this)),
      mHelpLabel(new QLabel(this)),
      mSyncButton(new QPushButton(QStringLiteral("Synchronize"), this)),
      mSettingsButton(new QPushButton(QStringLiteral("Settings"), this)),
      mHelpButton(new QPushButton(QStringLiteral("Help"), this)),
      mChooseLibraryButton(new QPushButton(QStringLiteral("Choose library file…"), this)),
      mLibraryFactory(std::move(aLibraryFactory)),
      mDevices(std::make_unique<DeviceList>(std::move(aVolumes), std::move(aMtp))),
      mLibrary(std::make_unique<LocalMusicLibrary>(mLibraryFactory)),
      mForceResync(new QCheckBox(QStringLiteral("Force full resynchronization"), this)),
      mRefresher(std::make_unique<AutoRefresher>(*mLibrary, *mDevices)),
      mUpdateWatcher(std::make_unique<SoftwareUpdateWatcher>()), mNotResponding(this)
{
    LogScope scope("SyncUi::SyncUi");
    setWindowTitle(ProductName);
    setMinimumWidth(WindowWidth);
    setMaximumWidth(WindowWidth);
    mProgressBar->setObjectName(QStringLiteral("progress"));
    mSpaceGauge->setObjectName(QStringLiteral("gauge"));
    mStatusLabel->setObjectName(QStringLiteral("status"));
    mHelpLabel->setObjectName(QStringLiteral("help"));
    mSyncButton->setObjectName(QStringLiteral("synchronize"));
    mSettingsButton->setObjectName(QStringLiteral("settings"));
    mHelpButton->setObjectName(QStringLiteral("helpButton"));
    mChooseLibraryButton->setObjectName(QStringLiteral("chooseLibrary"));
    mForceResync->setObjectName(QStringLiteral("forceResync"));
    mProgressBar->setTextVisible(false);

    auto *layout = new QVBoxLayout(this);
    for (QLabel *label : {mStatusLabel, mHelpLabel}) {
        label->setAlignment(Qt::AlignHCenter);
        label->setWordWrap(true);
        label->setOpenExternalLinks(false);
        connect(label, &QLabel::linkActivated, this, &SyncUi::helpLinkClicked);
        layout->addWidget(label);
    }
    layout->addWidget(mChooseLibraryButton, 0, Qt::AlignHCenter);
    layout->addWidget(mProgressBar);
    layout->addWidget(mSpaceGauge);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {mSettingsButton, mHelpButton, mSyncButton}) {
        // Return presses the button with the focus, as in a dialog.
        button->setAutoDefault(true);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    layout->addWidget(mForceResync, 0, Qt::AlignHCenter | Qt::AlignVCenter);
    // Tab follows the buttons as they are laid out.
    setTabOrder(mSettingsButton, mHelpButton);
    setTabOrder(mHelpButton, mSyncButton);
    setTabOrder(mSyncButton, mForceResync);
    mChooseLibraryButton->hide();
    mForceResync->setEnabled(false);

    connect(mSyncButton, &QPushButton::clicked, this, &SyncUi::startSync);
    connect(mSettingsButton, &QPushButton::clicked, this, qOverload<>(&SyncUi::changeSettings));
    connect(mHelpButton, &QPushButton::clicked, this, &SyncUi::onHelpClicked);
    connect(mChooseLibraryButton, &QPushButton::clicked, this, &SyncUi::chooseLibraryFile);
    connect(&mWaitTimer, &QTimer::timeout, this, &SyncUi::waitExpired);
    connect(mLibrary.get(), &LocalMusicLibrary::initialisationComplete, this,
            &SyncUi::iTunesStarted);
    connect(mLibrary.get(), &LocalMusicLibrary::iTunesFailure, this, &SyncUi::iTunesFailure);
    connect(mLibrary.get(), &LocalMusicLibrary::iTunesOkay, this, &SyncUi::iTunesOkay);
    connect(mRefresher.get(), &AutoRefresher::connectedDeviceStateChanged, this,
            qOverload<int, int>(&SyncUi::UpdateProgress));
    connect(mRefresher.get(), &AutoRefresher::freeSpaceUpdate, mSpaceGauge, &SpaceGauge::setSpace);
    connect(mUpdateWatcher.get(), &SoftwareUpdateWatcher::updateInfoFound, this,
            &SyncUi::softwareUpdateInfoFound);
    connect(mDevices.get(), &DeviceList::unableToOpenDevice, this, &SyncUi::unableToOpenDevice);
    // Turning refresh off waits for the background search of MTP phones.
    connect(mDevices.get(), &DeviceList::autoRefreshDisabled, this, [this] {
        if (mStarting)
            continueSync();
    });

    mStatusLabel->setText(QStringLiteral("Please wait while the iTunes library is read"));
    mHelpLabel->setText(QStringLiteral("<p>If your iTunes library is not found then click "
                                       "<a href=\"%1\">here</a></p>")
                            .arg(LibraryHelpLink));
    setBusyProgress(true);
    mSpaceGauge->disable();
    mSpaceGauge->hide();
    setSyncingButtons();
    mWaitTimer.setSingleShot(true);
    mWaitTimer.setInterval(WaitMs);
    mWaitTimer.start();
}

SyncUi::~SyncUi()
{
    LogScope scope("SyncUi::~SyncUi");
    mWaitTimer.stop();
    // A library or podcast scan waiting for a busy library ends at once.
    mLibrary->setCancelled(true);
    if (mPodcastCache)
        mPodcastCache->cancel();
    if (mSession && mRunning) {
        // Questions asked meanwhile are refused without a dialog; waiting on the
        // run's thread instead would leave a question unanswered for ever.
        mShutdownRequested = true;
        mSession->disconnect(this);
        QEventLoop loop;
        connect(mSession.get(), &SyncSession::finished, &loop, &QEventLoop::quit);
        mSession->cancel();
        loop.exec();
    }
    mSession.reset();
    mPodcastCache.reset();
    mRefresher.reset();
}

void SyncUi::setStartupEnabled(bool aEnabled)
{
    mStartupEnabled = aEnabled;
    if (!aEnabled)
        mWaitTimer.stop();
}

bool SyncUi::isSyncing() const
{
    return mRunning || mStarting;
}

void SyncUi::setRegularButtons()
{
    for (QPushButton *button : {mSyncButton, mSettingsButton, mHelpButton})
        button->setEnabled(true);
}

void SyncUi::setSyncingButtons()
{
    for (QPushButton *button : {mSyncButton, mSettingsButton, mHelpButton})
        button->setEnabled(false);
}

void SyncUi::setBusyProgress(bool aReset)
{
    mProgressBar->setRange(0, 0);
    mProgressBar->setValue(0);
    if (aReset)
        mProgressBar->reset();
}

void SyncUi::setPercentProgress(int aPercent)
{
    mProgressBar->setRange(0, 100);
    if (aPercent == 0)
        mProgressBar->reset();
    else
        mProgressBar->setValue(aPercent);
}

bool SyncUi::loadSettings(SyncSettings &aSettings)
{
    const int result = aSettings.load();
    if (result == SyncSettings::SettingsDamaged) {
        QMessageBox::warning(
            this, ProductName,
            QStringLiteral("The settings file was damaged (%1) and has been moved to %2. A new "
                           "one is started: set up your phone again.")
                .arg(aSettings.damage(), aSettings.damagedCopy().isEmpty()
                                             ? QStringLiteral("(it could not be moved)")
                                             : aSettings.damagedCopy()));
        return !aSettings.damagedCopy().isEmpty();
    }
    return result == 0 || !QFileInfo::exists(SyncSettings::fileName());
}

void SyncUi::saveSettings(SyncSettings &aSettings)
{
    if (aSettings.save() != 0)
        QMessageBox::warning(
            this, ProductName,
            QStringLiteral("Your choice could not be saved in %1.").arg(SyncSettings::fileName()));
}

void SyncUi::waitExpired()
{
    LogScope scope("SyncUi::waitExpired");
    if (!mStartupEnabled)
        return;
    setBusyProgress(true);
    mLibrary->initialiseInNewThread();
}

void SyncUi::iTunesStarted()
{
    LogScope scope("SyncUi::iTunesStarted");
    mChooseLibraryButton->hide();
    iTunesOkay();
    UpdateProgress(StateScanning, 0);
    raiseWindow();
    mPodcastCache = std::make_unique<PodcastRamCache>(mLibraryFactory);
    connect(mPodcastCache.get(), &PodcastRamCache::updated, this, &SyncUi::podcastNamesUpdated,
            Qt::QueuedConnection);
    mPodcastCache->start();
}

void SyncUi::raiseWindow()
{
    LogScope scope("SyncUi::raiseWindow");
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
    // A question open on the window stays in front of it.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

void SyncUi::podcastNamesUpdated()
{
    LogScope scope("SyncUi::podcastNamesUpdated");
    if (mShutdownRequested) {
        close();
        return;
    }
    UpdateProgress(MusicSync::StateIdle, 0);
    SyncSettings settings;
    const bool missing = !QFileInfo::exists(SyncSettings::fileName()) &&
                         settings.load() == SyncSettings::SettingsUnreadable;
    // The file may hold no more than the library file, chosen before any phone was set up.
    if (missing || (loadSettings(settings) && settings.getUsedCacheFilenames().isEmpty())) {
        Logger::instance().text("Config not found - go to setup wizard");
        changeSettings(ModeFirstRun);
        return;
    }
    mUpdateWatcher->getUpdateInfo(VendorSite(settings).url(VendorSite::UpdateNotice).toString());
}

void SyncUi::startSync()
{
    LogScope scope("SyncUi::startSync");
    if (isSyncing())
        return;
    mStarting = true;
    setSyncingButtons();
    // The rest follows once the background search has let go of the phones.
    if (mDevices->autoRefreshEnabled())
        mRefresher->stop();
    else
        continueSync();
}

void SyncUi::continueSync()
{
    LogScope scope("SyncUi::continueSync");
    Logger &log = Logger::instance();
    mStarting = false;
    if (mShutdownRequested) {
        resumeIdle();
        endShutdown();
        return;
    }
    Device *connected = mDevices->ConnectedDevice();
    if (mDevices->DeviceIsConnected() && connected && !connected->IsMounted()) {
        log.text("Device is not mounted");
        QMessageBox box(QMessageBox::Warning, ProductName,
                        QStringLiteral("<p>It is necessary to enable the USB connection on your "
                                       "phone before synchronizing. Click %1 for instructions on "
                                       "how to do this.<p>")
                            .arg(RichText::link(VendorSite::current().url(VendorSite::EnableUsb),
                                                QStringLiteral("here"))),
                        QMessageBox::Ok, this);
        box.setTextFormat(Qt::RichText);
        box.setTextInteractionFlags(Qt::TextBrowserInteraction);
        box.exec();
        resumeIdle();
        return;
    }
    mDevices->RefreshDevices();
    mSession.reset();
    mDevices->RefreshDevices();
    Device *device = mDevices->ConnectedDevice();
    if (!mDevices->DeviceIsConnected() || !device) {
        log.text("Device not connected - unexpected");
        resumeIdle();
        return;
    }
    if (!device->IsConfigured()) {
        log.text("Device is not configured");
        changeSettings(ModeNotConfigured);
        return;
    }
    if (!mRunLock.tryLock()) {
        const qint64 holder = mRunLock.holder();
        log.text("Another program is synchronising");
        QMessageBox::warning(
            this, ProductName,
            QStringLiteral("Another Mobrelay program%1 is synchronizing a phone. Try again when it "
                           "has finished.")
                .arg(holder > 0 ? QStringLiteral(" (process %1)").arg(holder) : QString()));
        resumeIdle();
        return;
    }
    mRunDevice = mDevices->sharedDevice(device);
    mRunDeviceId = device->UniqueDeviceId();
    mRunListId = mDevices->deviceId(device);
    mSession = std::make_unique<SyncSession>(*mLibrary, mRunDevice, *this);
    connect(mSession.get(), &SyncSession::stateChanged, this,
            [this](int aState, int aPercent, const QString &) {
                // The end is taken from finished, once every report is in.
                if (!isFinalState(aState))
                    UpdateProgress(aState, aPercent);
            });
    connect(mSession.get(), &SyncSession::progress, this,
            qOverload<int, int, const QString &>(&SyncUi::UpdateProgress));
    connect(mSession.get(), &SyncSession::finished, this, &SyncUi::onRunFinished);
    mSyncButton->setEnabled(false);
    mRunning = true;
    mSession->start(mForceResync->isChecked());
}

void SyncUi::onRunFinished(int aFinalState)
{
    LogScope scope("SyncUi::onRunFinished");
    mRunning = false;
    mRunLock.unlock();
    UpdateProgress(aFinalState, 0);
    mRunDevice.reset();
    if (aFinalState == MusicSync::StateNotConfigured ||
        aFinalState == MusicSync::StateSettingsUnreadable) {
        setRegularButtons();
        if (!mShutdownRequested) {
            // Not from inside the session's own signal: the wizard may start the next run.
            QTimer::singleShot(0, this, [this] { changeSettings(ModeNotConfigured); });
        }
    } else {
        resumeIdle();
    }
    Q_EMIT runEnded(aFinalState);
    if (mShutdownRequested) {
        Logger::instance().text("Shutting down due to earlier shutdown request");
        endShutdown();
    }
}

void SyncUi::endShutdown()
{
    close();
    // Qt takes one deferred delete per object, and that one was held back.
    if (mDeleteWhenDone)
        QMetaObject::invokeMethod(
            this, [this] { delete this; }, Qt::QueuedConnection);
}

void SyncUi::resumeIdle()
{
    // Also takes back a switch-off still under way.
    mRefresher->start();
    setRegularButtons();
    if (mState == MusicSync::StateIdle)
        mSyncButton->setEnabled(false);
}

void SyncUi::changeSettings()
{
    changeSettings(ModeSettings);
}

void SyncUi::changeSettings(int aMode)
{
    LogScope scope("SyncUi::changeSettings");
    Logger::instance().value("aMode", aMode);
    if (isSyncing() && !mStarting)
        return;
    mStarting = false;
    WizardResult result;
    mRefresher->stop();
    if (mWizardOpener) {
        result = mWizardOpener(*this, aMode);
    } else {
        DeviceWizard wizard(mLibrary.get(), *mDevices, this, aMode);
        result.mAccepted = wizard.exec() == QDialog::Accepted;
        result.mSyncNow = result.mAccepted && wizard.syncNow();
    }
    mDevices->RefreshDevices();
    if (result.mAccepted && result.mSyncNow) {
        Logger::instance().text("Sync now...");
        startSync();
    } else {
        resumeIdle();
    }
}

void SyncUi::showNotCopiedWarning()
{
    if (!mSession || mSession->notCopied().isEmpty())
        return;
    const int kind = mSession->run().lastError() == Device::MakeFolderFailed
                         ? SyncWarningDialog::FolderFailed
                         : SyncWarningDialog::CopyFailed;
    SyncSettings settings;
    loadSettings(settings);
    if (settings.skipNotCopiedWarning(mRunDeviceId))
        return;
    SyncWarningDialog dialog(this, mSession->notCopied(), kind);
    dialog.exec();
    if (dialog.dontShowAgain()) {
        settings.setSkipNotCopiedWarning(mRunDeviceId);
        saveSettings(settings);
    }
}

void SyncUi::showEjectReminder()
{
    // Only while the run's phone is still there to be ejected.
    if (!mRunDevice || !mDevices->deviceById(mRunListId) ||
        mRunDevice->GetDeviceType() != Device::TypeUsbMassStorage)
        return;
    SyncSettings settings;
    loadSettings(settings);
    if (settings.skipUsbEjectWarning(mRunDeviceId))
        return;
    UsbEjectWarning warning(this);
    if (warning.exec() == 1) {
        settings.setSkipUsbEjectWarning(mRunDeviceId);
        saveSettings(settings);
    }
}

void SyncUi::UpdateProgress(int aState, int aPercent)
{
    if (mState < 7 && mShutdownRequested && !isSyncing()) {
        Logger::instance().text("Shutting down due to earlier shutdown request");
        close();
        return;
    }
    const int previous = mState;
    const bool changed = previous != aState;
    mState = aState;
    if (changed && (aState == MusicSync::StateFinished || aState == MusicSync::StateCancelled))
        showNotCopiedWarning();

    switch (aState) {
    case 0:
    case 5:
        mSpaceGauge->disable();
        mSpaceGauge->show();
        mProgressBar->hide();
        break;
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
        mSpaceGauge->enable();
        mSpaceGauge->show();
        mProgressBar->hide();
        mForceResync->setEnabled(true);
        break;
    default:
        if (aState >= 8 && aState <= 15) {
            mSpaceGauge->hide();
            mProgressBar->show();
            mForceResync->setEnabled(false);
        }
        break;
    }

    const auto idle = [&](const QString &aStatus, const QString &aHelp) {
        mStatusLabel->setText(aStatus);
        mHelpLabel->setText(aHelp);
        setRegularButtons();
        setPercentProgress(0);
    };
    const auto working = [&](const QString &aStatus, const QString &aHelp, bool aReset) {
        mStatusLabel->setText(aStatus);
        mHelpLabel->setText(aHelp);
        setSyncingButtons();
        setBusyProgress(aReset);
    };
    // Refresh is never switched back on under a run that is starting or working.
    const auto restartRefresh = [&] {
        if (changed && !isSyncing())
            mRefresher->start();
    };
    switch (aState) {
    case 0:
        idle(QStringLiteral("Connect your phone to the PC"),
             QStringLiteral("If your phone is already connected then click Help"));
        mSyncButton->setEnabled(false);
        restartRefresh();
        break;
    case 1:
        // After a run's end the outcome stays on show until the next report.
        if (previous == 0 || previous == 1 || previous == 4 || previous == 5 || previous < 0) {
            Device *device = mDevices->ConnectedDevice();
            idle(QStringLiteral("A phone is connected and is ready to be synchronized"),
                 device
                     ? RichText::name(device->FriendlyName(), mHelpLabel->font(), WindowWidth - 40)
                     : QString());
            restartRefresh();
        }
        break;
    case 2:
    case 3:
        idle(QStringLiteral("Phone synchronization is complete"),
             aState == 3 ? QStringLiteral("Errors detected") : QString());
        restartRefresh();
        showEjectReminder();
        break;
    case 4:
    case 5:
        break;
    case 6:
        idle(QStringLiteral("Phone synchronization was cancelled"), QString());
        restartRefresh();
        break;
    case 8:
        working(QStringLiteral("Scanning iTunes Library"), QStringLiteral("Please Wait"), true);
        break;
    case 9:
    case 11:
        working(SyncSession::stateText(aState), QString(), true);
        break;
    case 12:
    case 15:
        working(SyncSession::stateText(aState), QString(), false);
        break;
    case 13:
        mStatusLabel->setText(SyncSession::stateText(aState));
        mHelpLabel->clear();
        setSyncingButtons();
        setPercentProgress(aPercent);
        break;
    case 14:
        working(QStringLiteral("Cancelling"), QStringLiteral("Please Wait"), true);
        break;
    default:
        break;
    }
    // The keyboard is left nowhere while the buttons are off; it comes back on Synchronize.
    const QWidget *focus = focusWidget();
    if (mSyncButton->isEnabled() && (!focus || !focus->isEnabled()))
        mSyncButton->setFocus();
}

void SyncUi::UpdateProgress(int aState, int aPercent, const QString &aTrackName)
{
    UpdateProgress(aState, aPercent);
    if (mState != StateCancelling)
        mHelpLabel->setText(RichText::name(aTrackName, mHelpLabel->font(), WindowWidth - 40));
}

bool SyncUi::confirmDelete(const TrackList &aTracks)
{
    Answering answering(mAnswering);
    Logger &log = Logger::instance();
    SyncSettings settings;
    loadSettings(settings);
    if (settings.deleteWithoutWarning(mRunDeviceId)) {
        log.text("Skipping warning");
        return true;
    }
    log.text("Displaying warning");
    DeleteTracksConfirm dialog(aTracks, this);
    mQuestion = &dialog;
    const int result = mShutdownRequested ? 0 : dialog.exec();
    if (result == 2) {
        settings.setDeleteWithoutWarning(mRunDeviceId);
        saveSettings(settings);
    }
    return result == 1 || result == 2;
}

void SyncUi::drmTracksFound(const TrackList &aTracks)
{
    Answering answering(mAnswering);
    SyncSettings settings;
    loadSettings(settings);
    if (settings.skipDrmWarning(mRunDeviceId) || mShutdownRequested)
        return;
    Logger::instance().text("Displaying warning");
    SyncWarningDialog dialog(this, aTracks, SyncWarningDialog::CopyProtected);
    mQuestion = &dialog;
    dialog.exec();
    if (dialog.dontShowAgain()) {
        settings.setSkipDrmWarning(mRunDeviceId);
        saveSettings(settings);
    }
}

bool SyncUi::continueWithoutSpace(qint64 aBytes)
{
    Answering answering(mAnswering);
    const int megabytes = int(aBytes / 1024 / 1024);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Not Enough Space"),
                    QStringLiteral("You do not have enough space on your phone to complete the "
                                   "synchronization.  You need to free up %1 MB. Do you want to "
                                   "continue with the sync anyway? Note that if you do this then "
                                   "some tracks will not be copied.")
                        .arg(megabytes),
                    QMessageBox::NoButton, this);
    QPushButton *dontSync = box.addButton(QStringLiteral("Don't Sync"), QMessageBox::RejectRole);
    box.addButton(QStringLiteral("Sync Anyway"), QMessageBox::AcceptRole);
    box.setEscapeButton(dontSync);
    mQuestion = &box;
    if (mShutdownRequested)
        return false;
    box.exec();
    return box.clickedButton() != dontSync;
}

void SyncUi::onHelpClicked()
{
    QDesktopServices::openUrl(VendorSite::current().url(VendorSite::Help));
}

void SyncUi::helpLinkClicked(const QString &aLink)
{
    if (aLink != LibraryHelpLink)
        return;
    QMessageBox::information(
        this, QStringLiteral("iTunes Information"),
        ProductName +
            QStringLiteral(" reads your music from the iTunes library file (iTunes Music "
                           "Library.xml or iTunes Library.xml), looked for in ~/Music/iTunes. If "
                           "yours is elsewhere, use \"Choose library file…\".\n\nWhile iTunes "
                           "is writing the file, ") +
            ProductName + QStringLiteral(" waits until it is complete."),
        QMessageBox::Ok);
}

void SyncUi::chooseLibraryFile()
{
    LogScope scope("SyncUi::chooseLibraryFile");
    const QString path =
        mFileChooser
            ? mFileChooser(this)
            : QFileDialog::getOpenFileName(this, QStringLiteral("Choose the iTunes library file"),
                                           QDir::homePath(),
                                           QStringLiteral("iTunes library (*.xml);;All files (*)"));
    if (path.isEmpty())
        return;
    SyncSettings settings;
    if (!loadSettings(settings))
        return;
    settings.setLibraryPath(path);
    saveSettings(settings);
    Logger::instance().value("library-path", path);
}

void SyncUi::softwareUpdateInfoFound()
{
    SyncSettings settings;
    loadSettings(settings);
    const QString identifier = mUpdateWatcher->identifier();
    if (settings.dontDisplayMessage() == identifier || mUpdateWatcher->text().isEmpty())
        return;
    UpdateDialog dialog(this, mUpdateWatcher->title(), mUpdateWatcher->text());
    dialog.exec();
    if (dialog.dontShowAgain()) {
        settings.setDontDisplayMessage(identifier);
        saveSettings(settings);
    }
}

void SyncUi::iTunesFailure()
{
    if (mState < 0 && mChooseLibraryButton->isHidden()) {
        mChooseLibraryButton->show();
        mChooseLibraryButton->setEnabled(true);
    }
    if (mFailureCount > FailuresBeforeNotice) {
        mNotResponding.setWindowTitle(ProductName);
        mNotResponding.setText(QStringLiteral(
            "The iTunes library cannot be read. If iTunes is still writing it, wait; otherwise "
            "choose the library file."));
        mNotResponding.setModal(false);
        mNotResponding.show();
        mFailureCount = 0;
    }
    ++mFailureCount;
}

void SyncUi::iTunesOkay()
{
    mFailureCount = 0;
    mNotResponding.hide();
}

void SyncUi::unableToOpenDevice()
{
    if (mDeviceErrorShown)
        return;
    mDeviceErrorShown = true;
    QMessageBox::warning(this, QStringLiteral("Unable to Connect to The Device"),
                         QStringLiteral("Please close any other applications which may be using "
                                        "the connected device (for example the file manager, "
                                        "which opens phones as they are plugged in)."),
                         QMessageBox::Ok);
}

bool SyncUi::event(QEvent *aEvent)
{
    // A deferred delete is carried out by whichever event loop runs, a
    // question's dialog included: the window would go from under the question
    // and the run waiting on it. It goes once the run has ended instead.
    if (aEvent->type() == QEvent::DeferredDelete && (isSyncing() || mAnswering > 0)) {
        Logger::instance().text("Window deletion waits for the run");
        mDeleteWhenDone = true;
        close();
        return true;
    }
    return QWidget::event(aEvent);
}

void SyncUi::closeEvent(QCloseEvent *aEvent)
{
    LogScope scope("SyncUi::closeEvent");
    mShutdownRequested = true;
    if (isSyncing() || mAnswering > 0) {
        Logger::instance().text("App is busy - so don't shut down yet");
        if (mSession)
            mSession->cancel();
        UpdateProgress(StateCancelling, 0);
        // A question left open would hold the run for ever.
        if (mQuestion)
            mQuestion->close();
        aEvent->ignore();
        return;
    }
    Logger::instance().text("App is not busy - exit now");
    // Nothing waits for a library that does not answer.
    mLibrary->setCancelled(true);
    if (mPodcastCache)
        mPodcastCache->cancel();
    aEvent->accept();
}
