#include "devices/mtp/mtpsession.h"

#include "core/logger.h"
#include "devices/mtp/mtpconnection.h"
#include "devices/mtp/mtptransport.h"

#include <QStringList>

MtpSession::MtpSession(std::shared_ptr<MtpTransport> aTransport, const MtpRawDevice &aDevice)
    : mTransport(std::move(aTransport)), mRawDevice(aDevice)
{}

MtpSession::~MtpSession() = default;

int MtpSession::connect()
{
    LogScope scope("MtpSession::connect");
    // The old handle must be gone before the phone can be claimed again.
    disconnect();
    mConnection = mTransport->Open(mRawDevice, mLastError);
    if (!mConnection)
        return scope.ret(MtpConnection::Failed);
    mSerialNumber = mConnection->serialNumber();
    Logger::instance().value("Serial number", mSerialNumber);
    return scope.ret(MtpConnection::Ok);
}

void MtpSession::disconnect()
{
    mListings.clear();
    mConnection.reset();
}

QString MtpSession::identity() const
{
    return mSerialNumber.isEmpty() ? mRawDevice.busLocation() : mSerialNumber;
}

QString MtpSession::MangleFolderId(const QString &aFolderId, const QString &aStorageId)
{
    return aFolderId == MtpConnection::RootId ? QStringLiteral("storage_root_") + aStorageId
                                              : aFolderId;
}

int MtpSession::check(int aResult)
{
    if (aResult == MtpConnection::Ok)
        return aResult;
    if (mConnection)
        mLastError = mConnection->lastError();
    if (aResult == MtpConnection::Disconnected) {
        Logger::instance().text("The phone is gone; dropping its connection");
        disconnect();
    }
    return aResult;
}

QList<MtpObject> *MtpSession::cachedListing(const QString &aStorageId, const QString &aFolderId)
{
    const auto it = mListings.find(MangleFolderId(aFolderId, aStorageId));
    return it == mListings.end() ? nullptr : &it.value();
}

int MtpSession::GetStorages(QList<MtpStorage> &aStorages)
{
    aStorages.clear();
    if (!mConnection)
        return MtpConnection::Disconnected;
    return check(mConnection->GetStorages(aStorages));
}

int MtpSession::GetFilesAndFolders(const QString &aStorageId, const QString &aFolderId,
                                   QList<MtpObject> &aEntries)
{
    aEntries.clear();
    if (const QList<MtpObject> *cached = cachedListing(aStorageId, aFolderId)) {
        aEntries = *cached;
        return MtpConnection::Ok;
    }
    if (!mConnection)
        return MtpConnection::Disconnected;
    const int result = check(mConnection->GetFilesAndFolders(aStorageId, aFolderId, aEntries));
    // An empty folder is remembered too: it stays empty until we add to it.
    if (result == MtpConnection::Ok)
        mListings.insert(MangleFolderId(aFolderId, aStorageId), aEntries);
    return result;
}

int MtpSession::CreateFolder(const QString &aStorageId, const QString &aParentId,
                             const QString &aName, QString &aFolderId)
{
    aFolderId.clear();
    if (!mConnection)
        return MtpConnection::Disconnected;
    MtpObject folder;
    const int result = check(mConnection->CreateFolder(aStorageId, aParentId, aName, folder));
    if (result != MtpConnection::Ok)
        return result;
    aFolderId = folder.mId;
    // Only a folder whose whole listing is known may be added to; a new one is empty.
    if (QList<MtpObject> *listing = cachedListing(aStorageId, aParentId))
        listing->append(folder);
    mListings.insert(MangleFolderId(folder.mId, aStorageId), {});
    return result;
}

int MtpSession::SendFileFromFile(const QString &aLocalPath, MtpObject &aObject)
{
    if (!mConnection)
        return MtpConnection::Disconnected;
    const int result = check(mConnection->SendFileFromFile(aLocalPath, aObject));
    if (result == MtpConnection::Ok) {
        if (QList<MtpObject> *listing = cachedListing(aObject.mStorageId, aObject.mParentId))
            listing->append(aObject);
    } else {
        // Whether the phone kept something is unknown: read the folder again.
        mListings.remove(MangleFolderId(aObject.mParentId, aObject.mStorageId));
    }
    return result;
}

int MtpSession::GetFileToFile(const QString &aObjectId, const QString &aLocalPath)
{
    if (!mConnection)
        return MtpConnection::Disconnected;
    return check(mConnection->GetFileToFile(aObjectId, aLocalPath));
}

int MtpSession::DeleteObject(const QString &aStorageId, const QString &aParentId,
                             const QString &aId)
{
    if (!mConnection)
        return MtpConnection::Disconnected;
    const int result = check(mConnection->DeleteObject(aId));
    if (result != MtpConnection::Ok)
        return result;
    if (QList<MtpObject> *listing = cachedListing(aStorageId, aParentId)) {
        const qsizetype removed =
            listing->removeIf([&aId](const MtpObject &aEntry) { return aEntry.mId == aId; });
        Logger::instance().value("Items removed from multihash: ", int(removed));
    }
    mListings.remove(MangleFolderId(aId, aStorageId));
    return result;
}

int MtpSession::SetFileName(const QString &aStorageId, const QString &aParentId, const QString &aId,
                            const QString &aNewName)
{
    if (!mConnection)
        return MtpConnection::Disconnected;
    QList<MtpObject> *listing = cachedListing(aStorageId, aParentId);
    MtpObject object;
    object.mId = aId;
    object.mParentId = aParentId;
    object.mStorageId = aStorageId;
    if (listing) {
        for (const MtpObject &entry : std::as_const(*listing)) {
            if (entry.mId == aId)
                object = entry;
        }
    }
    const int result = check(mConnection->SetFileName(object, aNewName));
    if (result == MtpConnection::Ok && listing) {
        for (MtpObject &entry : *listing) {
            if (entry.mId == aId)
                entry.mName = object.mName;
        }
    } else if (result != MtpConnection::Ok) {
        mListings.remove(MangleFolderId(aParentId, aStorageId));
    }
    return result;
}

int MtpSession::findEntry(const QString &aStorageId, const QString &aFolderId, const QString &aName,
                          MtpObject &aEntry)
{
    QList<MtpObject> entries;
    const int result = GetFilesAndFolders(aStorageId, aFolderId, entries);
    if (result != MtpConnection::Ok)
        return result;
    for (const MtpObject &entry : std::as_const(entries)) {
        if (entry.mName == aName) {
            aEntry = entry;
            return MtpConnection::Ok;
        }
    }
    return MtpConnection::NotFound;
}

int MtpSession::GetOrCreateFromNameAndParent(const QString &aStorageId, const QString &aParentId,
                                             const QString &aName, QString &aId, bool aMatchAnyType,
                                             bool aCreate)
{
    LogScope scope("MtpSession::GetOrCreateFromNameAndParent");
    Logger &log = Logger::instance();
    aId.clear();
    QList<MtpObject> entries;
    const int listed = GetFilesAndFolders(aStorageId, aParentId, entries);
    if (listed != MtpConnection::Ok)
        return scope.ret(listed);
    if (!entries.isEmpty())
        log.value("Files found", int(entries.size()));
    for (const MtpObject &entry : std::as_const(entries)) {
        if ((aMatchAnyType || entry.isFolder()) && entry.mName == aName) {
            aId = entry.mId;
            log.value("Match found, aFolderId", aId);
            return scope.ret(MtpConnection::Ok);
        }
    }
    if (!aCreate)
        return scope.ret(MtpConnection::NotFound);
    log.value("No match found so try to create the folder", aName);
    const int created = CreateFolder(aStorageId, aParentId, aName, aId);
    if (created == MtpConnection::Ok) {
        log.value("Folder created with id", aId);
        return scope.ret(created);
    }
    log.text("Could not create folder");
    return scope.ret(created == MtpConnection::Disconnected ? created : MtpConnection::NotFound);
}

int MtpSession::GetOrCreateFromPath(const QString &aStorageId, const QString &aPath, QString &aId,
                                    QString &aParentId, bool aCreate)
{
    const QStringList parts = aPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = MtpConnection::RootId;
    QString parent = MtpConnection::RootId;
    aId.clear();
    aParentId.clear();
    for (qsizetype i = 0; i < parts.size(); ++i) {
        parent = current;
        const int result = GetOrCreateFromNameAndParent(aStorageId, parent, parts[i], current,
                                                        i + 1 == parts.size() && !aCreate, aCreate);
        if (result != MtpConnection::Ok)
            return result;
    }
    aId = current;
    aParentId = parent;
    return MtpConnection::Ok;
}
