#pragma once

#include "devices/mtp/mtpconnection.h"

#include <memory>

class FakeMtpPhone;

// One open session of a FakeMtpPhone; dead once the phone is opened again.
class FakeMtpConnection : public MtpConnection
{
public:
    FakeMtpConnection(std::shared_ptr<FakeMtpPhone> aPhone, int aSession);

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
    std::shared_ptr<FakeMtpPhone> mPhone;
    int mSession;
};
