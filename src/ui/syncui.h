#pragma once

#include "sync/runlock.h"
#include "sync/syncanswerer.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class AutoRefresher;
class Device;
class DeviceList;
class ITunesAppFactory;
class LocalMusicLibrary;
class MtpRefresher;
class PodcastRamCache;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class SoftwareUpdateWatcher;
class SpaceGauge;
class SyncSession;
class SyncSettings;
class VolumeSource;

// The main window: follows the phones and the runs, and starts a run when
// asked. Runs go through SyncSession, as in mobrelay-sync; this window answers
// the run's questions with dialogs.
class SyncUi : public QWidget, public SyncAnswerer
{
    Q_OBJECT
public:
    // Wizard modes.
    static constexpr int ModeSettings = 0;
    static constexpr int ModeNotConfigured = 1;
    static constexpr int ModeFirstRun = 3;
    // Window-only states.
    static constexpr int StateScanning = 8;
    static constexpr int StateCancelling = 14;

    struct WizardResult
    {
        bool mAccepted = false;
        bool mSyncNow = false;
    };
    // Runs the setup wizard modally over the window's library and device list.
    using WizardOpener = std::function<WizardResult(SyncUi &aWindow, int aMode)>;

    SyncUi(std::shared_ptr<VolumeSource> aVolumes, std::unique_ptr<MtpRefresher> aMtp,
           std::shared_ptr<ITunesAppFactory> aLibraryFactory, QWidget *aParent = nullptr);
    ~SyncUi() override;

    void setWizardOpener(WizardOpener aOpener) { mWizardOpener = std::move(aOpener); }
    // Asks for the library file; an empty answer is a cancel.
    using LibraryFileChooser = std::function<QString(QWidget *aParent)>;
    void setLibraryFileChooser(LibraryFileChooser aChooser) { mFileChooser = std::move(aChooser); }
    // Tests and tools start at a phone's state without the library start-up.
    void setStartupEnabled(bool aEnabled);

    LocalMusicLibrary &library() { return *mLibrary; }
    DeviceList &deviceList() { return *mDevices; }
    int state() const { return mState; }
    bool isSyncing() const;
    SyncSession *session() const { return mSession.get(); }

    bool confirmDelete(const TrackList &aTracks) override;
    void drmTracksFound(const TrackList &aTracks) override;
    bool continueWithoutSpace(qint64 aBytes) override;

public Q_SLOTS:
    void startSync();
    void changeSettings();
    void UpdateProgress(int aState, int aPercent);
    void UpdateProgress(int aState, int aPercent, const QString &aTrackName);
    void iTunesStarted();
    void podcastNamesUpdated();
    void waitExpired();
    void onHelpClicked();
    void softwareUpdateInfoFound();
    void helpLinkClicked(const QString &aLink);
    void iTunesFailure();
    void iTunesOkay();
    void unableToOpenDevice();
    void chooseLibraryFile();
    void raiseWindow();

Q_SIGNALS:
    // A run has ended and the window has dealt with its outcome.
    void runEnded(int aFinalState);

protected:
    bool event(QEvent *aEvent) override;
    void closeEvent(QCloseEvent *aEvent) override;

private:
    void changeSettings(int aMode);
    void continueSync();
    void onRunFinished(int aFinalState);
    // Closes the window once nothing is left to wait for, and deletes it when
    // that was asked for meanwhile.
    void endShutdown();
    // After a run, or a start that came to nothing: phones are followed again
    // and Synchronize answers.
    void resumeIdle();
    void showNotCopiedWarning();
    void showEjectReminder();
    void setRegularButtons();
    void setSyncingButtons();
    void setBusyProgress(bool aReset);
    void setPercentProgress(int aPercent);
    bool loadSettings(SyncSettings &aSettings);
    void saveSettings(SyncSettings &aSettings);

    QProgressBar *mProgressBar;
    SpaceGauge *mSpaceGauge;
    QTimer mWaitTimer;
    QLabel *mStatusLabel;
    QLabel *mHelpLabel;
    QPushButton *mSyncButton;
    QPushButton *mSettingsButton;
    QPushButton *mHelpButton;
    QPushButton *mChooseLibraryButton;
    std::unique_ptr<SyncSession> mSession;
    std::shared_ptr<ITunesAppFactory> mLibraryFactory;
    std::unique_ptr<DeviceList> mDevices;
    std::unique_ptr<LocalMusicLibrary> mLibrary;
    int mState = -1;
    QCheckBox *mForceResync;
    std::unique_ptr<AutoRefresher> mRefresher;
    std::unique_ptr<SoftwareUpdateWatcher> mUpdateWatcher;
    std::unique_ptr<PodcastRamCache> mPodcastCache;
    QMessageBox mNotResponding;
    bool mShutdownRequested = false;
    bool mDeleteWhenDone = false;
    int mFailureCount = 0;
    bool mDeviceErrorShown = false;
    // The phone of the run, taken when it starts: the list may show another by its end.
    std::shared_ptr<Device> mRunDevice;
    QString mRunDeviceId;
    QString mRunListId;
    bool mRunning = false;
    bool mStartupEnabled = true;
    QPointer<QWidget> mQuestion;
    RunLock mRunLock;
    bool mStarting = false;
    int mAnswering = 0;
    WizardOpener mWizardOpener;
    LibraryFileChooser mFileChooser;
};
