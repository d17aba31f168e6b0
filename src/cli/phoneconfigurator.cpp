#include "phoneconfigurator.h"

#include "core/logger.h"
#include "devices/device.h"
#include "settings/syncsettings.h"
#include "syncclioptions.h"

namespace {
const QString PhotoFoldersList = QStringLiteral("photo_folders");
constexpr int AllPodcasts = 1;
constexpr int NoPodcasts = 0;

QString onOff(bool aValue)
{
    return aValue ? QStringLiteral("on") : QStringLiteral("off");
}
} // namespace

int PhoneConfigurator::configure(Device &aDevice, const SyncCliOptions &aOptions, QString &aMessage)
{
    LogScope scope("PhoneConfigurator::configure");
    aMessage.clear();
    aDevice.SetConfigured();
    const QString id = aDevice.UniqueDeviceId();
    if (id.isEmpty() || id == Device::TempDeviceId) {
        aMessage = QStringLiteral("could not write the phone's identifier file");
        return scope.ret(ExitCode::CannotCreate);
    }

    const SyncCliOptions::Selection &music = aOptions.mPlaylists;
    const SyncCliOptions::Selection &podcasts = aOptions.mPodcasts;
    const int podcastSetting = podcasts.mAll               ? AllPodcasts
                               : podcasts.mNames.isEmpty() ? NoPodcasts
                                                           : SyncSettings::PodcastsByName;
    SyncSettings settings;
    settings.load();
    settings.setConfig(id, music.mAll, podcastSetting, music.mNames, podcasts.mNames,
                       aDevice.FriendlyName());
    settings.setConvertAacToMp3(id, aOptions.mConvertToMp3);
    settings.setEnableArtworkSync(id, aOptions.mAlbumArt);
    const bool existing =
        aOptions.mAlbumArtExisting < 0 ? aOptions.mAlbumArt : aOptions.mAlbumArtExisting != 0;
    settings.setForceArtworkSync(id, existing);
    settings.setNumberOfEpisodesToSync(id, aOptions.mEpisodes);
    settings.setSelectedBackupPath(id, QString());
    settings.setCopyTextMessages(id, false);
    settings.setCopyAddressBook(id, false);
    settings.removeSettingsList(id, PhotoFoldersList);
    settings.setCopyPhotos(id, false);
    settings.save();

    // The store only logs a failed write; read the file back to be sure.
    SyncSettings check;
    if (check.load() != 0 || !check.isConfigured(id)) {
        aMessage =
            QStringLiteral("could not write the settings file %1").arg(SyncSettings::fileName());
        return scope.ret(ExitCode::CannotCreate);
    }
    return scope.ret(0);
}

QString PhoneConfigurator::describe(const QString &aDeviceId)
{
    SyncSettings settings;
    settings.load();
    bool allMusic = false;
    int podcastSetting = 0;
    QStringList playlists;
    QStringList podcasts;
    if (settings.getConfig(aDeviceId, allMusic, podcastSetting, playlists, podcasts) != 0)
        return QStringLiteral("not configured\n");
    QString music = allMusic              ? QStringLiteral("all")
                    : playlists.isEmpty() ? QStringLiteral("none")
                                          : playlists.join(QStringLiteral(", "));
    QString chosenPodcasts = podcastSetting == AllPodcasts ? QStringLiteral("all")
                             : podcastSetting == SyncSettings::PodcastsByName
                                 ? podcasts.join(QStringLiteral(", "))
                                 : QStringLiteral("none");
    const int episodes = settings.numberOfEpisodesToSync(aDeviceId);
    QString text;
    text += QStringLiteral("phone id: ") + aDeviceId + QLatin1Char('\n');
    text += QStringLiteral("music: ") + music + QLatin1Char('\n');
    text += QStringLiteral("podcasts: ") + chosenPodcasts + QLatin1Char('\n');
    text += QStringLiteral("episodes per podcast: ") +
            (episodes == 0 ? QStringLiteral("all") : QString::number(episodes)) + QLatin1Char('\n');
    text += QStringLiteral("album art: ") + onOff(settings.enableArtworkSync(aDeviceId)) +
            QLatin1Char('\n');
    text += QStringLiteral("album art for tracks already on the phone: ") +
            onOff(settings.forceArtworkSync(aDeviceId)) + QLatin1Char('\n');
    text += QStringLiteral("convert AAC to MP3: ") + onOff(settings.convertAacToMp3(aDeviceId)) +
            QLatin1Char('\n');
    return text;
}
