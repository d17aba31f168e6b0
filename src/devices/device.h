#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class Track;
class TrackList;
struct LocalPlaylist;

// One storage area of a phone. The sync run writes only through this interface;
// the transports implement the pure operations. Declaration order is the order
// of the operations of the interface and is kept on purpose.
class Device
{
public:
    static constexpr int TypeMtp = 1;
    static constexpr int TypeUsbMassStorage = 2;

    static constexpr int CopyFailed = -6005;
    static constexpr int DeleteFailed = -6006;
    static constexpr int MakeFolderFailed = -6008;
    // The phone has no room left: later uploads would fail the same way.
    static constexpr int DeviceFull = -6009;
    // UploadTrack found the track's file already there, complete; counts as success.
    static constexpr int AlreadyOnDevice = -6010;
    // The phone went away (unplugged, USB error): every later operation would fail too.
    static constexpr int Disconnected = -6011;

    static inline const QString TempDeviceId = QStringLiteral("TEMP-DEVICE-ID");
    static inline const QString MusicFolder = QStringLiteral("Music");
    static inline const QString PlaylistFolder = QStringLiteral("Playlists_KVL");
    static inline const QString DataFolder = QStringLiteral("VARUZ");
    static inline const QString UniqueIdFile = QStringLiteral("uniqueid");
    // Written into every cover the program makes, so that a device can tell
    // its own covers from the user's.
    static inline const QString CoverMark = QStringLiteral("Mobrelay album cover");

    Device() = default;
    virtual ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // 0 when the file is on the phone (an existing one is kept unless
    // aOverwrite), CopyFailed otherwise.
    virtual int CopyFileToDevice(const QString &aLocalPath, const QString &aDevicePath,
                                 bool aOverwrite) = 0;
    virtual int GetAndroidVersion() = 0;
    virtual int GetDeviceType() = 0;
    virtual void PrepareForSync() = 0;
    virtual void FinalizeSync() = 0;
    virtual bool IsMounted() = 0;
    // A transport may stage the upload: the track is marked as on the phone, but
    // its file is only safe there once CommitUploads has returned.
    virtual int UploadTrack(Track &aTrack) = 0;
    // Makes every staged upload durable under its final name, folder entry
    // included. Returns 0, or the first failure with the device ids of the
    // uploads that did not make it in aFailedIds (no partial file is left
    // under their names). The default has nothing staged.
    virtual int CommitUploads(QStringList &aFailedIds);
    // Removes the track's file; on success the track is no longer on the phone
    // and the caller updates its own records.
    virtual int DeleteTrack(Track &aTrack) = 0;
    virtual QString UniqueDeviceId() = 0;
    virtual QString FriendlyName() = 0;
    virtual int GetStorageCapacity(quint64 &aBytes) = 0;
    virtual int GetFreeStorageSpace(quint64 &aBytes) = 0;
    virtual void SetConfigured() = 0;
    virtual bool IsConfigured();
    // Writes the playlist as an M3U file at a local path; always returns 0.
    virtual int createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                               bool aForceWrite, const QString &aLocalPath);
    virtual void createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                                bool aForceWrite) = 0;
    virtual void removeOldPlaylists() = 0;
    virtual void uploadAlbumArt(const Track &aTrack, const QString &aImagePath) = 0;
    virtual void setPcSoftwareVersion(const QString &aVersion) = 0;
    virtual QStringList SplitPath(const QString &aPath) const;
    virtual void GetFolderNamesForTrack(const Track &aTrack, QString &aArtistFolder,
                                        QString &aAlbumFolder) const;
    // The track's file name on the phone: the local name made safe, with the
    // extension replaced by "mp3" when the track is converted.
    QString fileNameForTrack(const Track &aTrack) const;
    virtual bool identicalPlaylistAlreadyExists(const QString &aLocalPath,
                                                const LocalPlaylist &aPlaylist,
                                                const TrackList &aTracks) const;
    virtual QString PlaylistEntryPath(const QString &aDeviceId) const;

    // Line number of this storage's entry in the settings file, -1 without one.
    int configuredOrder();

    bool isDisabled() const { return mDisabled; }
    void setDisabled(bool aDisabled) { mDisabled = aDisabled; }

    // ".." + PlaylistEntryPath(device id): the path line of a playlist entry.
    QString playlistLine(const QString &aDeviceId) const;
    // Replaces what FAT and exFAT refuse in one name (control characters,
    // \ / : * ? " < > | and the names "." and ".."); any other name is returned unchanged.
    static QString fatSafeName(const QString &aName);
    // The name of a playlist's file: the playlist name made safe, plus ".m3u".
    static QString playlistFileName(const QString &aPlaylistName);
    // A new id for SetConfigured: milliseconds, seconds, minutes, hours, day,
    // month, then a literal "Y".
    static QString newUniqueDeviceId();

private:
    bool mDisabled = false;
};
