#pragma once

#include "devices/device.h"
#include "devices/mtp/mtpstorage.h"

#include <QRecursiveMutex>
#include <QSet>
#include <QString>

#include <memory>

class DeviceParentMtpMac;
class MtpSession;

// One storage of an MTP phone. Paths are "/"-separated from the storage's
// root and resolved through the phone's folder listings; every operation holds
// the phone's lock, as its storages share one connection.
class DeviceMtpMac : public Device
{
public:
    static inline const QString AndroidFile = QStringLiteral("android.xml");
    static inline const QString SyncCompleteFile = QStringLiteral("synccomplete");
    static inline const QByteArray SyncCompleteText = QByteArrayLiteral("sync-complete");
    static inline const QString AlbumArtFile = QStringLiteral("folder.jpg");

    // Reads the companion app's marker and the unique id from the phone.
    DeviceMtpMac(DeviceParentMtpMac &aParent, const MtpStorage &aStorage);
    ~DeviceMtpMac() override;

    using Device::createPlaylist;

    int CopyFileToDevice(const QString &aLocalPath, const QString &aDevicePath,
                         bool aOverwrite) override;
    int GetAndroidVersion() override { return mCachedAndroidVersion; }
    int GetDeviceType() override { return TypeMtp; }
    void PrepareForSync() override;
    void FinalizeSync() override;
    // The phone list drops a phone that leaves the bus; until then it counts as there.
    bool IsMounted() override { return true; }
    int UploadTrack(Track &aTrack) override;
    int DeleteTrack(Track &aTrack) override;
    QString UniqueDeviceId() override { return mUniqueDeviceId; }
    QString FriendlyName() override { return mFriendlyName; }
    int GetStorageCapacity(quint64 &aBytes) override;
    int GetFreeStorageSpace(quint64 &aBytes) override;
    void SetConfigured() override;
    void createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                        bool aForceWrite) override;
    void removeOldPlaylists() override;
    void uploadAlbumArt(const Track &aTrack, const QString &aImagePath) override;
    void setPcSoftwareVersion(const QString &aVersion) override { Q_UNUSED(aVersion); }

    QString storageId() const { return mStorage.mId; }

private:
    void CacheAndroidVersion();
    void ReadOrGenerateUniqueDeviceId();
    // Reopens the phone: object ids and listings start afresh.
    void reconnect();
    static QString dataPath(const QString &aName);
    // "Music/artist/album" of a track, empty names left out.
    QString trackFolder(const Track &aTrack) const;
    // Where a device id lives on the storage: ids without a leading "/" are in VARUZ.
    static QString pathOfDeviceId(const QString &aDeviceId);
    bool readFile(const QString &aPath, QByteArray &aContent);
    bool isOwnCover(const QString &aPath);
    void removeEmptiedFolders(const QString &aFolder);

    std::shared_ptr<MtpSession> mSession;
    std::shared_ptr<QRecursiveMutex> mLock;
    QString mFriendlyName;
    MtpStorage mStorage;
    QSet<QString> mPlaylistsWritten;
    QString mUniqueDeviceId = TempDeviceId;
    int mCachedAndroidVersion = -1;
};
