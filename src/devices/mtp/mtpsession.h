#pragma once

#include "devices/mtp/mtpobject.h"
#include "devices/mtp/mtprawdevice.h"
#include "devices/mtp/mtpstorage.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class MtpConnection;
class MtpTransport;

// One phone's connection and the folder listings read over it. Object ids
// belong to one connection, so every (re)connect and every lost connection
// drops all listings: a stale id can name another object, and deleting by it
// would delete the wrong file. Each folder is listed at most once per
// connection; sends, renames and deletes keep the listings true. Like the
// phone's handle, a session is used by one thread at a time.
class MtpSession
{
public:
    MtpSession(std::shared_ptr<MtpTransport> aTransport, const MtpRawDevice &aDevice);
    ~MtpSession();
    MtpSession(const MtpSession &) = delete;
    MtpSession &operator=(const MtpSession &) = delete;

    // (Re)opens the phone; on failure lastError() says why, for the user.
    int connect();
    void disconnect();
    bool isConnected() const { return mConnection != nullptr; }
    // Null while not connected.
    MtpConnection *connection() const { return mConnection.get(); }
    QString lastError() const { return mLastError; }
    const MtpRawDevice &rawDevice() const { return mRawDevice; }
    // The serial number read at the last connect, or the bus location for a
    // phone without one: two phones of one model stay two phones.
    QString identity() const;

    // The key of a folder's listing: storages share the root id.
    static QString MangleFolderId(const QString &aFolderId, const QString &aStorageId);

    // Every operation answers MtpConnection::Disconnected at once while not connected.
    int GetStorages(QList<MtpStorage> &aStorages);
    int GetFilesAndFolders(const QString &aStorageId, const QString &aFolderId,
                           QList<MtpObject> &aEntries);
    int CreateFolder(const QString &aStorageId, const QString &aParentId, const QString &aName,
                     QString &aFolderId);
    int SendFileFromFile(const QString &aLocalPath, MtpObject &aObject);
    int GetFileToFile(const QString &aObjectId, const QString &aLocalPath);
    // aParentId is the folder the object was found in; a refused delete is Failed.
    int DeleteObject(const QString &aStorageId, const QString &aParentId, const QString &aId);
    int SetFileName(const QString &aStorageId, const QString &aParentId, const QString &aId,
                    const QString &aNewName);

    // The first entry of the folder named exactly aName (folders only, unless
    // aMatchAnyType); with aCreate a missing one is made as a folder. Ok or NotFound
    // (or what the phone answered).
    int GetOrCreateFromNameAndParent(const QString &aStorageId, const QString &aParentId,
                                     const QString &aName, QString &aId, bool aMatchAnyType,
                                     bool aCreate);
    // Walks aPath ("/"-separated) from the storage's root; every part but the
    // last must be a folder. An empty path is the root.
    int GetOrCreateFromPath(const QString &aStorageId, const QString &aPath, QString &aId,
                            QString &aParentId, bool aCreate);
    // The entry named exactly aName in the folder.
    int findEntry(const QString &aStorageId, const QString &aFolderId, const QString &aName,
                  MtpObject &aEntry);

private:
    // Notes a failure; a lost phone ends the connection and its listings.
    int check(int aResult);
    QList<MtpObject> *cachedListing(const QString &aStorageId, const QString &aFolderId);

    std::shared_ptr<MtpTransport> mTransport;
    MtpRawDevice mRawDevice;
    std::unique_ptr<MtpConnection> mConnection;
    QHash<QString, QList<MtpObject>> mListings;
    QString mSerialNumber;
    QString mLastError;
};
