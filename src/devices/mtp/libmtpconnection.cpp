#include "devices/mtp/libmtpconnection.h"

#include "core/logger.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <libmtp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// PTP response codes that mean the phone stopped answering.
constexpr unsigned PtpIoError = 0x02FF;
constexpr unsigned PtpTimeout = 0x02FA;
constexpr unsigned PtpStoreFull = 0x200C;

int classify(const LIBMTP_error_t &aError)
{
    switch (aError.errornumber) {
    case LIBMTP_ERROR_NO_DEVICE_ATTACHED:
    case LIBMTP_ERROR_USB_LAYER:
        return MtpConnection::Disconnected;
    case LIBMTP_ERROR_STORAGE_FULL:
        return MtpConnection::StorageFull;
    case LIBMTP_ERROR_PTP_LAYER: {
        unsigned code = 0;
        const char *text = aError.error_text ? aError.error_text : "";
        if (std::sscanf(text, "PTP Layer error %4x", &code) != 1 &&
            std::sscanf(text, "Error %4x", &code) != 1)
            return MtpConnection::Failed;
        if (code == PtpIoError || code == PtpTimeout)
            return MtpConnection::Disconnected;
        return code == PtpStoreFull ? MtpConnection::StorageFull : MtpConnection::Failed;
    }
    default:
        return MtpConnection::Failed;
    }
}

int objectType(LIBMTP_filetype_t aType)
{
    switch (aType) {
    case LIBMTP_FILETYPE_FOLDER:
        return MtpObject::TypeFolder;
    case LIBMTP_FILETYPE_PLAYLIST:
        return MtpObject::TypePlaylist;
    case LIBMTP_FILETYPE_UNKNOWN:
        return MtpObject::TypeFile;
    default:
        return MtpObject::TypeOther;
    }
}

QString number(quint32 aHandle)
{
    return QString::number(aHandle);
}
} // namespace

LibMtpConnection::LibMtpConnection(LIBMTP_mtpdevice_struct *aDevice) : mDevice(aDevice) {}

LibMtpConnection::~LibMtpConnection()
{
    LIBMTP_Release_Device(mDevice);
}

int LibMtpConnection::fail(const char *aWhat)
{
    int result = Failed;
    QStringList texts;
    for (const LIBMTP_error_t *error = LIBMTP_Get_Errorstack(mDevice); error; error = error->next) {
        texts.append(QString::fromUtf8(error->error_text ? error->error_text : ""));
        const int kind = classify(*error);
        if (kind == Disconnected || (kind == StorageFull && result == Failed))
            result = kind;
    }
    LIBMTP_Clear_Errorstack(mDevice);
    mLastError = QString::fromUtf8(aWhat);
    if (!texts.isEmpty())
        mLastError += QStringLiteral(": ") + texts.join(QStringLiteral("; "));
    Logger &log = Logger::instance();
    log.text(aWhat);
    log.value("libmtp errors", texts.join(QStringLiteral(" | ")));
    log.value("Result", result);
    return result;
}

bool LibMtpConnection::handle(const QString &aId, bool aRootAllowed, quint32 &aHandle)
{
    bool ok = false;
    aHandle = aId.toUInt(&ok);
    if (ok && aHandle != 0 && (aRootAllowed || aHandle != LIBMTP_FILES_AND_FOLDERS_ROOT))
        return true;
    mLastError = QStringLiteral("Not an object id: \"") + aId + QLatin1Char('"');
    Logger::instance().value("! Refused object id", aId);
    return false;
}

QString LibMtpConnection::takeString(char *aText)
{
    const QString text = aText ? QString::fromUtf8(aText) : QString();
    std::free(aText);
    // A phone without the property leaves a complaint that is no failure of ours.
    LIBMTP_Clear_Errorstack(mDevice);
    return text;
}

QString LibMtpConnection::friendlyName()
{
    return takeString(LIBMTP_Get_Friendlyname(mDevice));
}

QString LibMtpConnection::manufacturerName()
{
    return takeString(LIBMTP_Get_Manufacturername(mDevice));
}

QString LibMtpConnection::modelName()
{
    return takeString(LIBMTP_Get_Modelname(mDevice));
}

QString LibMtpConnection::serialNumber()
{
    return takeString(LIBMTP_Get_Serialnumber(mDevice));
}

int LibMtpConnection::GetStorages(QList<MtpStorage> &aStorages)
{
    LogScope scope("LibMtpConnection::GetStorages");
    aStorages.clear();
    if (LIBMTP_Get_Storage(mDevice, LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0)
        return scope.ret(fail("Can't get storage list"));
    Logger &log = Logger::instance();
    // libmtp rebuilds this list on every call: copy what we keep.
    for (const LIBMTP_devicestorage_t *storage = mDevice->storage; storage;
         storage = storage->next) {
        MtpStorage record;
        record.mId = number(storage->id);
        record.mDescription = QString::fromUtf8(storage->StorageDescription);
        if (record.mDescription.isEmpty()) {
            log.text("Failed, so setting value as \"Storage\"");
            record.mDescription = QStringLiteral("Storage");
        }
        record.mCapacity = storage->MaxCapacity;
        record.mFreeBytes = storage->FreeSpaceInBytes;
        log.value("Is storage, ID", record.mId);
        aStorages.append(record);
    }
    return scope.ret(Ok);
}

int LibMtpConnection::GetFilesAndFolders(const QString &aStorageId, const QString &aFolderId,
                                         QList<MtpObject> &aEntries)
{
    LogScope scope("LibMtpConnection::GetFilesAndFolders");
    aEntries.clear();
    quint32 storage = 0;
    quint32 folder = 0;
    if (!handle(aStorageId, false, storage) || !handle(aFolderId, true, folder))
        return scope.ret(Failed);
    Logger &log = Logger::instance();
    log.value("Searching under object id", aFolderId);
    // An empty folder and a failure both answer NULL; only the stack tells them apart.
    LIBMTP_Clear_Errorstack(mDevice);
    LIBMTP_file_t *files = LIBMTP_Get_Files_And_Folders(mDevice, storage, folder);
    if (!files && LIBMTP_Get_Errorstack(mDevice))
        return scope.ret(fail("Can't list folder"));
    while (files) {
        LIBMTP_file_t *next = files->next;
        // Some phones answer a root listing with every object they hold.
        const bool ours = files->parent_id == folder ||
                          (folder == LIBMTP_FILES_AND_FOLDERS_ROOT && files->parent_id == 0);
        if (!ours) {
            LIBMTP_destroy_file_t(files);
            files = next;
            continue;
        }
        MtpObject entry;
        entry.mId = number(files->item_id);
        // Top-level objects may name 0 as their parent; keep the folder we asked for.
        entry.mParentId = aFolderId;
        entry.mStorageId = aStorageId;
        entry.mName =
            files->filename ? QString::fromUtf8(files->filename) : QStringLiteral("Unknown");
        entry.mSize = qint64(files->filesize);
        entry.mType = objectType(files->filetype);
        log.value("Item", entry.mName + QStringLiteral(" id ") + entry.mId);
        aEntries.append(entry);
        LIBMTP_destroy_file_t(files);
        files = next;
    }
    return scope.ret(Ok);
}

int LibMtpConnection::CreateFolder(const QString &aStorageId, const QString &aParentId,
                                   const QString &aName, MtpObject &aFolder)
{
    LogScope scope("LibMtpConnection::CreateFolder");
    quint32 storage = 0;
    quint32 parent = 0;
    if (!handle(aStorageId, false, storage) || !handle(aParentId, true, parent))
        return scope.ret(Failed);
    // libmtp may rewrite the name in place to suit the phone.
    char *name = strdup(aName.toUtf8().constData());
    const quint32 id = LIBMTP_Create_Folder(mDevice, name, parent, storage);
    const QString given = QString::fromUtf8(name);
    std::free(name);
    if (id == 0)
        return scope.ret(fail("Could not create folder"));
    aFolder = MtpObject();
    aFolder.mId = number(id);
    aFolder.mParentId = aParentId;
    aFolder.mStorageId = aStorageId;
    aFolder.mName = given;
    aFolder.mType = MtpObject::TypeFolder;
    Logger::instance().value("Folder created with id", aFolder.mId);
    return scope.ret(Ok);
}

int LibMtpConnection::SendFileFromFile(const QString &aLocalPath, MtpObject &aObject)
{
    LogScope scope("LibMtpConnection::SendFileFromFile");
    aObject.mId.clear();
    quint32 storage = 0;
    quint32 parent = 0;
    if (!handle(aObject.mStorageId, false, storage) || !handle(aObject.mParentId, true, parent))
        return scope.ret(Failed);
    LIBMTP_file_t *meta = LIBMTP_new_file_t();
    meta->filename = strdup(aObject.mName.toUtf8().constData());
    meta->filesize = quint64(QFileInfo(aLocalPath).size());
    // libmtp knows no M3U type; Android goes by the extension anyway.
    meta->filetype = LIBMTP_FILETYPE_UNKNOWN;
    meta->parent_id = parent;
    meta->storage_id = storage;
    const int rc = LIBMTP_Send_File_From_File(mDevice, QFile::encodeName(aLocalPath).constData(),
                                              meta, nullptr, nullptr);
    // A send can fail after the object was made; its id lets the caller find it.
    if (meta->item_id != 0)
        aObject.mId = number(meta->item_id);
    aObject.mSize = qint64(meta->filesize);
    LIBMTP_destroy_file_t(meta);
    if (rc != 0)
        return scope.ret(fail("! Failed to transfer object to device"));
    Logger::instance().value("New object id", aObject.mId);
    return scope.ret(Ok);
}

int LibMtpConnection::GetFileToFile(const QString &aObjectId, const QString &aLocalPath)
{
    LogScope scope("LibMtpConnection::GetFileToFile");
    quint32 id = 0;
    if (!handle(aObjectId, false, id))
        return scope.ret(Failed);
    QFile file(aLocalPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        mLastError = QStringLiteral("Cannot write ") + aLocalPath;
        Logger::instance().value("! Cannot write local file", aLocalPath);
        return scope.ret(Failed);
    }
    if (LIBMTP_Get_File_To_File_Descriptor(mDevice, id, file.handle(), nullptr, nullptr) != 0) {
        // Part of an object must not pass for all of it.
        file.resize(0);
        return scope.ret(fail("! Failed to transfer object from device"));
    }
    Logger::instance().value("* Transferred object", aObjectId);
    return scope.ret(Ok);
}

int LibMtpConnection::DeleteObject(const QString &aObjectId)
{
    LogScope scope("LibMtpConnection::DeleteObject");
    quint32 id = 0;
    if (!handle(aObjectId, false, id))
        return scope.ret(Failed);
    if (LIBMTP_Delete_Object(mDevice, id) != 0)
        return scope.ret(fail("! Failed to delete an object from the device"));
    Logger::instance().value("The object was deleted from the device.", aObjectId);
    return scope.ret(Ok);
}

int LibMtpConnection::SetFileName(MtpObject &aObject, const QString &aNewName)
{
    LogScope scope("LibMtpConnection::SetFileName");
    quint32 id = 0;
    quint32 storage = 0;
    quint32 parent = 0;
    if (!handle(aObject.mId, false, id) || !handle(aObject.mStorageId, false, storage) ||
        !handle(aObject.mParentId, true, parent))
        return scope.ret(Failed);
    LIBMTP_file_t *file = LIBMTP_new_file_t();
    file->item_id = id;
    file->parent_id = parent;
    file->storage_id = storage;
    file->filetype = aObject.isFolder() ? LIBMTP_FILETYPE_FOLDER : LIBMTP_FILETYPE_UNKNOWN;
    file->filename = strdup(aObject.mName.toUtf8().constData());
    const int rc = LIBMTP_Set_File_Name(mDevice, file, aNewName.toUtf8().constData());
    const QString given = QString::fromUtf8(file->filename);
    LIBMTP_destroy_file_t(file);
    if (rc != 0)
        return scope.ret(fail("! Failed to rename an object on the device"));
    aObject.mName = given;
    Logger::instance().value("Renamed to", given);
    return scope.ret(Ok);
}
