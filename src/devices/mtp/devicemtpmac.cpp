#include "devices/mtp/devicemtpmac.h"

#include "core/apppaths.h"
#include "core/localplaylist.h"
#include "core/logger.h"
#include "core/track.h"
#include "core/tracklist.h"
#include "devices/mtp/deviceparentmtpmac.h"
#include "devices/mtp/mtpconnection.h"
#include "devices/mtp/mtpfile.h"
#include "devices/mtp/mtpsession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QXmlStreamReader>

namespace {
constexpr int SendRetries = 5;

// What the engine is told about a failure of the phone.
int deviceResult(int aMtpResult, int aOtherwise)
{
    switch (aMtpResult) {
    case MtpConnection::Ok:
        return 0;
    case MtpConnection::Disconnected:
        return Device::Disconnected;
    case MtpConnection::StorageFull:
        return Device::DeviceFull;
    default:
        return aOtherwise;
    }
}

QString joinPath(const QStringList &aParts)
{
    QStringList parts;
    for (const QString &part : aParts) {
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QLatin1Char('/'));
}

int parseAndroidVersion(const QByteArray &aContent)
{
    if (aContent.isEmpty())
        return -1;
    QXmlStreamReader reader(aContent);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement) {
            bool ok = false;
            const int version = reader.attributes().value(QStringLiteral("version")).toInt(&ok);
            return ok ? version : 0;
        }
    }
    return 0;
}
} // namespace

DeviceMtpMac::DeviceMtpMac(DeviceParentMtpMac &aParent, const MtpStorage &aStorage)
    : mSession(aParent.session()), mLock(aParent.lock()), mStorage(aStorage)
{
    LogScope scope("DeviceMtpMac::DeviceMtpMac");
    if (!aParent.friendlyName().isEmpty()) {
        mFriendlyName = aParent.friendlyName() + QLatin1Char(' ');
    } else {
        if (!aParent.product().isEmpty())
            mFriendlyName += aParent.product() + QLatin1Char(' ');
        if (!aParent.vendor().isEmpty())
            mFriendlyName += aParent.vendor() + QLatin1Char(' ');
    }
    mFriendlyName += mStorage.mDescription;
    Logger::instance().value("Friendly name", mFriendlyName);
    QMutexLocker locker(mLock.get());
    CacheAndroidVersion();
    ReadOrGenerateUniqueDeviceId();
}

DeviceMtpMac::~DeviceMtpMac() = default;

QString DeviceMtpMac::dataPath(const QString &aName)
{
    return DataFolder + QLatin1Char('/') + aName;
}

bool DeviceMtpMac::readFile(const QString &aPath, QByteArray &aContent)
{
    MtpFile file(*mSession, mStorage.mId, aPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    aContent = file.readAll();
    file.close();
    return true;
}

void DeviceMtpMac::CacheAndroidVersion()
{
    LogScope scope("DeviceMtpMac::CacheAndroidVersion");
    QByteArray content;
    if (!readFile(dataPath(AndroidFile), content)) {
        Logger::instance().text("Could not open android file");
        return;
    }
    mCachedAndroidVersion = parseAndroidVersion(content);
    Logger::instance().value("mCachedAndroidVersion", mCachedAndroidVersion);
}

void DeviceMtpMac::ReadOrGenerateUniqueDeviceId()
{
    LogScope scope("DeviceMtpMac::ReadOrGenerateUniqueDeviceId");
    Logger &log = Logger::instance();
    const QString path = dataPath(UniqueIdFile);
    log.value("Looking for file", path);
    MtpFile file(*mSession, mStorage.mId, path);
    if (!file.exists(path)) {
        log.text("Can't find ID file, use temporary value");
        mUniqueDeviceId = TempDeviceId;
        return;
    }
    QByteArray content;
    if (!readFile(path, content) || content.isEmpty()) {
        log.text("Error getting ID file - assigning temp value");
        mUniqueDeviceId = TempDeviceId;
        return;
    }
    mUniqueDeviceId = QString::fromLatin1(content);
    log.value("Got ID file, mUniqueDeviceId", mUniqueDeviceId);
}

void DeviceMtpMac::reconnect()
{
    if (mSession->connect() != MtpConnection::Ok)
        Logger::instance().value("Could not reopen the phone", mSession->lastError());
}

void DeviceMtpMac::SetConfigured()
{
    LogScope scope("DeviceMtpMac::SetConfigured");
    Logger &log = Logger::instance();
    QMutexLocker locker(mLock.get());
    reconnect();
    const QString path = dataPath(UniqueIdFile);
    MtpFile file(*mSession, mStorage.mId, path);
    if (file.exists(path)) {
        // The phone keeps the id it has: its cache on this computer is named by it.
        if (mUniqueDeviceId == TempDeviceId)
            ReadOrGenerateUniqueDeviceId();
        return;
    }
    log.text("UID file doesn't exist - creating one");
    const QString id = newUniqueDeviceId();
    log.value("mkpath result", file.mkpath(DataFolder));
    if (!file.open(QIODevice::WriteOnly) || !file.write(id.toLatin1()) ||
        file.close() != MtpConnection::Ok) {
        log.text("Could not write the ID file");
        return;
    }
    // Only an id that is on the phone names it in the settings.
    mUniqueDeviceId = id;
}

void DeviceMtpMac::PrepareForSync()
{
    LogScope scope("DeviceMtpMac::PrepareForSync");
    QMutexLocker locker(mLock.get());
    mPlaylistsWritten.clear();
    reconnect();
    MtpFile file(*mSession, mStorage.mId);
    const int removed = file.remove(dataPath(SyncCompleteFile));
    if (removed != MtpConnection::Ok && removed != MtpConnection::NotFound)
        Logger::instance().value("Could not remove the sync-complete file", removed);
}

void DeviceMtpMac::FinalizeSync()
{
    LogScope scope("DeviceMtpMac::FinalizeSync");
    QMutexLocker locker(mLock.get());
    MtpFile file(*mSession, mStorage.mId, dataPath(SyncCompleteFile));
    if (!file.open(QIODevice::WriteOnly) || !file.write(SyncCompleteText) ||
        file.close() != MtpConnection::Ok)
        Logger::instance().text("Could not open / create the sync-complete-file");
}

int DeviceMtpMac::GetStorageCapacity(quint64 &aBytes)
{
    aBytes = mStorage.mCapacity;
    return 0;
}

int DeviceMtpMac::GetFreeStorageSpace(quint64 &aBytes)
{
    QMutexLocker locker(mLock.get());
    QList<MtpStorage> storages;
    // A phone that does not answer keeps the last figure it gave.
    if (mSession->GetStorages(storages) == MtpConnection::Ok) {
        for (const MtpStorage &storage : std::as_const(storages)) {
            if (storage.mId == mStorage.mId)
                mStorage.mFreeBytes = storage.mFreeBytes;
        }
    }
    aBytes = mStorage.mFreeBytes;
    return 0;
}

int DeviceMtpMac::CopyFileToDevice(const QString &aLocalPath, const QString &aDevicePath,
                                   bool aOverwrite)
{
    LogScope scope("DeviceMtpMac::CopyFileToDevice");
    QMutexLocker locker(mLock.get());
    QStringList parts = SplitPath(aDevicePath);
    for (QString &part : parts)
        part = fatSafeName(part);
    if (parts.isEmpty())
        return scope.ret(CopyFailed);
    const QString path = parts.join(QLatin1Char('/'));
    MtpFile file(*mSession, mStorage.mId);
    if (!aOverwrite && file.exists(path))
        return scope.ret(0);
    // The old file goes only once its replacement is complete.
    const int result = file.copy(aLocalPath, path, SendRetries, MtpObject::TypeOther);
    return scope.ret(result == MtpConnection::Ok ? 0 : CopyFailed);
}

QString DeviceMtpMac::trackFolder(const Track &aTrack) const
{
    QString artist;
    QString album;
    GetFolderNamesForTrack(aTrack, artist, album);
    return joinPath({MusicFolder, fatSafeName(artist), fatSafeName(album)});
}

int DeviceMtpMac::UploadTrack(Track &aTrack)
{
    LogScope scope("DeviceMtpMac::UploadTrack");
    Logger &log = Logger::instance();
    QMutexLocker locker(mLock.get());
    aTrack.dump();
    const QString folder = trackFolder(aTrack);
    const QString fileName = fileNameForTrack(aTrack);
    const QString path = folder + QLatin1Char('/') + fileName;
    const QString source = aTrack.uploadSourcePath();
    const QFileInfo sourceInfo(source);
    if (!QFileInfo(aTrack.mPath).isFile() || !sourceInfo.isFile()) {
        log.text("Source file doesn't exist");
        return scope.ret(CopyFailed);
    }
    QString folderId;
    QString unused;
    int result = mSession->GetOrCreateFromPath(mStorage.mId, folder, folderId, unused, true);
    if (result != MtpConnection::Ok) {
        log.text("Error making remote path");
        return scope.ret(deviceResult(result, MakeFolderFailed));
    }
    MtpObject existing;
    result = mSession->findEntry(mStorage.mId, folderId, fileName, existing);
    int answer = 0;
    if (result == MtpConnection::Ok && !existing.isFolder() &&
        existing.mSize == sourceInfo.size()) {
        log.text("Destination file already exists");
        answer = AlreadyOnDevice;
    } else if (result != MtpConnection::Ok && result != MtpConnection::NotFound) {
        return scope.ret(deviceResult(result, CopyFailed));
    } else {
        // A file of another size is an unfinished or outdated copy; the new one replaces it.
        MtpFile file(*mSession, mStorage.mId);
        result = file.copy(source, path, SendRetries, MtpObject::TypeOther);
        if (result != MtpConnection::Ok) {
            log.text("*** Failed to copy track.");
            return scope.ret(deviceResult(result, MtpConnection::SendFailed));
        }
    }
    aTrack.mOnRemoteDevice = true;
    aTrack.mSizeOnDevice = sourceInfo.size();
    aTrack.mDeviceId = QLatin1Char('/') + path;
    return scope.ret(answer);
}

QString DeviceMtpMac::pathOfDeviceId(const QString &aDeviceId)
{
    if (aDeviceId.startsWith(QLatin1Char('/')))
        return aDeviceId.mid(1);
    return dataPath(aDeviceId);
}

int DeviceMtpMac::DeleteTrack(Track &aTrack)
{
    LogScope scope("DeviceMtpMac::DeleteTrack");
    Logger &log = Logger::instance();
    QMutexLocker locker(mLock.get());
    const QString path = pathOfDeviceId(aTrack.mDeviceId);
    log.value("Deleting", path);
    QString id;
    QString parent;
    int result = SplitPath(path).isEmpty()
                     ? MtpConnection::NotFound
                     : mSession->GetOrCreateFromPath(mStorage.mId, path, id, parent, false);
    if (result == MtpConnection::NotFound) {
        log.value("Error getting ID of track to delete, err", result);
        aTrack.mOnRemoteDevice = false;
        return scope.ret(0);
    }
    if (result == MtpConnection::Ok) {
        log.text("About to do LIBMTP_Delete_Object");
        result = mSession->DeleteObject(mStorage.mId, parent, id);
    }
    if (result != MtpConnection::Ok) {
        // A refused delete leaves the file, and the cache must keep saying so.
        log.value("Track not deleted", mSession->lastError());
        return scope.ret(deviceResult(result, DeleteFailed));
    }
    log.text("Track deleted");
    aTrack.mOnRemoteDevice = false;
    removeEmptiedFolders(QFileInfo(path).path());
    return scope.ret(0);
}

bool DeviceMtpMac::isOwnCover(const QString &aPath)
{
    QByteArray content;
    if (!readFile(aPath, content))
        return false;
    return content.startsWith("\xFF\xD8") && content.left(4096).contains(CoverMark.toUtf8());
}

// An album whose last track went loses the cover this program made for it,
// then every folder left empty up to the music folder. Anything else stays.
void DeviceMtpMac::removeEmptiedFolders(const QString &aFolder)
{
    QStringList parts = SplitPath(aFolder);
    if (parts.isEmpty() || parts.first() != MusicFolder)
        return;
    bool first = true;
    while (parts.size() > 1) {
        const QString folder = parts.join(QLatin1Char('/'));
        QString id;
        QString parent;
        QList<MtpObject> entries;
        if (mSession->GetOrCreateFromPath(mStorage.mId, folder, id, parent, false) !=
                MtpConnection::Ok ||
            mSession->GetFilesAndFolders(mStorage.mId, id, entries) != MtpConnection::Ok)
            return;
        if (first && entries.size() == 1 && entries.first().mName == AlbumArtFile &&
            !entries.first().isFolder() && isOwnCover(folder + QLatin1Char('/') + AlbumArtFile)) {
            Logger::instance().value("Removing album art", folder);
            if (mSession->DeleteObject(mStorage.mId, id, entries.first().mId) == MtpConnection::Ok)
                entries.clear();
        }
        first = false;
        if (!entries.isEmpty() ||
            mSession->DeleteObject(mStorage.mId, parent, id) != MtpConnection::Ok)
            return;
        parts.removeLast();
    }
}

void DeviceMtpMac::createPlaylist(const LocalPlaylist &aPlaylist, const TrackList &aTracks,
                                  bool aForceWrite)
{
    LogScope scope("DeviceMtpMac::createPlaylist");
    Logger &log = Logger::instance();
    QMutexLocker locker(mLock.get());
    QDir().mkpath(AppPaths::dataFolder());
    const QString local = AppPaths::dataFile(QStringLiteral("tempplaylist.m3u"));
    if (Device::createPlaylist(aPlaylist, aTracks, aForceWrite, local) != 0)
        log.text("Error creating local copy of playlist");
    const QString fileName = playlistFileName(aPlaylist.mName);
    mPlaylistsWritten.insert(fileName);
    QString folderId;
    QString unused;
    const int made =
        mSession->GetOrCreateFromPath(mStorage.mId, PlaylistFolder, folderId, unused, true);
    if (made != MtpConnection::Ok) {
        log.text("Error creating");
        QFile::remove(local);
        return;
    }
    log.text("Checking whether playlist already exists on device");
    MtpObject existing;
    if (mSession->findEntry(mStorage.mId, folderId, fileName, existing) == MtpConnection::Ok) {
        log.text("We have an existing playlist with the same name");
        const QString fromDevice = AppPaths::dataFile(QStringLiteral("tempplaylistfromdevice.m3u"));
        const bool fetched = mSession->GetFileToFile(existing.mId, fromDevice) == MtpConnection::Ok;
        if (!fetched)
            log.text("Error getting existing playlist file from the device");
        const bool identical =
            fetched && identicalPlaylistAlreadyExists(fromDevice, aPlaylist, aTracks);
        QFile::remove(fromDevice);
        if (identical) {
            log.text("The playlist on the device is identical");
            if (!aForceWrite) {
                QFile::remove(local);
                return;
            }
        }
    }
    MtpFile file(*mSession, mStorage.mId);
    if (file.copy(local, PlaylistFolder + QLatin1Char('/') + fileName, SendRetries,
                  MtpObject::TypeFile) != MtpConnection::Ok)
        log.text("*** Failed to copy track.");
    QFile::remove(local);
}

void DeviceMtpMac::removeOldPlaylists()
{
    LogScope scope("DeviceMtpMac::removeOldPlaylists");
    Logger &log = Logger::instance();
    QMutexLocker locker(mLock.get());
    QString folderId;
    QString unused;
    if (mSession->GetOrCreateFromPath(mStorage.mId, PlaylistFolder, folderId, unused, false) !=
        MtpConnection::Ok)
        return;
    log.value("Got playlist folder ID", folderId);
    QList<MtpObject> entries;
    if (mSession->GetFilesAndFolders(mStorage.mId, folderId, entries) != MtpConnection::Ok)
        return;
    // A phone that keeps two objects of one name keeps the newest: the last listed.
    QSet<QString> kept;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (it->isFolder())
            continue;
        if (mPlaylistsWritten.contains(it->mName) && !kept.contains(it->mName)) {
            kept.insert(it->mName);
            continue;
        }
        log.value("Deleting playlist", it->mName);
        mSession->DeleteObject(mStorage.mId, folderId, it->mId);
    }
}

void DeviceMtpMac::uploadAlbumArt(const Track &aTrack, const QString &aImagePath)
{
    LogScope scope("DeviceMtpMac::uploadAlbumArt");
    Logger &log = Logger::instance();
    QMutexLocker locker(mLock.get());
    const QString folder = trackFolder(aTrack);
    QString folderId;
    QString unused;
    if (mSession->GetOrCreateFromPath(mStorage.mId, folder, folderId, unused, true) !=
        MtpConnection::Ok)
        return;
    // Android takes no second object of that name; others would keep two covers.
    MtpObject existing;
    if (mSession->findEntry(mStorage.mId, folderId, AlbumArtFile, existing) == MtpConnection::Ok) {
        log.text("Album art already there");
        return;
    }
    MtpFile file(*mSession, mStorage.mId);
    const int sent =
        file.copy(aImagePath, folder + QLatin1Char('/') + AlbumArtFile, 0, MtpObject::TypeOther);
    log.value("Album art placed", sent == MtpConnection::Ok ? "true" : "false");
}
