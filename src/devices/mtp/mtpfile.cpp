#include "devices/mtp/mtpfile.h"

#include "core/apppaths.h"
#include "core/logger.h"
#include "devices/mtp/mtpconnection.h"
#include "devices/mtp/mtpsession.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {
bool stopsAtOnce(int aResult)
{
    return aResult == MtpConnection::Disconnected || aResult == MtpConnection::StorageFull;
}
} // namespace

MtpFile::MtpFile(MtpSession &aSession, const QString &aStorageId, const QString &aPath)
    : mSession(aSession), mStorageId(aStorageId), mPath(aPath)
{}

MtpFile::~MtpFile()
{
    discardLocal();
}

void MtpFile::discardLocal()
{
    if (!mLocalFile)
        return;
    mLocalFile.reset();
    QFile::remove(mLocalPath);
    mLocalPath.clear();
    mOpenMode = QIODevice::NotOpen;
}

bool MtpFile::exists(const QString &aPath)
{
    QString id;
    QString parent;
    return mSession.GetOrCreateFromPath(mStorageId, aPath, id, parent, false) == MtpConnection::Ok;
}

int MtpFile::remove(const QString &aPath)
{
    LogScope scope("MtpFile::remove");
    QString id;
    QString parent;
    const int found = mSession.GetOrCreateFromPath(mStorageId, aPath, id, parent, false);
    if (found != MtpConnection::Ok) {
        Logger::instance().value("Error getting ID from path: ", found);
        return scope.ret(found);
    }
    return scope.ret(mSession.DeleteObject(mStorageId, parent, id));
}

int MtpFile::mkpath(const QString &aPath)
{
    LogScope scope("MtpFile::mkpath");
    QString id;
    QString parent;
    const int result = mSession.GetOrCreateFromPath(mStorageId, aPath, id, parent, true);
    if (result == MtpConnection::Ok)
        Logger::instance().value("Directory created: id", id);
    else
        Logger::instance().text("Error creating directories");
    return scope.ret(result);
}

int MtpFile::deleteEntry(const QString &aFolderId, const QString &aName)
{
    MtpObject entry;
    const int found = mSession.findEntry(mStorageId, aFolderId, aName, entry);
    if (found != MtpConnection::Ok)
        return found;
    return mSession.DeleteObject(mStorageId, aFolderId, entry.mId);
}

int MtpFile::copy(const QString &aSource, const QString &aTarget, int aRetries, int aType)
{
    LogScope scope("MtpFile::copy");
    Logger &log = Logger::instance();
    log.value("Source", aSource);
    log.value("Target", aTarget);
    QStringList parts = aTarget.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return scope.ret(MtpConnection::NotFound);
    const QString name = parts.takeLast();
    QString folderId;
    QString unused;
    int result = mSession.GetOrCreateFromPath(mStorageId, parts.join(QLatin1Char('/')), folderId,
                                              unused, true);
    if (result != MtpConnection::Ok)
        return scope.ret(result);

    // A copy cut short in an earlier run would block the temporary name.
    result = deleteEntry(folderId, TemporaryName);
    if (result != MtpConnection::Ok && result != MtpConnection::NotFound)
        return scope.ret(stopsAtOnce(result) ? result : MtpConnection::SendFailed);

    MtpObject object;
    object.mStorageId = mStorageId;
    object.mParentId = folderId;
    object.mType = aType;
    bool sent = false;
    for (int left = aRetries; left >= 0; --left) {
        log.value("Track does not exists on device, so sending track, retries", left);
        object.mName = TemporaryName;
        result = mSession.SendFileFromFile(aSource, object);
        if (result == MtpConnection::Ok) {
            log.value("Sent track, New track ID", object.mId);
            sent = true;
            break;
        }
        log.text("*** Error sending file");
        if (stopsAtOnce(result))
            return scope.ret(result);
        log.text("Checking again to see if the track is there, sometimes we get a failure but "
                 "the track was copied anyway...");
        MtpObject leftOver;
        const int found = mSession.findEntry(mStorageId, folderId, TemporaryName, leftOver);
        log.value("tempErr", found);
        if (found == MtpConnection::Disconnected)
            return scope.ret(found);
        if (found != MtpConnection::Ok)
            continue;
        log.value("Track was copied even though we got an error: TrackId", leftOver.mId);
        log.text("However... there could be problems with it, so delete then retry");
        const int deleted = mSession.DeleteObject(mStorageId, folderId, leftOver.mId);
        if (deleted != MtpConnection::Ok) {
            log.text("Could not delete track.");
            // The phone takes no second object of that name: no attempt can succeed.
            return scope.ret(stopsAtOnce(deleted) ? deleted : MtpConnection::SendFailed);
        }
    }
    if (!sent)
        return scope.ret(MtpConnection::SendFailed);

    // The old object goes only now that the new one is complete.
    MtpObject old;
    result = mSession.findEntry(mStorageId, folderId, name, old);
    if (result == MtpConnection::Ok) {
        log.value("Replacing object", old.mId);
        result = old.isFolder() ? MtpConnection::Failed
                                : mSession.DeleteObject(mStorageId, folderId, old.mId);
    } else if (result == MtpConnection::NotFound) {
        result = MtpConnection::Ok;
    }
    if (result == MtpConnection::Ok)
        result = mSession.SetFileName(mStorageId, folderId, object.mId, name);
    if (result == MtpConnection::Ok)
        return scope.ret(result);
    log.text("Could not put the new object in place of the old one");
    if (result != MtpConnection::Disconnected)
        mSession.DeleteObject(mStorageId, folderId, object.mId);
    return scope.ret(stopsAtOnce(result) ? result : MtpConnection::SendFailed);
}

bool MtpFile::open(QIODevice::OpenMode aMode)
{
    LogScope scope("MtpFile::open");
    Logger &log = Logger::instance();
    if (mLocalFile) {
        log.text("File is already open");
        return false;
    }
    const QString folder = AppPaths::dataFolder();
    if (!QDir().mkpath(folder))
        return false;
    QString local;
    for (int n = 0;; ++n) {
        local = folder + QStringLiteral("/temp") + QString::number(n);
        if (!QFileInfo::exists(local))
            break;
    }
    auto file = std::make_unique<QFile>(local);
    if (!file->open(QIODevice::WriteOnly))
        return false;
    file->close();
    if (aMode & (QIODevice::ReadOnly | QIODevice::Append)) {
        QString id;
        QString parent;
        const int found = mSession.GetOrCreateFromPath(mStorageId, mPath, id, parent, false);
        if (found == MtpConnection::Ok) {
            log.text("Reading data into local file");
            if (mSession.GetFileToFile(id, local) != MtpConnection::Ok) {
                // Half a file read back would be taken for the whole one.
                QFile::remove(local);
                return false;
            }
        } else {
            log.value("Result when getting file", found);
            if (found == MtpConnection::Disconnected) {
                QFile::remove(local);
                return false;
            }
            if (aMode != QIODevice::ReadOnly)
                log.text("Clearing error");
        }
    }
    if (!file->open(aMode | QIODevice::ReadWrite)) {
        QFile::remove(local);
        return false;
    }
    mLocalFile = std::move(file);
    mLocalPath = local;
    mOpenMode = aMode;
    return true;
}

int MtpFile::close()
{
    LogScope scope("MtpFile::close");
    if (!mLocalFile)
        return scope.ret(MtpConnection::Ok);
    mLocalFile->close();
    int result = MtpConnection::Ok;
    if (mOpenMode & QIODevice::WriteOnly) {
        result = copy(mLocalPath, mPath, 5, MtpObject::TypeFile);
        if (result != MtpConnection::Ok)
            Logger::instance().value("Error copying file", result);
    }
    discardLocal();
    return scope.ret(result);
}

QByteArray MtpFile::readAll()
{
    return mLocalFile ? mLocalFile->readAll() : QByteArray();
}

bool MtpFile::write(const QByteArray &aBytes)
{
    return mLocalFile && mLocalFile->write(aBytes) > 0;
}
