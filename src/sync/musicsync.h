#pragma once

#include "core/localplaylist.h"
#include "core/tracklist.h"
#include "sync/mp3conversionqueue.h"
#include "sync/mp3converter.h"
#include "sync/trackcache.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class Device;
class LocalMusicLibrary;
class MusicSyncThread;
class PowerInhibitor;
class SyncSettings;

// One synchronisation of one phone: works out what to delete and copy, asks
// the three questions, deletes, copies, writes the playlists and reports each
// step through signals. A new object is made for every run.
//
// The questions ConfirmDeleteTracks, DrmTracksFound and notEnoughSpace are
// emitted from the worker thread; connect them with Qt::BlockingQueuedConnection
// (or Qt::DirectConnection when calling Start on the object's own thread) and
// answer with setDeleteConfirmed / Cancel before the slot returns.
class MusicSync : public QObject
{
    Q_OBJECT
public:
    static constexpr int StateFinished = 2;
    static constexpr int StateFailed = 3;
    static constexpr int StateNotConfigured = 4;
    static constexpr int StateSettingsUnreadable = 5;
    static constexpr int StateCancelled = 6;
    static constexpr int StatePreparing = 9;
    static constexpr int StateUpdatingAlbumArt = 11;
    static constexpr int StateDeleting = 12;
    static constexpr int StateCopying = 13;
    static constexpr int StateUpdatingPlaylists = 15;
    // No state reported yet.
    static constexpr int StateIdle = 0;

    static inline const QString PcSoftwareVersion = QStringLiteral("123");

    MusicSync(LocalMusicLibrary *aLibrary, Device *aDevice, QObject *aParent = nullptr);
    // Cancels a run still working and waits for its thread.
    ~MusicSync() override;
    MusicSync(const MusicSync &) = delete;
    MusicSync &operator=(const MusicSync &) = delete;

    // Starts the run on the worker thread; runFinished follows in every case.
    void StartInNewThread(bool aForceFullResync);
    // Runs on the calling thread, guarded like the worker thread's run, and
    // returns the final state. Used by tests and by MusicSyncThread.
    int runGuarded(bool aForceFullResync);
    // The run itself; exceptions and faults escape to the caller's guard.
    void Start();
    // From any thread; the run stops at its next check, a busy-library wait at once.
    void Cancel();
    bool isCancelled() const { return mCancelled.load(); }

    // Waits for the worker thread; true when it has ended (or never started).
    bool wait(int aTimeoutMs = -1);
    bool isRunning() const;
    bool hasFinished() const { return mFinished.load(); }

    const TrackList &TracksToDelete() const { return mTracksToDelete; }
    const TrackList &GetDrmTracks() const { return mDrmTracks; }
    const TrackList &GetNonCopiedTracks() const { return mNotCopied; }
    const TrackList &GetNonDeletedTracks() const { return mNotDeleted; }
    // Every track of interest of the run (phone's tracks first, then the library's).
    const TrackList &tracks() const { return mTracks; }
    const QList<LocalPlaylist> &phonePlaylists() const { return mPhonePlaylists; }

    void setDeleteConfirmed(bool aConfirmed) { mDeleteConfirmed.store(aConfirmed); }
    bool deleteConfirmed() const { return mDeleteConfirmed.load(); }

    // The last non-zero upload result, 0 when every upload succeeded.
    int lastError() const { return mLastError.load(); }
    int state() const { return mState.load(); }
    int percent() const { return mPercent.load(); }
    qint64 freeSpace() const { return mFreeSpace; }
    // Tracks copied or tried so far, failures included (GetNonCopiedTracks lists
    // those); tracks found already complete on the phone are not counted.
    int copiedCount() const { return mCopiedCount; }
    // Why the run ended with state 3, or empty.
    QString failureReason() const;
    // What the backup data step was asked to copy and could not, one line each.
    const QStringList &phoneDataFailures() const { return mPhoneDataFailures; }

    // The default is the system's inhibitor; tests give a fake. Set before starting.
    void setPowerInhibitor(std::unique_ptr<PowerInhibitor> aInhibitor);
    // The converter program; "ffmpeg" unless changed. Set before starting.
    void setConverterProgram(const QString &aProgram);

Q_SIGNALS:
    void ProgressUpdate(int a_state, int a_percent_complete);
    void ProgressUpdate(int a_state, int a_percent_complete, QString aTrackName);
    void ConfirmDeleteTracks();
    void DrmTracksFound();
    void notEnoughSpace(qint64 aAdditionalSpaceRequired);
    // The run has ended, whatever the way; aFinalState is 2, 3, 4, 5 or 6.
    void runFinished(int aFinalState);

private:
    friend class MusicSyncThread;

    bool hasBeenCancelled();
    void ChangeState(int aState);
    void UpdateProgress(int aTotal, int aDone, const QString &aText);
    void UpdateProgress(int aState, const QString &aText);
    void fail(const QString &aReason);
    void finishRun();
    void prepareDevice();
    // Finalises the device once, and only when it was prepared.
    void finalizeDevice();

    // Steps from the configuration to the end; false when the run has
    // already reported its end (finished, failed or deletion refused).
    bool runSteps(SyncSettings &aSettings);
    void removeCacheFiles(const SyncSettings &aSettings);
    // These two are false when the library could not be read.
    bool scanPlaylists(const SyncSettings &aSettings, QStringList aPlaylists, bool aAllMusic);
    bool addPodcasts(const SyncSettings &aSettings, QStringList aPodcasts, int aPodcastSetting);
    void checkSpace();
    void buildDeleteList();
    void deleteTracks();
    void writePlaylists();

    void Upload();
    void Upload(int aPosition);
    // Records the tracks whose uploads the device has made safe.
    void commitUploads();
    bool convertForUpload(int aPosition, const Track &aTrack, QString &aError);
    void stopCopying(const QString &aReason);
    void uploadAlbumArtForTrack(const Track &aTrack, bool aForce);
    void uploadAlbumArtForTrackInt(const Track &aTrack, bool aForce);
    bool updateAlbumArtForTracksAlreadyOnDevice();
    void updateForcedAlbumArt();

    Device *mDevice;
    std::atomic<int> mLastError{0};
    TrackList mTracks;
    TrackList mDrmTracks;
    TrackList mTracksToDelete;
    QList<int> mDeletePositions;
    MusicSyncThread *mThread;
    std::atomic<int> mPercent{0};
    QString mCurrentText;
    std::atomic<int> mState{StateIdle};
    std::atomic<bool> mDeleteConfirmed{false};
    LocalMusicLibrary *mLibrary;
    TrackCache mCache;
    std::atomic<bool> mCancelled{false};
    TrackList mNotCopied;
    TrackList mNotDeleted;
    qint64 mFreeSpace = 0;
    bool mAlbumArtEnabled = false;
    bool mForceFullResync = false;

    QString mDeviceId;
    QList<LocalPlaylist> mPhonePlaylists;
    QSet<QString> mAlbumsDone;
    int mCopiedCount = 0;
    // Tracks handed to the device, found in place or not; drives the percentage.
    int mHandedCount = 0;
    // Positions of uploads made but not yet committed by the device, and their bytes.
    QList<int> mPendingUploads;
    qint64 mPendingBytes = 0;
    QElapsedTimer mPendingSince;
    // Why copying stopped before the end (phone full, cache not writable), or empty.
    QString mCopyStopReason;
    bool mCacheOpen = false;
    bool mDevicePrepared = false;
    std::atomic<bool> mFinished{false};
    std::atomic<bool> mStarted{false};
    QString mFailureReason;
    QStringList mPhoneDataFailures;
    std::unique_ptr<PowerInhibitor> mInhibitor;
    Mp3Converter mConverter;
    // Converts the coming tracks while the current one is copied.
    std::unique_ptr<Mp3ConversionQueue> mConversions;
};
