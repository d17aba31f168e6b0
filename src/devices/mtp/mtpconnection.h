#pragma once

#include "devices/mtp/mtpobject.h"
#include "devices/mtp/mtpstorage.h"

#include <QList>
#include <QString>

// One opened phone. Every operation answers Ok or one of the codes below and
// leaves the reason (the library's own error texts) in lastError(). A handle is
// used by one thread at a time; object ids from it mean nothing to another one.
class MtpConnection
{
public:
    static constexpr int Ok = 0;
    static constexpr int Failed = -1;          // the phone refused or the call failed
    static constexpr int NotFound = 11003;     // a path on the phone does not exist
    static constexpr int SendFailed = 11005;   // a file could not be copied to the phone
    static constexpr int Disconnected = 11006; // the phone is gone (unplugged, USB or I/O error)
    static constexpr int StorageFull = 11007;

    // The root folder of a storage when listing, creating and sending. A parent
    // of 0 means something else to the phone (every object, or a default folder).
    static inline const QString RootId = QStringLiteral("4294967295");

    MtpConnection() = default;
    virtual ~MtpConnection();
    MtpConnection(const MtpConnection &) = delete;
    MtpConnection &operator=(const MtpConnection &) = delete;

    virtual QString friendlyName() = 0;
    virtual QString manufacturerName() = 0;
    virtual QString modelName() = 0;
    virtual QString serialNumber() = 0;

    // Asks the phone afresh, so free space is current.
    virtual int GetStorages(QList<MtpStorage> &aStorages) = 0;
    // The objects directly in a folder; an empty folder is Ok with no entries.
    virtual int GetFilesAndFolders(const QString &aStorageId, const QString &aFolderId,
                                   QList<MtpObject> &aEntries) = 0;
    // aFolder receives the new folder's record; the phone may have changed the name.
    virtual int CreateFolder(const QString &aStorageId, const QString &aParentId,
                             const QString &aName, MtpObject &aFolder) = 0;
    // aObject names the new object (storage, parent, name, type); on return mId
    // holds the new id, also after a failure when the phone created the object.
    virtual int SendFileFromFile(const QString &aLocalPath, MtpObject &aObject) = 0;
    virtual int GetFileToFile(const QString &aObjectId, const QString &aLocalPath) = 0;
    virtual int DeleteObject(const QString &aObjectId) = 0;
    // On success aObject.mName holds the name the phone gave it.
    virtual int SetFileName(MtpObject &aObject, const QString &aNewName) = 0;

    QString lastError() const { return mLastError; }

protected:
    QString mLastError;
};
