#include "devices/usbmsdevice.h"

#include "core/localplaylist.h"
#include "core/logger.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "devices/safefilecopy.h"
#include "devices/volumesource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QXmlStreamWriter>

UsbMSDevice::UsbMSDevice(std::shared_ptr<VolumeSource> aSource, const QString &aRootPath,
                         const QString &aDeviceName, bool aReadIdNow)
    : mFriendlyName(aDeviceName), mRootPath(aRootPath), mSource(std::move(aSource))
{
    if (!mRootPath.endsWith(QLatin1Char('/')))
        mRootPath += QLatin1Char('/');
    if (aReadIdNow) {
        ReadOrGenerateUniqueDeviceId();
        mIdRead = true;
    }
}

UsbMSDevice::~UsbMSDevice() = default;

QString UsbMSDevice::dataFile(const QString &aName) const
{
    return mRootPath + DataFolder + QLatin1Char('/') + aName;
}

void UsbMSDevice::ReadOrGenerateUniqueDeviceId()
{
    LogScope scope("UsbMSDevice::ReadOrGenerateUniqueDeviceId");
    QFile file(dataFile(UniqueIdFile));
    mUniqueDeviceId =
        file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : TempDeviceId;
    Logger::instance().value("mUniqueDeviceId", mUniqueDeviceId);
}

void UsbMSDevice::SetConfigured()
{
    LogScope scope("UsbMSDevice::SetConfigured");
    Logger &log = Logger::instance();
    const QString path = dataFile(UniqueIdFile);
    if (QFileInfo::exists(path)) {
        // The phone keeps the id it has: its cache on this computer is named by it.
        ReadOrGenerateUniqueDeviceId();
        return;
    }
    log.text("UID file doesn't exist - creating one");
    mUniqueDeviceId = newUniqueDeviceId();
    log.value("mkpath result", QDir().mkpath(mRootPath + DataFolder) ? "true" : "false");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(mUniqueDeviceId.toLatin1());
}

bool UsbMSDevice::IsConfigured()
{
    ReadOrGenerateUniqueDeviceId();
    return Device::IsConfigured();
}

bool UsbMSDevice::IsMounted()
{
    quint64 total = 0;
    quint64 free = 0;
    const bool mounted = mSource && mSource->diskSpace(mRootPath, total, free);
    if (mounted && !mIdRead)
        ReadOrGenerateUniqueDeviceId();
    return mounted;
}

int UsbMSDevice::GetStorageCapacity(quint64 &aBytes)
{
    quint64 free = 0;
    if (!mSource || !mSource->diskSpace(mRootPath, aBytes, free))
        aBytes = 0;
    return 0;
}

int UsbMSDevice::GetFreeStorageSpace(quint64 &aBytes)
{
    quint64 total = 0;
    if (!mSource || !mSource->diskSpace(mRootPath, total, aBytes))
        aBytes = 0;
    return 0;
}

void UsbMSDevice::PrepareForSync()
{
    LogScope scope("UsbMSDevice::PrepareForSync");
    mPlaylistsWritten.clear();
    mFoldersCleared.clear();
    mFoldersMade.clear();
    mFreshFolders.clear();
    mUnbornFolders.clear();
    mStagingFolders.clear();
    mPlacedThisRun.clear();
    if (mMetadataFile)
        return;
    QString path;
    for (int n = 0;; ++n) {
        path = dataFile(MetadataPrefix + QString::number(n) + QStringLiteral(".xml"));
        if (!QFileInfo::exists(path))
            break;
    }
    Logger::instance().value("Metadata file", path);
    mMetadataFile = std::make_unique<QFile>(path);
    if (!mMetadataFile->open(QIODevice::ReadWrite | QIODevice::Text))
        return;
    mMetadataWriter = std::make_unique<QXmlStreamWriter>(mMetadataFile.get());
    mMetadataWriter->writeStartDocument();
    mMetadataWriter->writeStartElement(QStringLiteral("metadata"));
}

void UsbMSDevice::FinalizeSync()
{
    LogScope scope("UsbMSDevice::FinalizeSync");
    if (mMetadataWriter) {
        mMetadataWriter->writeEndElement();
        mMetadataWriter->writeEndDocument();
        mMetadataFile->close();
    }
    // A file that would not open is dropped too, so the next run tries again.
    mMetadataWriter.reset();
    mMetadataFile.reset();
}

void UsbMSDevice::recordMetadata(const Track &aTrack)
{
    if (!mMetadataWriter)
        return;
    QString path = aTrack.mDeviceId.normalized(QString::NormalizationForm_C);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QXmlStreamWriter &writer = *mMetadataWriter;
    writer.writeEmptyElement(QStringLiteral("track"));
    writer.writeAttribute(QStringLiteral("path"), path);
    writer.writeAttribute(QStringLiteral("artist"),
                          aTrack.mArtistName.normalized(QString::NormalizationForm_C));
    writer.writeAttribute(QStringLiteral("album"),
                          aTrack.mAlbumName.normalized(QString::NormalizationForm_C));
    writer.writeAttribute(QStringLiteral("track_name"),
                          aTrack.mTrackName.normalized(QString::NormalizationForm_C));
    writer.writeAttribute(QStringLiteral("track_number"),
                          QString::number(aTrack.mTrackNumberOnAlbum));
}

QString UsbMSDevice::trackFolder(const Track &aTrack, QString &aIdPrefix) const
{
    QString artist;
    QString album;
    GetFolderNamesForTrack(aTrack, artist, album);
    artist = fatSafeName(artist);
    album = fatSafeName(album);
    QString folder = mRootPath + MusicFolder;
    aIdPrefix = QLatin1Char('/') + MusicFolder + QLatin1Char('/');
    for (const QString &part : {artist, album}) {
        if (part.isEmpty())
            continue;
        folder += QLatin1Char('/') + part;
        aIdPrefix += part + QLatin1Char('/');
    }
    return folder;
}

int UsbMSDevice::UploadTrack(Track &aTrack)
{
    LogScope scope("UsbMSDevice::UploadTrack");
    Logger &log = Logger::instance();
    aTrack.dump();
    QString deviceId;
    const QString folder = trackFolder(aTrack, deviceId);
    if (aTrack.needsConversion())
        log.text("Changing ext to mp3");
    const QString fileName = fileNameForTrack(aTrack);
    deviceId += fileName;

    int result = 0;
    const bool folderMade = makeFolder(folder, true);
    if (!folderMade) {
        result = MakeFolderFailed;
        log.text("Error making remote path");
    }
    const QFileInfo original(aTrack.mPath);
    const bool sourceExists = original.isFile();
    if (!sourceExists)
        log.text("Source file doesn't exist");

    const QString source = aTrack.uploadSourcePath();
    const qint64 size = source == aTrack.mPath ? original.size() : QFileInfo(source).size();
    const QString destination = folder + QLatin1Char('/') + fileName;
    // A folder this run made holds only what this run put there: no need to
    // look for the file on the drive.
    const bool mayExist = !mFreshFolders.contains(folder) || mPlacedThisRun.contains(destination);
    const QFileInfo existing = mayExist ? QFileInfo(destination) : QFileInfo();
    QString temporary;
    QString staging;
    StagedCopyQueue::Handle queued;
    bool inPlace = false;
    if (sourceExists && mStagedSizes.value(destination, -1) == size &&
        stagedCopySucceeded(destination)) {
        log.text("Destination file already being copied");
        inPlace = true;
    } else if (sourceExists && existing.isFile() && existing.size() == size) {
        log.text("Destination file already exists");
        inPlace = true;
    } else if (folderMade && sourceExists) {
        // A file of another size is an unfinished or outdated copy; the new one replaces it.
        log.text(existing.exists() ? "Replacing a file of the wrong size" : "Copying track");
        if (mCopies.sawNoSpace()) {
            result = DeviceFull;
        } else {
            temporary = temporaryFor(folder, destination, staging);
            if (source == aTrack.mPath && size < QueuedCopyBytes) {
                // Small files cost more to create than to write, which workers do
                // side by side; a large one is copied here, where a cancel stops
                // what follows it. The library's own file stays put while a worker
                // copies it; a converted file is removed once this call returns.
                queued = mCopies.add(source, temporary);
            } else if (const SafeFileCopy::Result copied = SafeFileCopy::stageAs(source, temporary);
                       copied == SafeFileCopy::Result::Done) {
                queued = std::make_shared<std::atomic<int>>(StagedCopyQueue::Done);
            } else {
                log.value("Copy failed", destination);
                temporary.clear();
                result = copied == SafeFileCopy::Result::NoSpace ? DeviceFull : CopyFailed;
            }
        }
    } else if (folderMade) {
        // Nothing was copied: reporting success would count the track as done.
        result = CopyFailed;
    }
    if (inPlace || !temporary.isEmpty()) {
        aTrack.mDeviceId = deviceId;
        aTrack.mOnRemoteDevice = true;
        aTrack.mSizeOnDevice = size;
    }
    if (inPlace) {
        result = AlreadyOnDevice;
        recordMetadata(aTrack);
    } else if (!temporary.isEmpty()) {
        mStaged.append({temporary, destination, aTrack, queued, staging});
        mPlacedThisRun.insert(destination);
        mStagedTemporaries.insert(temporary);
        mStagedSizes.insert(destination, size);
        mUnflushedBytes += size;
        if (++mUnflushedFiles >= EarlyFlushFiles || mUnflushedBytes >= EarlyFlushBytes)
            placeFinishedCopies();
    }
    log.value("UploadTrack result", result);
    return scope.ret(result);
}

int UsbMSDevice::CommitUploads(QStringList &aFailedIds)
{
    LogScope scope("UsbMSDevice::CommitUploads");
    Logger &log = Logger::instance();
    if (mStaged.isEmpty())
        return scope.ret(0);
    log.value("Staged uploads", int(mStaged.size()));
    int result = settleQueuedCopies(aFailedIds);
    QList<StagedCopyQueue::Placement> renames;
    QList<qsizetype> renamedAt(mStaged.size(), -1);
    for (qsizetype i = 0; i < mStaged.size(); ++i) {
        const StagedUpload &staged = mStaged.at(i);
        if (staged.mCopy->load() == StagedCopyQueue::Placed)
            continue;
        renamedAt[i] = renames.size();
        renames.append(placementOf(staged));
    }
    SafeFileCopy::Result flushed = SafeFileCopy::Result::Done;
    if (!renames.isEmpty())
        flushed = SafeFileCopy::flushFileSystem(mRootPath);
    if (flushed != SafeFileCopy::Result::Done) {
        log.text("Staged data could not be written to the phone");
        dropStaged(aFailedIds);
        return scope.ret(flushed == SafeFileCopy::Result::NoSpace ? DeviceFull : CopyFailed);
    }
    const QList<bool> done = mCopies.placeAll(renames);
    QList<Track> renamed;
    QList<bool> recorded;
    for (qsizetype i = 0; i < mStaged.size(); ++i) {
        const StagedUpload &staged = mStaged.at(i);
        if (renamedAt.at(i) < 0 || done.at(renamedAt.at(i))) {
            renamed.append(staged.mTrack);
            recorded.append(staged.mRecorded);
        } else {
            aFailedIds.append(staged.mTrack.mDeviceId);
            if (result == 0)
                result = CopyFailed;
        }
    }
    clearStaged();
    // The new names must be on the medium before anyone records them.
    flushed = SafeFileCopy::flushFileSystem(mRootPath);
    if (flushed != SafeFileCopy::Result::Done) {
        log.text("New names could not be written to the phone");
        for (const Track &track : std::as_const(renamed))
            aFailedIds.append(track.mDeviceId);
        return scope.ret(flushed == SafeFileCopy::Result::NoSpace ? DeviceFull : CopyFailed);
    }
    for (qsizetype i = 0; i < renamed.size(); ++i) {
        if (!recorded.at(i))
            recordMetadata(renamed.at(i));
    }
    return scope.ret(result);
}

QStringList UsbMSDevice::CancelUploads()
{
    LogScope scope("UsbMSDevice::CancelUploads");
    mCopies.dropUnstarted();
    QStringList dropped;
    for (auto it = mStaged.begin(); it != mStaged.end();) {
        if (!it->mCopy || it->mCopy->load() != StagedCopyQueue::Dropped) {
            ++it;
            continue;
        }
        dropped.append(it->mTrack.mDeviceId);
        mStagedTemporaries.remove(it->mTemporary);
        mStagedSizes.remove(it->mDestination);
        mPlacedThisRun.remove(it->mDestination);
        if (!it->mStagingFolder.isEmpty())
            QDir().rmdir(it->mStagingFolder);
        it = mStaged.erase(it);
    }
    mHandOverFrom = 0;
    mAwaitingRecord.clear();
    Logger::instance().value("Uploads dropped", int(dropped.size()));
    return dropped;
}

void UsbMSDevice::SetCancelCheck(std::function<bool()> aCancelled)
{
    mCopies.setCancelCheck(std::move(aCancelled));
}

bool UsbMSDevice::stagedCopySucceeded(const QString &aDestination)
{
    for (const StagedUpload &staged : std::as_const(mStaged)) {
        if (staged.mDestination != aDestination || !staged.mCopy)
            continue;
        // Rare (two tracks sharing one file): wait rather than trust a copy under way.
        if (staged.mCopy->load() == StagedCopyQueue::Pending)
            mCopies.waitForAll();
        const int outcome = staged.mCopy->load();
        return outcome == StagedCopyQueue::Done || outcome == StagedCopyQueue::Placed;
    }
    return true;
}

void UsbMSDevice::placeFinishedCopies()
{
    // Busy with the previous batch: tried again with the next track.
    if (mCopies.flushUnderWay())
        return;
    mUnflushedFiles = 0;
    mUnflushedBytes = 0;
    // The previous batch is on the phone: listed now rather than all at the commit.
    for (const qsizetype i : std::as_const(mAwaitingRecord)) {
        StagedUpload &staged = mStaged[i];
        if (staged.mCopy->load() == StagedCopyQueue::Placed) {
            recordMetadata(staged.mTrack);
            staged.mRecorded = true;
        }
    }
    mAwaitingRecord.clear();
    // A staging folder goes whole, once nothing is still being copied into it
    // and the tracks have moved on to another album.
    QSet<QString> unsettled;
    if (!mStaged.isEmpty())
        unsettled.insert(mStaged.last().mStagingFolder);
    for (qsizetype i = mHandOverFrom; i < mStaged.size(); ++i) {
        if (mStaged.at(i).mCopy->load() == StagedCopyQueue::Pending)
            unsettled.insert(mStaged.at(i).mStagingFolder);
    }
    QList<StagedCopyQueue::Placement> finished;
    QList<qsizetype> positions;
    qsizetype firstLeft = mStaged.size();
    for (qsizetype i = mHandOverFrom; i < mStaged.size(); ++i) {
        const StagedUpload &staged = mStaged.at(i);
        if (staged.mHandedOver)
            continue;
        const int outcome = staged.mCopy->load();
        const bool waits =
            outcome == StagedCopyQueue::Pending ||
            (!staged.mStagingFolder.isEmpty() && unsettled.contains(staged.mStagingFolder));
        if (waits) {
            firstLeft = std::min(firstLeft, i);
        } else if (outcome == StagedCopyQueue::Done) {
            finished.append(placementOf(staged));
            positions.append(i);
        }
    }
    if (!mCopies.flushEarly(mRootPath, finished))
        return;
    mAwaitingRecord = positions;
    for (const qsizetype i : std::as_const(positions)) {
        StagedUpload &staged = mStaged[i];
        staged.mHandedOver = true;
        // Later tracks of that album go into a folder of their own.
        const QString folder =
            staged.mDestination.left(staged.mDestination.lastIndexOf(QLatin1Char('/')));
        if (!staged.mStagingFolder.isEmpty() &&
            mStagingFolders.value(folder) == staged.mStagingFolder)
            mStagingFolders.remove(folder);
    }
    mHandOverFrom = firstLeft;
}

StagedCopyQueue::Placement UsbMSDevice::placementOf(const StagedUpload &aStaged)
{
    return {aStaged.mTemporary, aStaged.mDestination, aStaged.mCopy, aStaged.mStagingFolder};
}

QString UsbMSDevice::temporaryFor(const QString &aFolder, const QString &aDestination,
                                  QString &aStaging)
{
    aStaging.clear();
    // A second copy to one name keeps a name of its own, made in the real folder.
    if (mUnbornFolders.contains(aFolder) && !mStagedSizes.contains(aDestination)) {
        QString &staging = mStagingFolders[aFolder];
        if (staging.isEmpty()) {
            staging = SafeFileCopy::temporaryName(aFolder);
            if (QDir().mkdir(staging))
                mStagedTemporaries.insert(staging);
            else
                staging.clear();
        }
        if (!staging.isEmpty()) {
            aStaging = staging;
            return staging + aDestination.mid(aFolder.size());
        }
        mStagingFolders.remove(aFolder);
    }
    if (mUnbornFolders.contains(aFolder))
        makeFolder(aFolder);
    return SafeFileCopy::temporaryName(aDestination);
}

void UsbMSDevice::clearStaged()
{
    // Staging folders still there are empty: all their copies failed or moved.
    QString last;
    for (const StagedUpload &staged : std::as_const(mStaged)) {
        if (staged.mStagingFolder.isEmpty() || staged.mStagingFolder == last)
            continue;
        last = staged.mStagingFolder;
        QDir().rmdir(last);
    }
    mStaged.clear();
    mStagedTemporaries.clear();
    mStagedSizes.clear();
    mStagingFolders.clear();
    mAwaitingRecord.clear();
    mHandOverFrom = 0;
}

int UsbMSDevice::settleQueuedCopies(QStringList &aFailedIds)
{
    mCopies.waitForAll();
    int result = 0;
    for (auto it = mStaged.begin(); it != mStaged.end();) {
        const int outcome = it->mCopy->load();
        if (outcome == StagedCopyQueue::Done || outcome == StagedCopyQueue::Placed) {
            ++it;
            continue;
        }
        Logger::instance().value("Copy failed", it->mDestination);
        aFailedIds.append(it->mTrack.mDeviceId);
        if (outcome == StagedCopyQueue::NoSpace)
            result = DeviceFull;
        else if (result == 0)
            result = CopyFailed;
        mStagedTemporaries.remove(it->mTemporary);
        mStagedSizes.remove(it->mDestination);
        if (!it->mStagingFolder.isEmpty())
            QDir().rmdir(it->mStagingFolder);
        it = mStaged.erase(it);
    }
    return result;
}

void UsbMSDevice::dropStaged(QStringList &aFailedIds)
{
    mCopies.waitForAll();
    for (const StagedUpload &staged : std::as_const(mStaged)) {
        if (staged.mCopy->load() != StagedCopyQueue::Placed)
            QFile::remove(staged.mTemporary);
        aFailedIds.append(staged.mTrack.mDeviceId);
    }
    clearStaged();
}

bool UsbMSDevice::makeFolder(const QString &aFolder, bool aMayStage)
{
    if (mFoldersMade.contains(aFolder)) {
        if (aMayStage || !mUnbornFolders.contains(aFolder))
            return true;
        // Wanted for real now; what is staged for it moves in file by file.
        mUnbornFolders.remove(aFolder);
        mStagingFolders.remove(aFolder);
        return QDir().mkpath(aFolder);
    }
    const bool existed = QFileInfo(aFolder).isDir();
    const QString parent = QFileInfo(aFolder).path();
    if (!existed && aMayStage && parent.size() + 1 >= mRootPath.size() && makeFolder(parent)) {
        mFoldersMade.insert(aFolder);
        mFreshFolders.insert(aFolder);
        mUnbornFolders.insert(aFolder);
        return true;
    }
    if (!existed && (!QDir().mkpath(aFolder) || !QFileInfo(aFolder).isDir()))
        return false;
    mFoldersMade.insert(aFolder);
    if (existed)
        removeLeftovers(aFolder);
    else
        mFreshFolders.insert(aFolder);
    return true;
}

void UsbMSDevice::removeLeftovers(const QString &aFolder)
{
    if (mFoldersCleared.contains(aFolder))
        return;
    mFoldersCleared.insert(aFolder);
    SafeFileCopy::removeLeftovers(aFolder, mStagedTemporaries);
}

bool UsbMSDevice::insideDrive(const QString &aPath) const
{
    const QString root = QDir::cleanPath(mRootPath);
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    const QString path = QDir::cleanPath(aPath);
    if (!path.startsWith(prefix) || path.size() == prefix.size())
        return false;
    // A folder link on the drive must not lead out of it either.
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    const QString realFolder = QFileInfo(QFileInfo(path).path()).canonicalFilePath();
    if (realRoot.isEmpty() || realFolder.isEmpty())
        return true;
    return realFolder == realRoot || realFolder.startsWith(realRoot + QLatin1Char('/')) ||
           realRoot == QLatin1String("/");
}

int UsbMSDevice::DeleteTrack(Track &aTrack)
{
    LogScope scope("UsbMSDevice::DeleteTrack");
    Logger &log = Logger::instance();
    QMutexLocker locker(&mLock);
    QString path = mRootPath;
    if (!aTrack.mDeviceId.isEmpty() && !aTrack.mDeviceId.startsWith(QLatin1Char('/')))
        path += DataFolder + QLatin1Char('/');
    path += aTrack.mDeviceId;
    log.value("Deleting", path);
    if (!insideDrive(path)) {
        log.text("Device id names no file inside the drive, nothing deleted");
        return scope.ret(DeleteFailed);
    }
    const QFileInfo info(path);
    bool deleted = true;
    if (info.exists() || info.isSymLink()) {
        if (info.isFile())
            QFile::setPermissions(path, info.permissions() | QFileDevice::WriteOwner);
        deleted = QFile::remove(path);
    } else {
        log.text("File doesn't exist");
    }
    if (!deleted)
        return scope.ret(DeleteFailed);
    aTrack.mOnRemoteDevice = false;
    removeEmptiedFolders(QFileInfo(path).path());
    return scope.ret(0);
}

bool UsbMSDevice::isOwnCover(const QString &aPath) const
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The comment comes right after the JPEG's first header.
    const QByteArray head = file.read(4096);
    return head.startsWith("\xFF\xD8") && head.contains(CoverMark.toUtf8());
}

// An album whose last track went loses the cover this program made for it,
// then every folder left empty up to the music folder. Anything else stays.
void UsbMSDevice::removeEmptiedFolders(const QString &aFolder)
{
    const QString musicPrefix = QDir::cleanPath(mRootPath + MusicFolder) + QLatin1Char('/');
    QString folder = QDir::cleanPath(aFolder);
    if (!folder.startsWith(musicPrefix))
        return;
    const QDir album(folder);
    const QStringList left =
        album.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const QString cover = album.filePath(AlbumArtFile);
    if (left == QStringList{AlbumArtFile} && isOwnCover(cover)) {
        Logger::instance().value("Removing album art", cover);
        QFile::remove(cover);
    }
    while (folder.startsWith(musicPrefix) && QDir().rmdir(folder)) {
        // Spelling of the path may differ from the one remembered; forget them all.
        mFoldersMade.clear();
        mFreshFolders.clear();
        folder = QFileInfo(folder).path();
    }
}

void UsbMSDevice::appendLine(const QString &aName, const QByteArray &aLine)
{
    QFile file(dataFile(aName));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(aLine);
}

void UsbMSDevice::createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                                 bool aForceWrite)
{
    LogScope scope("UsbMSDevice::createPlaylist");
    Logger &log = Logger::instance();
    const QString folder = mRootPath + PlaylistFolder;
    if (!QDir().mkpath(folder))
        log.text("Error making playlist remote path");
    const QString fileName = playlistFileName(aPlaylist.mName);
    const QString path = folder + QLatin1Char('/') + fileName;
    mPlaylistsWritten.insert(fileName.toCaseFolded());
    if (identicalPlaylistAlreadyExists(path, aPlaylist, aTracks) && !aForceWrite)
        return;
    log.text("Identical playlist does not already exist");
    Device::createPlaylist(aPlaylist, aTracks, aForceWrite, path);
    log.dumpFile(path);
    appendLine(PlaylistHintFile, fileName.toUtf8() + '\n');
}

void UsbMSDevice::removeOldPlaylists()
{
    LogScope scope("UsbMSDevice::removeOldPlaylists");
    Logger &log = Logger::instance();
    const QString folder = mRootPath + PlaylistFolder;
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.m3u")},
                                                     QDir::Files | QDir::Hidden, QDir::Unsorted);
    QFile hint(dataFile(PlaylistHintFile));
    QSet<QString> listed;
    const bool hintOpen = hint.open(QIODevice::ReadWrite | QIODevice::Append);
    if (hintOpen) {
        hint.seek(0);
        while (!hint.atEnd()) {
            QByteArray line = hint.readLine();
            if (line.size() <= 1)
                break;
            if (line.endsWith('\n'))
                line.chop(1);
            listed.insert(QString::fromUtf8(line));
        }
        hint.seek(hint.size());
    }
    for (const QString &name : files) {
        log.value("*playlistFilesIterator", name);
        if (!mPlaylistsWritten.contains(name.toCaseFolded())) {
            log.text("Playlist has not been created this time, so create an empty playlist.");
            QFile playlist(folder + QLatin1Char('/') + name);
            if (playlist.open(QIODevice::WriteOnly | QIODevice::Truncate))
                playlist.write("#EXTM3U\r\n");
            else
                log.text("Could not open playlist");
        }
        if (hintOpen && !listed.contains(name)) {
            hint.write(name.toUtf8() + '\n');
            listed.insert(name);
        }
    }
    hint.close();
}

void UsbMSDevice::uploadAlbumArt(const Track &aTrack, const QString &aImagePath)
{
    LogScope scope("UsbMSDevice::uploadAlbumArt");
    QString idPrefix;
    const QString folder = trackFolder(aTrack, idPrefix);
    // A new album's cover goes with its tracks into the folder they are staged
    // in, which is flushed before it gets its name: no flush of its own.
    const QString staging = mStagingFolders.value(folder);
    if (staging.isEmpty())
        makeFolder(folder);
    const QString target = (staging.isEmpty() ? folder : staging) + QLatin1Char('/') + AlbumArtFile;
    const bool placed = QFileInfo::exists(target) ||
                        (staging.isEmpty() ? SafeFileCopy::copy(aImagePath, target)
                                           : SafeFileCopy::stageAs(aImagePath, target) ==
                                                 SafeFileCopy::Result::Done);
    Logger::instance().value("Album art placed", placed ? "true" : "false");
    if (placed)
        appendLine(RefreshHintFile, PlaylistEntryPath(aTrack.mDeviceId).toUtf8() + "\r\n");
}

void UsbMSDevice::setPcSoftwareVersion(const QString &aVersion)
{
    LogScope scope("UsbMSDevice::setPcSoftwareVersion");
    QFile file(dataFile(PcVersionFile));
    if (!file.open(QIODevice::ReadWrite))
        return;
    const qint64 written = file.write(aVersion.toLatin1());
    // A shorter version must not keep the tail of a longer one.
    if (written >= 0)
        file.resize(written);
}

int UsbMSDevice::CopyFileToDevice(const QString &aLocalPath, const QString &aDevicePath,
                                  bool aOverwrite)
{
    LogScope scope("UsbMSDevice::CopyFileToDevice");
    Logger &log = Logger::instance();
    QStringList parts = SplitPath(aDevicePath);
    for (QString &part : parts)
        part = fatSafeName(part);
    if (parts.isEmpty()) {
        log.value("No file name to copy to", aDevicePath);
        return scope.ret(CopyFailed);
    }
    const QString destination = mRootPath + parts.join(QLatin1Char('/'));
    log.value("Destination", destination);
    if (!insideDrive(destination)) {
        log.text("Destination leads outside the drive, nothing copied");
        return scope.ret(CopyFailed);
    }
    makeFolder(QFileInfo(destination).path());
    // The old file goes only once its replacement is complete.
    if ((aOverwrite || !QFileInfo::exists(destination)) &&
        !SafeFileCopy::copy(aLocalPath, destination, aOverwrite)) {
        log.text("Copying the file failed");
        return scope.ret(CopyFailed);
    }
    return scope.ret(0);
}
