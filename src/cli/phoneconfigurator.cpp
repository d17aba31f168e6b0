#include "phoneconfigurator.h"

#include "settings/phoneconfiguration.h"
#include "settings/syncsettings.h"
#include "sync/phonesetup.h"
#include "syncclioptions.h"

#include <QFileInfo>

PhoneConfiguration PhoneConfigurator::fromOptions(const SyncCliOptions &aOptions)
{
    PhoneConfiguration configuration;
    configuration.mAllMusic = aOptions.mPlaylists.mAll;
    configuration.mPlaylists = aOptions.mPlaylists.mNames;
    configuration.mPodcasts = aOptions.mPodcasts.mNames;
    configuration.mPodcastSetting = aOptions.mPodcasts.mAll ? PhoneConfiguration::AllPodcasts
                                    : aOptions.mPodcasts.mNames.isEmpty()
                                        ? PhoneConfiguration::NoPodcasts
                                        : PhoneConfiguration::PodcastsByName;
    configuration.mEpisodes = aOptions.mEpisodes;
    configuration.mAlbumArt = aOptions.mAlbumArt;
    configuration.mAlbumArtExisting =
        aOptions.mAlbumArtExisting < 0 ? aOptions.mAlbumArt : aOptions.mAlbumArtExisting != 0;
    configuration.mConvertToMp3 = aOptions.mConvertToMp3;
    if (!aOptions.mDataBackup.isEmpty())
        configuration.mBackupPath = QFileInfo(aOptions.mDataBackup).absoluteFilePath();
    configuration.mCopyTextMessages = aOptions.mCopy.contains(QStringLiteral("messages"));
    configuration.mCopyAddressBook = aOptions.mCopy.contains(QStringLiteral("contacts"));
    configuration.mCopyPhotos = aOptions.mCopy.contains(QStringLiteral("photos"));
    for (const QString &folder : aOptions.mPhotoFolders)
        configuration.mPhotoFolders.append(QFileInfo(folder).absoluteFilePath());
    return configuration;
}

int PhoneConfigurator::configure(Device &aDevice, const SyncCliOptions &aOptions, QString &aMessage)
{
    return PhoneSetup::finish(aDevice, fromOptions(aOptions), aMessage) ? 0
                                                                        : ExitCode::CannotCreate;
}

QString PhoneConfigurator::describe(const QString &aDeviceId)
{
    SyncSettings settings;
    settings.load();
    PhoneConfiguration configuration;
    if (!configuration.load(settings, aDeviceId))
        return QStringLiteral("not configured\n");
    return QStringLiteral("phone id: ") + aDeviceId + QLatin1Char('\n') + configuration.describe();
}
