#include "settings/phoneconfiguration.h"

#include "core/logger.h"
#include "settings/syncsettings.h"

namespace {
const QString PhotoFoldersList = QStringLiteral("photo_folders");

QString onOff(bool aValue)
{
    return aValue ? QStringLiteral("on") : QStringLiteral("off");
}
} // namespace

static_assert(PhoneConfiguration::PodcastsByName == SyncSettings::PodcastsByName);

bool PhoneConfiguration::load(const SyncSettings &aSettings, const QString &aDeviceId)
{
    if (aSettings.getConfig(aDeviceId, mAllMusic, mPodcastSetting, mPlaylists, mPodcasts) != 0)
        return false;
    mEpisodes = aSettings.numberOfEpisodesToSync(aDeviceId);
    mAlbumArt = aSettings.enableArtworkSync(aDeviceId);
    mAlbumArtExisting = aSettings.forceArtworkSync(aDeviceId);
    mConvertToMp3 = aSettings.convertAacToMp3(aDeviceId);
    mBackupPath = aSettings.selectedBackupPath(aDeviceId);
    mCopyTextMessages = aSettings.copyTextMessages(aDeviceId);
    mCopyAddressBook = aSettings.copyAddressBook(aDeviceId);
    mCopyPhotos = aSettings.copyPhotos(aDeviceId);
    mPhotoFolders.clear();
    for (const auto &pair : aSettings.getSettingsList(aDeviceId, PhotoFoldersList)) {
        if (!pair.second.isEmpty())
            mPhotoFolders.append(pair.second);
    }
    return true;
}

void PhoneConfiguration::apply(SyncSettings &aSettings, const QString &aDeviceId,
                               const QString &aFriendlyName) const
{
    aSettings.setConfig(aDeviceId, mAllMusic, mPodcastSetting, mPlaylists, mPodcasts,
                        aFriendlyName);
    aSettings.setConvertAacToMp3(aDeviceId, mConvertToMp3);
    aSettings.setEnableArtworkSync(aDeviceId, mAlbumArt);
    aSettings.setForceArtworkSync(aDeviceId, mAlbumArtExisting);
    aSettings.setNumberOfEpisodesToSync(aDeviceId, mEpisodes);
    aSettings.setSelectedBackupPath(aDeviceId, mBackupPath);
    aSettings.setCopyTextMessages(aDeviceId, mCopyTextMessages);
    aSettings.setCopyAddressBook(aDeviceId, mCopyAddressBook);
    SyncSettings::SettingsList folders;
    for (const QString &folder : mPhotoFolders)
        folders.append({QString::number(folders.size()), folder});
    aSettings.setSettingsList(aDeviceId, PhotoFoldersList, folders);
    aSettings.setCopyPhotos(aDeviceId, mCopyPhotos);
}

bool PhoneConfiguration::save(const QString &aDeviceId, const QString &aFriendlyName,
                              QString &aMessage) const
{
    LogScope scope("PhoneConfiguration::save");
    aMessage.clear();
    SyncSettings settings;
    settings.load();
    apply(settings, aDeviceId, aFriendlyName);
    // Read back too: an older file that names the phone would hide a failed write.
    SyncSettings check;
    if (settings.save() != 0 || check.load() != 0 || !check.isConfigured(aDeviceId)) {
        aMessage =
            QStringLiteral("could not write the settings file %1").arg(SyncSettings::fileName());
        return false;
    }
    return true;
}

QString PhoneConfiguration::describe() const
{
    const QString music = mAllMusic              ? QStringLiteral("all")
                          : mPlaylists.isEmpty() ? QStringLiteral("none")
                                                 : mPlaylists.join(QStringLiteral(", "));
    const QString podcasts = mPodcastSetting == AllPodcasts ? QStringLiteral("all")
                             : mPodcastSetting == PodcastsByName
                                 ? mPodcasts.join(QStringLiteral(", "))
                                 : QStringLiteral("none");
    QString text;
    text += QStringLiteral("music: ") + music + QLatin1Char('\n');
    text += QStringLiteral("podcasts: ") + podcasts + QLatin1Char('\n');
    text += QStringLiteral("episodes per podcast: ") +
            (mEpisodes == 0 ? QStringLiteral("all") : QString::number(mEpisodes)) +
            QLatin1Char('\n');
    text += QStringLiteral("album art: ") + onOff(mAlbumArt) + QLatin1Char('\n');
    text += QStringLiteral("album art for tracks already on the phone: ") +
            onOff(mAlbumArtExisting) + QLatin1Char('\n');
    text += QStringLiteral("convert AAC to MP3: ") + onOff(mConvertToMp3) + QLatin1Char('\n');
    if (!mBackupPath.isEmpty()) {
        QStringList copy;
        if (mCopyTextMessages)
            copy.append(QStringLiteral("messages"));
        if (mCopyAddressBook)
            copy.append(QStringLiteral("contacts"));
        if (mCopyPhotos)
            copy.append(QStringLiteral("photos"));
        text += QStringLiteral("backup: ") + mBackupPath + QLatin1Char('\n');
        text += QStringLiteral("copy from the backup at the next run: ") +
                (copy.isEmpty() ? QStringLiteral("nothing") : copy.join(QStringLiteral(", "))) +
                QLatin1Char('\n');
    }
    return text;
}
