#pragma once

#include "devices/mtp/mtpobject.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <memory>

class MtpSession;

// A file-like view of one storage of a phone, by "/"-separated paths from the
// storage's root. Reading and writing go through a local temporary file in the
// program's data folder; results are MtpConnection codes.
class MtpFile
{
public:
    // Where a copy is sent before it takes the final name.
    static inline const QString TemporaryName = QStringLiteral(".mobrelay-copy.part");

    MtpFile(MtpSession &aSession, const QString &aStorageId, const QString &aPath = QString());
    // A file still open is dropped without sending it.
    ~MtpFile();
    MtpFile(const MtpFile &) = delete;
    MtpFile &operator=(const MtpFile &) = delete;

    bool exists(const QString &aPath);
    // NotFound when there is nothing to remove; Failed when the phone refuses.
    int remove(const QString &aPath);
    // Sends aSource to aTarget, making missing folders, with up to aRetries more
    // attempts. The new object arrives under a temporary name and takes the
    // target's name only when complete, after the old object is deleted.
    int copy(const QString &aSource, const QString &aTarget, int aRetries,
             int aType = MtpObject::TypeFile);
    int mkpath(const QString &aPath);

    // Reading and appending start from the phone's copy (none: an empty file).
    bool open(QIODevice::OpenMode aMode);
    // Sends what was written; Ok when nothing was open.
    int close();
    QByteArray readAll();
    bool write(const QByteArray &aBytes);

private:
    void discardLocal();
    int deleteEntry(const QString &aFolderId, const QString &aName);

    MtpSession &mSession;
    QString mStorageId;
    QString mPath;
    QIODevice::OpenMode mOpenMode = QIODevice::NotOpen;
    QString mLocalPath;
    std::unique_ptr<QFile> mLocalFile;
};
