#pragma once

#include "core/track.h"
#include "devices/device.h"
#include "devices/stagedcopyqueue.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <memory>

class QFile;
class QXmlStreamWriter;
class VolumeSource;

// A phone seen as a USB drive: every operation is a plain file operation under
// the drive's root folder.
class UsbMSDevice : public Device
{
public:
    static inline const QString MetadataPrefix = QStringLiteral("metadata");
    static inline const QString PlaylistHintFile = QStringLiteral("playlisthint");
    static inline const QString RefreshHintFile = QStringLiteral("refreshhint");
    static inline const QString PcVersionFile = QStringLiteral("pcversion.txt");
    static inline const QString AlbumArtFile = QStringLiteral("AlbumArt.jpg");

    UsbMSDevice(std::shared_ptr<VolumeSource> aSource, const QString &aRootPath,
                const QString &aDeviceName, bool aReadIdNow);
    ~UsbMSDevice() override;

    using Device::createPlaylist;

    int CopyFileToDevice(const QString &aLocalPath, const QString &aDevicePath,
                         bool aOverwrite) override;
    int GetAndroidVersion() override { return -1; }
    int GetDeviceType() override { return TypeUsbMassStorage; }
    void PrepareForSync() override;
    void FinalizeSync() override;
    bool IsMounted() override;
    int UploadTrack(Track &aTrack) override;
    int CommitUploads(QStringList &aFailedIds) override;
    QStringList CancelUploads() override;
    void SetCancelCheck(std::function<bool()> aCancelled) override;
    int DeleteTrack(Track &aTrack) override;
    QString UniqueDeviceId() override { return mUniqueDeviceId; }
    QString FriendlyName() override { return mFriendlyName; }
    int GetStorageCapacity(quint64 &aBytes) override;
    int GetFreeStorageSpace(quint64 &aBytes) override;
    void SetConfigured() override;
    bool IsConfigured() override;
    void createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                        bool aForceWrite) override;
    void removeOldPlaylists() override;
    void uploadAlbumArt(const Track &aTrack, const QString &aImagePath) override;
    void setPcSoftwareVersion(const QString &aVersion) override;

    // The drive's root folder, ending in the separator.
    QString rootPath() const { return mRootPath; }

private:
    void ReadOrGenerateUniqueDeviceId();
    QString dataFile(const QString &aName) const;
    // Folder of a track's album on the drive, and its device id prefix.
    QString trackFolder(const Track &aTrack, QString &aIdPrefix) const;
    bool insideDrive(const QString &aPath) const;
    void appendLine(const QString &aName, const QByteArray &aLine);
    void recordMetadata(const Track &aTrack);
    bool isOwnCover(const QString &aPath) const;
    void removeEmptiedFolders(const QString &aFolder);
    // Makes a folder and its parents and clears its leftovers, once a run.
    // With aMayStage a new folder is only noted: its tracks are made in a
    // staging folder that becomes it.
    bool makeFolder(const QString &aFolder, bool aMayStage = false);
    // Clears what interrupted copies left in a folder, once a run.
    void removeLeftovers(const QString &aFolder);
    void dropStaged(QStringList &aFailedIds);

    struct StagedUpload
    {
        QString mTemporary;
        QString mDestination;
        Track mTrack;
        // The copy's outcome, set by the queue's threads.
        StagedCopyQueue::Handle mCopy;
        QString mStagingFolder;
        // Given to an early flush, which names it if its data is flushed.
        bool mHandedOver = false;
        // Listed in the metadata file already.
        bool mRecorded = false;
    };
    static StagedCopyQueue::Placement placementOf(const StagedUpload &aStaged);
    // Where a copy for aDestination in aFolder is made: under its own name in
    // the staging folder of a new folder (aStaging set), else beside it.
    QString temporaryFor(const QString &aFolder, const QString &aDestination, QString &aStaging);
    void clearStaged();
    // Whether the upload staged for aDestination has its data; waits for it if queued.
    bool stagedCopySucceeded(const QString &aDestination);
    // Waits for the queued copies and drops those that failed; the worst result.
    int settleQueuedCopies(QStringList &aFailedIds);
    // Has the finished copies flushed and named in the background while more
    // are copied, leaving less for the commit to wait for.
    void placeFinishedCopies();

    QString mFriendlyName;
    QString mUniqueDeviceId = TempDeviceId;
    QString mRootPath;
    QSet<QString> mPlaylistsWritten;
    QSet<QString> mFoldersCleared;
    QSet<QString> mFoldersMade;
    // Folders this run created, and the files it staged: what such a folder can hold.
    QSet<QString> mFreshFolders;
    // New folders that exist so far only as staging folders, and the staging
    // folder each one's next tracks go into.
    QSet<QString> mUnbornFolders;
    QHash<QString, QString> mStagingFolders;
    QSet<QString> mPlacedThisRun;
    QList<StagedUpload> mStaged;
    QSet<QString> mStagedTemporaries;
    QHash<QString, qint64> mStagedSizes;
    // Declared after what its copies report into, so it is waited for first.
    StagedCopyQueue mCopies;
    static constexpr qint64 QueuedCopyBytes = qint64(1) << 20;
    // Staged data not yet asked to go to the medium.
    static constexpr int EarlyFlushFiles = 2000;
    static constexpr qint64 EarlyFlushBytes = qint64(64) << 20;
    int mUnflushedFiles = 0;
    qint64 mUnflushedBytes = 0;
    // mStaged before this index has no copy under way.
    qsizetype mHandOverFrom = 0;
    // Handed to the last early flush, to be listed once it has named them.
    QList<qsizetype> mAwaitingRecord;
    bool mIdRead = false;
    QMutex mLock;
    std::unique_ptr<QFile> mMetadataFile;
    std::unique_ptr<QXmlStreamWriter> mMetadataWriter;
    std::shared_ptr<VolumeSource> mSource;
};
