#include "sync/musicsync.h"

#include "core/guardedregion.h"
#include "core/logger.h"
#include "devices/device.h"
#include "library/localmusiclibrary.h"
#include "settings/syncsettings.h"
#include "sync/albumartimage.h"
#include "sync/musicsyncthread.h"
#include "sync/phonedatacopy.h"
#include "sync/powerinhibitor.h"

#include <QFile>

#include <algorithm>

namespace {

bool isFinalState(int aState)
{
    return aState >= MusicSync::StateFinished && aState <= MusicSync::StateCancelled;
}

// Uploads are made safe in batches: each batch costs two waits on the phone's
// medium whatever its size, so batches are bounded by the work a killed run
// would repeat (bytes, or seconds of copying) rather than by a track count.
constexpr qint64 CommitEveryBytes = qint64(256) << 20;
constexpr int CommitEveryTracks = 20000;
constexpr qint64 CommitEveryMilliseconds = 5000;

QString phoneFullReason()
{
    return QStringLiteral("The phone is full: copying stopped. Free some space on the phone, or "
                          "choose fewer playlists, and synchronise again");
}

QString phoneGoneReason()
{
    return QStringLiteral("The phone was disconnected: copying stopped. Connect it again and "
                          "synchronise to copy the rest");
}

} // namespace

MusicSync::MusicSync(LocalMusicLibrary *aLibrary, Device *aDevice, QObject *aParent)
    : QObject(aParent), mDevice(aDevice), mThread(new MusicSyncThread(this)), mLibrary(aLibrary)
{
    LogScope scope("MusicSync::MusicSync");
    quint64 freeBytes = 0;
    if (mDevice && mDevice->GetFreeStorageSpace(freeBytes) == 0)
        mFreeSpace = qint64(freeBytes);
    Logger::instance().value("mFreeSpace", QString::number(mFreeSpace));
    mConverter.setCancelCheck([this] { return mCancelled.load(); });
}

MusicSync::~MusicSync()
{
    if (mThread->isRunning()) {
        Cancel();
        mThread->wait();
    }
}

void MusicSync::setPowerInhibitor(std::unique_ptr<PowerInhibitor> aInhibitor)
{
    mInhibitor = std::move(aInhibitor);
}

void MusicSync::setConverterProgram(const QString &aProgram)
{
    mConverter.setProgram(aProgram);
}

QString MusicSync::failureReason() const
{
    return mFailureReason;
}

void MusicSync::StartInNewThread(bool aForceFullResync)
{
    LogScope scope("MusicSync::StartInNewThread");
    mCancelled.store(false);
    mFinished.store(false);
    mStarted.store(true);
    mThread->setForceFullResync(aForceFullResync);
    mThread->start(QThread::InheritPriority);
}

bool MusicSync::wait(int aTimeoutMs)
{
    if (!mStarted.load())
        return true;
    return mThread->wait(aTimeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                        : QDeadlineTimer(aTimeoutMs));
}

bool MusicSync::isRunning() const
{
    return mStarted.load() && !mFinished.load();
}

void MusicSync::Cancel()
{
    LogScope scope("MusicSync::Cancel");
    mCancelled.store(true);
    if (mLibrary)
        mLibrary->setCancelled(true);
}

bool MusicSync::hasBeenCancelled()
{
    LogScope scope("MusicSync::hasBeenCancelled");
    return mCancelled.load();
}

void MusicSync::ChangeState(int aState)
{
    mState.store(aState);
    Logger::instance().value("ChangeState", aState);
    Q_EMIT ProgressUpdate(aState, mPercent.load());
}

void MusicSync::UpdateProgress(int aTotal, int aDone, const QString &aText)
{
    if (aTotal != 0)
        mPercent.store(int(qint64(aDone) * 100 / aTotal));
    mCurrentText = aText;
    Q_EMIT ProgressUpdate(mState.load(), mPercent.load(), aText);
}

void MusicSync::UpdateProgress(int aState, const QString &aText)
{
    if (aState != mState.load())
        ChangeState(aState);
    mCurrentText = aText;
    Q_EMIT ProgressUpdate(aState, mPercent.load(), aText);
}

void MusicSync::fail(const QString &aReason)
{
    Logger::instance().value("Run failed", aReason);
    mFailureReason = aReason;
    ChangeState(StateFailed);
}

int MusicSync::runGuarded(bool aForceFullResync)
{
    LogScope scope("MusicSync::runGuarded");
    mStarted.store(true);
    mFinished.store(false);
    mForceFullResync = aForceFullResync;
    if (mLibrary) {
        // Re-arm the library's waits, unless a Cancel has already arrived.
        mLibrary->setCancelled(false);
        if (mCancelled.load())
            mLibrary->setCancelled(true);
    }

    if (!GuardedRegion::run([this] { Start(); }))
        fail(QStringLiteral("An unexpected error stopped the run"));
    finishRun();
    return scope.ret(mState.load());
}

void MusicSync::finishRun()
{
    // A fault skips the releases that Start would have made.
    if (mCacheOpen) {
        mCache.close();
        mCacheOpen = false;
    }
    // Whatever the end, the files the device keeps open for the phone are completed.
    if (mDevicePrepared && !GuardedRegion::run([this] { finalizeDevice(); }))
        Logger::instance().text("Exception while finalising the device");
    if (mInhibitor)
        mInhibitor->release();
    if (!isFinalState(mState.load()))
        fail(QStringLiteral("The run ended without a final state"));
    if (mLibrary)
        mLibrary->setCancelled(false);
    mFinished.store(true);
    Q_EMIT runFinished(mState.load());
}

void MusicSync::prepareDevice()
{
    mDevice->PrepareForSync();
    mDevicePrepared = true;
}

void MusicSync::finalizeDevice()
{
    if (!mDevicePrepared)
        return;
    mDevicePrepared = false;
    mDevice->FinalizeSync();
}

void MusicSync::Start()
{
    LogScope scope("MusicSync::Start");
    Logger &log = Logger::instance();
    if (!mInhibitor)
        mInhibitor = PowerInhibitor::createDefault();
    if (!mInhibitor->acquire())
        log.text("Could not keep the machine awake; the run goes on");

    SyncSettings settings;
    const int loaded = settings.load();
    if (loaded != 0 && !hasBeenCancelled()) {
        log.text("Can't open settings");
        ChangeState(StateSettingsUnreadable);
    }
    mNotCopied.clear();
    mNotDeleted.clear();
    mDevice->setPcSoftwareVersion(PcSoftwareVersion);

    bool finalizeOnCancel = true;
    if (loaded == 0)
        finalizeOnCancel = runSteps(settings);

    if (finalizeOnCancel && hasBeenCancelled()) {
        finalizeDevice();
        ChangeState(StateCancelled);
    }
    mInhibitor->release();
}

bool MusicSync::runSteps(SyncSettings &aSettings)
{
    Logger &log = Logger::instance();
    QStringList playlists;
    QStringList podcasts;
    int podcastSetting = 0;
    bool allMusic = false;
    if (hasBeenCancelled())
        return true;
    mDeviceId = mDevice->UniqueDeviceId();
    log.value("deviceId", mDeviceId);
    const int config =
        aSettings.getConfig(mDeviceId, allMusic, podcastSetting, playlists, podcasts);
    if (config != 0) {
        log.text("Could not get config");
        if (config == SyncSettings::DeviceNotConfigured && !hasBeenCancelled())
            ChangeState(StateNotConfigured);
        return true;
    }
    mAlbumArtEnabled = aSettings.enableArtworkSync(mDeviceId);
    // Only now: a phone that is not configured gets no metadata file to finish.
    prepareDevice();

    if (!hasBeenCancelled()) {
        log.text("Preparing to sync");
        ChangeState(StatePreparing);
        if (mForceFullResync)
            removeCacheFiles(aSettings);
    }
    if (!hasBeenCancelled()) {
        PhoneDataCopy step(
            *mDevice, mDeviceId, [this] { return hasBeenCancelled(); },
            [this](const QString &aText) { UpdateProgress(StatePreparing, aText); });
        mPhoneDataFailures = step.run();
    }
    if (hasBeenCancelled())
        return true;

    const int opened = mCache.open(mDeviceId);
    if (opened != 0 && opened != TrackCache::NewCacheCreated) {
        mCache.clear();
        finalizeDevice();
        fail(QStringLiteral("The track cache could not be opened (error ") +
             QString::number(opened) + QStringLiteral(")"));
        return false;
    }
    mCacheOpen = true;
    if (hasBeenCancelled()) {
        mCache.close();
        mCacheOpen = false;
        return true;
    }
    // Damage is cut off while reading; what is left is a disk that fails, and
    // records added after a part that cannot be read would never be read back.
    const int read = mCache.updateTrackList(mTracks);
    if (read != 0) {
        mCache.close();
        mCacheOpen = false;
        fail(QStringLiteral("The track cache could not be read (error ") + QString::number(read) +
             QStringLiteral(")"));
        return true;
    }

    QString unread;
    if (!scanPlaylists(aSettings, playlists, allMusic))
        unread = QStringLiteral("A playlist could not be read from the library");
    else if (!addPodcasts(aSettings, podcasts, podcastSetting))
        unread = QStringLiteral("The podcasts could not be read from the library");
    if (!unread.isEmpty()) {
        // The tracks not read would otherwise be taken for unwanted ones and deleted.
        mCache.close();
        mCacheOpen = false;
        if (hasBeenCancelled())
            return true;
        finalizeDevice();
        fail(unread);
        return false;
    }
    checkSpace();

    if (!hasBeenCancelled()) {
        if (!mDrmTracks.isEmpty())
            Q_EMIT DrmTracksFound();
        log.text("Getting tracks to delete");
        buildDeleteList();
        if (!mTracksToDelete.isEmpty()) {
            Q_EMIT ConfirmDeleteTracks();
            if (!mDeleteConfirmed.load()) {
                log.text("Delete cancelled");
                mCache.close();
                mCacheOpen = false;
                finalizeDevice();
                ChangeState(StateCancelled);
                return false;
            }
        }
    }
    // Deletions first, so that no cover is placed for an album about to go.
    if (!hasBeenCancelled()) {
        log.text("About to delete tracks");
        deleteTracks();
    }
    // A phone that went away takes no covers and no tracks.
    if (!hasBeenCancelled() && mCopyStopReason.isEmpty())
        updateForcedAlbumArt();
    if (!hasBeenCancelled() && mCopyStopReason.isEmpty()) {
        log.text("About to upload");
        Upload();
    }

    mCache.writeIntegrityValue();
    mCache.close();
    mCacheOpen = false;

    // A cancelled run reports only its cancellation.
    if (hasBeenCancelled())
        return true;
    // Playlists are not rewritten on a phone that has just run out of room or gone.
    if (mCopyStopReason.isEmpty())
        writePlaylists();
    finalizeDevice();
    if (!mCopyStopReason.isEmpty()) {
        fail(mCopyStopReason);
        return false;
    }
    mPercent.store(100);
    ChangeState(StateFinished);
    log.text("Sync done");
    return false;
}

void MusicSync::removeCacheFiles(const SyncSettings &aSettings)
{
    LogScope scope("MusicSync::removeCacheFiles");
    QString cacheFile;
    if (aSettings.getCacheFilename(mDeviceId, cacheFile) != 0 || cacheFile.isEmpty())
        return;
    Logger::instance().value("Removing cache", cacheFile);
    QFile::remove(cacheFile);
    QFile::remove(cacheFile + QLatin1Char('p'));
}

bool MusicSync::scanPlaylists(const SyncSettings &aSettings, QStringList aPlaylists, bool aAllMusic)
{
    LogScope scope("MusicSync::scanPlaylists");
    Logger &log = Logger::instance();
    if (aAllMusic) {
        int listed = 0;
        mLibrary->refreshPlaylists(&listed);
        // Playlists missing from the listing would be emptied on the phone.
        if (listed != 0)
            return false;
        log.text("Synchronizing to entire library");
        const QStringList names = mLibrary->playlists();
        for (const QString &name : names) {
            if (name.isEmpty())
                continue;
            log.value("Adding playlist", name);
            aPlaylists.append(name);
        }
    }
    const bool convert = aSettings.convertAacToMp3(mDeviceId);
    for (const QString &name : std::as_const(aPlaylists)) {
        log.text("Scanning local playlist");
        log.value("wSyncPlaylistName", name);
        LocalPlaylist playlist;
        qint64 size = 0;
        const int result =
            mLibrary->getAllTracks(name, mTracks, size, convert, mDrmTracks, playlist);
        if (result != 0) {
            log.value("Reading the playlist failed", result);
            // A playlist gone from the library is a choice; a failed read is not.
            if (result != LocalMusicLibrary::PlaylistNotFound)
                return false;
        }
        playlist.mName = name;
        mPhonePlaylists.append(playlist);
    }
    return true;
}

bool MusicSync::addPodcasts(const SyncSettings &aSettings, QStringList aPodcasts,
                            int aPodcastSetting)
{
    LogScope scope("MusicSync::addPodcasts");
    Logger &log = Logger::instance();
    if (aPodcastSetting == 1) {
        log.text("Synchronizing all podcasts");
        if (mLibrary->refreshPodcasts() != 0)
            return false;
        const QStringList names = mLibrary->podcasts();
        for (const QString &name : names) {
            log.value("playlistName", name);
            aPodcasts.append(name);
        }
    }
    const int episodesToKeep = aSettings.numberOfEpisodesToSync(mDeviceId);
    QList<LocalPlaylist> podcastPlaylists;
    TrackList episodes;
    if (mLibrary->getPodcasts(aPodcasts, podcastPlaylists, episodes) != 0)
        return false;
    for (LocalPlaylist &podcast : podcastPlaylists) {
        std::stable_sort(podcast.mEntries.begin(), podcast.mEntries.end(),
                         [](const LocalPlaylistEntry &aLeft, const LocalPlaylistEntry &aRight) {
                             return aLeft.mDateAdded > aRight.mDateAdded;
                         });
        if (episodesToKeep > 0 && podcast.mEntries.size() > episodesToKeep)
            podcast.mEntries.resize(episodesToKeep);
        for (LocalPlaylistEntry &entry : podcast.mEntries)
            entry.mTrack = mTracks.addTrack(episodes.at(entry.mTrack));
        mPhonePlaylists.append(podcast);
    }
    return true;
}

void MusicSync::checkSpace()
{
    const qint64 needed = mTracks.totalLocalSizeToSync() - mTracks.totalSizeOnDevice();
    Logger::instance().value("Space needed", QString::number(needed));
    if (needed > mFreeSpace && !mForceFullResync && !hasBeenCancelled())
        Q_EMIT notEnoughSpace(needed - mFreeSpace);
}

void MusicSync::buildDeleteList()
{
    mTracksToDelete.clear();
    mDeletePositions.clear();
    for (int i = 0; i < mTracks.count(); ++i) {
        const Track &track = mTracks.at(i);
        if (track.mOnRemoteDevice && !track.mOnLocalSyncPlaylist) {
            mTracksToDelete.append(track);
            mDeletePositions.append(i);
        }
    }
    Logger::instance().value("Tracks to delete", mTracksToDelete.count());
}

void MusicSync::deleteTracks()
{
    LogScope scope("MusicSync::deleteTracks");
    Logger &log = Logger::instance();
    // Two tracks of one album with the same file name share one file on the
    // phone; it stays while a wanted track uses it. FAT ignores case.
    QSet<QString> filesInUse;
    for (int i = 0; i < mTracks.count(); ++i) {
        const Track &track = mTracks.at(i);
        if (track.mOnRemoteDevice && track.mOnLocalSyncPlaylist)
            filesInUse.insert(track.mDeviceId.toCaseFolded());
    }
    for (int i = 0; i < mTracksToDelete.count(); ++i) {
        if (hasBeenCancelled())
            break;
        Track &track = mTracksToDelete.at(i);
        UpdateProgress(StateDeleting, track.mTrackName);
        if (filesInUse.contains(track.mDeviceId.toCaseFolded())) {
            log.value("File kept for another track", track.mDeviceId);
            track.mOnRemoteDevice = false;
        } else if (const int deleted = mDevice->DeleteTrack(track); deleted != 0) {
            log.value("Track not deleted", track.mTrackName);
            mNotDeleted.append(track);
            if (deleted != Device::Disconnected)
                continue;
            stopCopying(phoneGoneReason());
            break;
        }
        // A cache that still claims the file would make the next run skip the track.
        if (mCache.removeDeletedTrack(track) != 0) {
            log.value("Deleted track not recorded", track.mTrackName);
            mNotDeleted.append(track);
        }
        // The run's own record must no longer claim the deleted file.
        Track &own = mTracks.at(mDeletePositions.at(i));
        own.mOnRemoteDevice = track.mOnRemoteDevice;
        own.mInCache = track.mInCache;
    }
}

void MusicSync::writePlaylists()
{
    LogScope scope("MusicSync::writePlaylists");
    for (const LocalPlaylist &playlist : std::as_const(mPhonePlaylists)) {
        if (playlist.mName.isEmpty())
            continue;
        UpdateProgress(StateUpdatingPlaylists, playlist.mName);
        mDevice->createPlaylist(playlist, mTracks, mForceFullResync);
    }
    mDevice->removeOldPlaylists();
}

void MusicSync::updateForcedAlbumArt()
{
    SyncSettings settings;
    if (settings.load() != 0 || !settings.forceArtworkSync(mDeviceId))
        return;
    if (!updateAlbumArtForTracksAlreadyOnDevice())
        return;
    SyncSettings latest;
    if (latest.load() != 0)
        return;
    latest.setForceArtworkSync(mDeviceId, false);
    latest.save();
}

bool MusicSync::updateAlbumArtForTracksAlreadyOnDevice()
{
    LogScope scope("MusicSync::updateAlbumArtForTracksAlreadyOnDevice");
    ChangeState(StateUpdatingAlbumArt);
    for (int i = 0; i < mTracks.count(); ++i) {
        const Track &track = mTracks.at(i);
        if (!track.mOnRemoteDevice || mAlbumsDone.contains(track.mArtistName + track.mAlbumName))
            continue;
        UpdateProgress(StateUpdatingAlbumArt,
                       track.mAlbumName + QStringLiteral(" - ") + track.mArtistName);
        uploadAlbumArtForTrack(track, true);
    }
    return true;
}

void MusicSync::Upload()
{
    LogScope scope("MusicSync::Upload");
    Logger &log = Logger::instance();
    log.value("Tracks to copy", mTracks.totalTracksToCopy());
    mConversions = std::make_unique<Mp3ConversionQueue>(mConverter.program(),
                                                        [this] { return mCancelled.load(); });
    for (int i = mTracks.count() - 1; i >= 0; --i) {
        const Track &track = mTracks.at(i);
        if (track.mOnLocalSyncPlaylist && !track.mOnRemoteDevice && track.needsConversion())
            mConversions->add(i, track.mPath, track.mConversionBitRate);
    }
    mConversions->start();
    for (int i = mTracks.count() - 1; i >= 0; --i) {
        if (hasBeenCancelled() || !mCopyStopReason.isEmpty())
            break;
        const Track &track = mTracks.at(i);
        if (!track.mOnLocalSyncPlaylist || track.mOnRemoteDevice)
            continue;
        const int copiedBefore = mCopiedCount;
        if (GuardedRegion::run([this, i] { Upload(i); })) {
            if (mPendingBytes >= CommitEveryBytes || mPendingUploads.size() >= CommitEveryTracks ||
                (!mPendingUploads.isEmpty() && mPendingSince.hasExpired(CommitEveryMilliseconds)))
                commitUploads();
            continue;
        }
        log.value("Exception while copying track index", i);
        // A track abandoned half way must not pass for copied.
        if (mCopiedCount == copiedBefore)
            ++mCopiedCount;
        if (!mPendingUploads.contains(i)) {
            Track &abandoned = mTracks.at(i);
            abandoned.mOnRemoteDevice = false;
            mNotCopied.append(abandoned);
            mLastError.store(Device::CopyFailed);
        }
    }
    mConversions.reset();
    // Also after a cancel: what was copied is kept and recorded.
    commitUploads();
}

void MusicSync::Upload(int aPosition)
{
    LogScope scope("MusicSync::Upload(int)");
    Logger &log = Logger::instance();
    log.value("Checking whether to copy track", aPosition);
    Track &track = mTracks.at(aPosition);
    if (!track.mOnLocalSyncPlaylist || track.mOnRemoteDevice)
        return;

    if (mState.load() != StateCopying)
        ChangeState(StateCopying);
    if (track.mTrackName.isNull())
        log.text("NULL trackName");
    UpdateProgress(mTracks.totalTracksToCopy(), mHandedCount, track.mTrackName);
    log.value("Uploading track index", aPosition);

    if (track.needsConversion()) {
        log.text("Coverting to MP3");
        QString error;
        if (!convertForUpload(aPosition, track, error)) {
            if (hasBeenCancelled()) {
                log.text("Has been cancelled");
                return;
            }
            ++mHandedCount;
            ++mCopiedCount;
            mNotCopied.append(track);
            mLastError.store(Device::CopyFailed);
            log.text("Track not copied");
            log.value("Conversion failed", error);
            return;
        }
    }
    if (hasBeenCancelled()) {
        log.text("Has been cancelled");
        return;
    }

    log.text("About to upload track");
    track.dump();
    const int result = mDevice->UploadTrack(track);
    ++mHandedCount;
    if (result != Device::AlreadyOnDevice)
        ++mCopiedCount;
    if (track.needsConversion())
        QFile::remove(Track::conversionOutputPath());
    if (result == 0 || result == Device::AlreadyOnDevice) {
        // Only now does the track have its path on the phone, which the cover's hint names.
        uploadAlbumArtForTrack(track, false);
        if (mPendingUploads.isEmpty())
            mPendingSince.start();
        mPendingUploads.append(aPosition);
        mPendingBytes += track.mSizeOnDevice;
        log.text(result == 0 ? "Track copied" : "Track already on the phone");
        return;
    }
    mNotCopied.append(track);
    log.text("Track not copied");
    log.value("err", result);
    mLastError.store(result);
    if (result == Device::DeviceFull)
        stopCopying(phoneFullReason());
    else if (result == Device::Disconnected)
        stopCopying(phoneGoneReason());
}

bool MusicSync::convertForUpload(int aPosition, const Track &aTrack, QString &aError)
{
    if (!mConversions || !mConversions->contains(aPosition)) {
        const bool converted = mConverter.convert(aTrack);
        aError = mConverter.lastError();
        return converted;
    }
    QString output;
    if (!mConversions->take(aPosition, output, aError))
        return false;
    const QString uploaded = Track::conversionOutputPath();
    QFile::remove(uploaded);
    if (QFile::rename(output, uploaded))
        return true;
    QFile::remove(output);
    aError = QStringLiteral("cannot move the converted file to ") + uploaded;
    return false;
}

void MusicSync::commitUploads()
{
    if (mPendingUploads.isEmpty())
        return;
    LogScope scope("MusicSync::commitUploads");
    Logger &log = Logger::instance();
    QStringList failed;
    int result = Device::CopyFailed;
    if (!GuardedRegion::run([&] { result = mDevice->CommitUploads(failed); })) {
        log.text("Exception while committing uploads");
        result = Device::CopyFailed;
        for (const int position : std::as_const(mPendingUploads))
            failed.append(mTracks.at(position).mDeviceId);
    }
    log.value("CommitUploads result", result);
    const QSet<QString> failedIds(failed.cbegin(), failed.cend());
    QList<Track *> placed;
    placed.reserve(mPendingUploads.size());
    for (const int position : std::as_const(mPendingUploads)) {
        Track &track = mTracks.at(position);
        if (!failedIds.contains(track.mDeviceId)) {
            placed.append(&track);
            continue;
        }
        track.mOnRemoteDevice = false;
        track.mDeviceId.clear();
        track.mSizeOnDevice = 0;
        mNotCopied.append(track);
        mLastError.store(result != 0 ? result : Device::CopyFailed);
    }
    const int recorded = mCache.addTracks(placed);
    if (recorded != 0) {
        // The files are on the phone; the next run finds them there and records them.
        log.value("Tracks not recorded in the cache", recorded);
        stopCopying(QStringLiteral("The track cache on this computer could not be written "
                                   "(error %1), so copying stopped. Make room on this "
                                   "computer's disk and synchronise again")
                        .arg(recorded));
    }
    mPendingUploads.clear();
    mPendingBytes = 0;
    if (result == Device::DeviceFull)
        stopCopying(phoneFullReason());
    else if (result == Device::Disconnected)
        stopCopying(phoneGoneReason());
}

void MusicSync::stopCopying(const QString &aReason)
{
    if (!mCopyStopReason.isEmpty())
        return;
    Logger::instance().value("Copying stopped", aReason);
    mCopyStopReason = aReason;
}

void MusicSync::uploadAlbumArtForTrack(const Track &aTrack, bool aForce)
{
    if (!GuardedRegion::run([&] { uploadAlbumArtForTrackInt(aTrack, aForce); }))
        Logger::instance().text("Exception while placing album art");
}

void MusicSync::uploadAlbumArtForTrackInt(const Track &aTrack, bool aForce)
{
    LogScope scope("MusicSync::uploadAlbumArtForTrackInt");
    Logger &log = Logger::instance();
    // Nothing would be placed, so the artwork is not even looked up.
    if (!mAlbumArtEnabled && !aForce)
        return;
    const QString albumKey = aTrack.mArtistName + aTrack.mAlbumName;
    if (mAlbumsDone.contains(albumKey))
        return;
    const QString artworkPath = mLibrary->generateArtwork(aTrack);
    log.value("artworkPath", artworkPath);
    if (artworkPath.isEmpty())
        return;
    const QString imagePath = AlbumArtImage::defaultPath();
    if (!AlbumArtImage::prepare(artworkPath, imagePath))
        return;
    mDevice->uploadAlbumArt(aTrack, imagePath);
    mAlbumsDone.insert(albumKey);
}
