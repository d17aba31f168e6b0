#pragma once

#include <QString>
#include <QStringList>

class SyncSettings;

// What one phone is set up to receive: the choices of the setup wizard's
// Finish and of `mobrelay-sync configure`, loaded from and stored into the
// settings file.
class PhoneConfiguration
{
public:
    static constexpr int NoPodcasts = 0;
    static constexpr int AllPodcasts = 1;
    static constexpr int PodcastsByName = 2;

    // False when the settings hold nothing for the phone.
    bool load(const SyncSettings &aSettings, const QString &aDeviceId);
    void apply(SyncSettings &aSettings, const QString &aDeviceId,
               const QString &aFriendlyName) const;
    // Loads the settings file, applies the choices, saves and reads the file
    // back; false with a reason in aMessage when they did not reach the disk.
    bool save(const QString &aDeviceId, const QString &aFriendlyName, QString &aMessage) const;
    // One "name: value" line per choice, for the user.
    QString describe() const;

    bool mAllMusic = true;
    QStringList mPlaylists;
    int mPodcastSetting = NoPodcasts;
    QStringList mPodcasts;
    // 0 means every episode.
    int mEpisodes = 0;
    bool mAlbumArt = true;
    // Covers for tracks copied before; the next run clears it once done.
    bool mAlbumArtExisting = true;
    bool mConvertToMp3 = false;
    QString mBackupPath;
    bool mCopyTextMessages = false;
    bool mCopyAddressBook = false;
    bool mCopyPhotos = false;
    // Folders of a BlackBerry's photos on the PC, copied with them.
    QStringList mPhotoFolders;
};
