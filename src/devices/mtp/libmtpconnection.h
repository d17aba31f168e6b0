#pragma once

#include "devices/mtp/mtpconnection.h"

struct LIBMTP_mtpdevice_struct;

// One phone opened through libmtp; releases it when destroyed.
class LibMtpConnection : public MtpConnection
{
public:
    explicit LibMtpConnection(LIBMTP_mtpdevice_struct *aDevice);
    ~LibMtpConnection() override;

    QString friendlyName() override;
    QString manufacturerName() override;
    QString modelName() override;
    QString serialNumber() override;

    int GetStorages(QList<MtpStorage> &aStorages) override;
    int GetFilesAndFolders(const QString &aStorageId, const QString &aFolderId,
                           QList<MtpObject> &aEntries) override;
    int CreateFolder(const QString &aStorageId, const QString &aParentId, const QString &aName,
                     MtpObject &aFolder) override;
    int SendFileFromFile(const QString &aLocalPath, MtpObject &aObject) override;
    int GetFileToFile(const QString &aObjectId, const QString &aLocalPath) override;
    int DeleteObject(const QString &aObjectId) override;
    int SetFileName(MtpObject &aObject, const QString &aNewName) override;

private:
    // Reads and clears libmtp's error stack, logs it with aWhat and tells what
    // kind of failure it was.
    int fail(const char *aWhat);
    // Refuses ids that are not 32-bit numbers, 0, and (unless allowed) the root.
    bool handle(const QString &aId, bool aRootAllowed, quint32 &aHandle);
    QString takeString(char *aText);

    LIBMTP_mtpdevice_struct *mDevice;
};
