#pragma once

#include "settings/phoneconfiguration.h"

#include <QString>
#include <QWizard>

class ConclusionPage;
class ConnectDevicePage;
class Device;
class DeviceBackupPage;
class DeviceList;
class LocalMusicLibrary;
class PlaylistSettingsPage;

// Sets one phone up: which phone, which music and podcasts, data from a backup,
// album art and conversion. Finish stores the choices as `mobrelay-sync
// configure` does; Cancel writes nothing.
class DeviceWizard : public QWizard
{
    Q_OBJECT
public:
    enum PageId
    {
        IntroId = 0,
        LicenseId = 1,
        ConnectId = 2,
        MusicId = 4,
        PodcastId = 5,
        BackupId = 7,
        ConclusionId = 9,
    };

    // aMode: IntroPage::ChangeSettings, NewPhone or FirstSetup.
    DeviceWizard(LocalMusicLibrary *aLibrary, DeviceList &aDevices, QWidget *aParent, int aMode);
    ~DeviceWizard() override;

    bool syncNow() const;
    // After Finish: whether the choices reached the settings file, and why not.
    bool saved() const { return mSaved; }
    QString saveError() const { return mSaveError; }
    // The phone the pages show, by its id in the device list.
    QString selectedDeviceId() const;

    ConnectDevicePage *connectPage() const { return mConnect; }
    PlaylistSettingsPage *musicPage() const { return mMusic; }
    PlaylistSettingsPage *podcastPage() const { return mPodcast; }
    DeviceBackupPage *backupPage() const { return mBackup; }
    ConclusionPage *conclusionPage() const { return mConclusion; }

public Q_SLOTS:
    void saveSettings(int aExitReason);
    void pageChanged(int aNewPageId);

Q_SIGNALS:
    // The choices could not be stored; the user has been told.
    void saveFailed(const QString &aMessage);

private:
    void doPageChanged(int aNewPageId);
    void showConfiguration(const PhoneConfiguration &aConfiguration);
    PhoneConfiguration chosenConfiguration() const;
    void updateSpace(PlaylistSettingsPage *aPage, Device *aDevice);

    LocalMusicLibrary *mLibrary;
    DeviceList &mDevices;
    bool mSettingsLoaded = false;
    // The connect page is the device list's observer.
    bool mObserving = false;
    // The phone whose choices the pages show, and what was stored for it.
    QString mShownUniqueId;
    bool mShownAny = false;
    PhoneConfiguration mStored;
    bool mSaved = false;
    QString mSaveError;
    ConnectDevicePage *mConnect;
    PlaylistSettingsPage *mMusic;
    PlaylistSettingsPage *mPodcast;
    DeviceBackupPage *mBackup;
    ConclusionPage *mConclusion;
};
