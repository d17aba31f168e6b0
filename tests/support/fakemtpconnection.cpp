#include "fakemtpconnection.h"

#include "fakemtpphone.h"

FakeMtpConnection::FakeMtpConnection(std::shared_ptr<FakeMtpPhone> aPhone, int aSession)
    : mPhone(std::move(aPhone)), mSession(aSession)
{}

QString FakeMtpConnection::friendlyName()
{
    return mPhone->mFriendlyName;
}

QString FakeMtpConnection::manufacturerName()
{
    return mPhone->mManufacturer;
}

QString FakeMtpConnection::modelName()
{
    return mPhone->mModel;
}

QString FakeMtpConnection::serialNumber()
{
    return mPhone->mSerialNumber;
}

int FakeMtpConnection::GetStorages(QList<MtpStorage> &aStorages)
{
    aStorages.clear();
    const int result = mPhone->begin(mSession, mLastError);
    if (result == Ok)
        aStorages = mPhone->storages();
    return result;
}

int FakeMtpConnection::GetFilesAndFolders(const QString &aStorageId, const QString &aFolderId,
                                          QList<MtpObject> &aEntries)
{
    aEntries.clear();
    const int result = mPhone->begin(mSession, mLastError);
    return result == Ok ? mPhone->list(aStorageId, aFolderId, aEntries, mLastError) : result;
}

int FakeMtpConnection::CreateFolder(const QString &aStorageId, const QString &aParentId,
                                    const QString &aName, MtpObject &aFolder)
{
    const int result = mPhone->begin(mSession, mLastError);
    return result == Ok ? mPhone->createFolder(aStorageId, aParentId, aName, aFolder, mLastError)
                        : result;
}

int FakeMtpConnection::SendFileFromFile(const QString &aLocalPath, MtpObject &aObject)
{
    aObject.mId.clear();
    const int result = mPhone->begin(mSession, mLastError);
    return result == Ok ? mPhone->send(aLocalPath, aObject, mLastError) : result;
}

int FakeMtpConnection::GetFileToFile(const QString &aObjectId, const QString &aLocalPath)
{
    const int result = mPhone->begin(mSession, mLastError);
    return result == Ok ? mPhone->get(aObjectId, aLocalPath, mLastError) : result;
}

int FakeMtpConnection::DeleteObject(const QString &aObjectId)
{
    const int result = mPhone->begin(mSession, mLastError);
    return result == Ok ? mPhone->remove(aObjectId, mLastError) : result;
}

int FakeMtpConnection::SetFileName(MtpObject &aObject, const QString &aNewName)
{
    const int result = mPhone->begin(mSession, mLastError);
    return result == Ok ? mPhone->rename(aObject, aNewName, mLastError) : result;
}
