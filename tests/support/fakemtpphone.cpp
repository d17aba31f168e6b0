#include "fakemtpphone.h"

#include "devices/mtp/mtpconnection.h"

#include <QFile>

#include <algorithm>

namespace {
constexpr int Root = -1;
constexpr int None = -2;

bool take(int &aCounter)
{
    if (aCounter == 0)
        return false;
    if (aCounter > 0)
        --aCounter;
    return true;
}
} // namespace

FakeMtpPhone::FakeMtpPhone(const QString &aSerialNumber, quint32 aBusLocation, quint8 aDeviceNumber)
    : mSerialNumber(aSerialNumber)
{
    mRawDevice.mVendor = QStringLiteral("Fakemaker");
    mRawDevice.mProduct = QStringLiteral("Model F (MTP)");
    mRawDevice.mVendorId = 0x18d1;
    mRawDevice.mProductId = 0x4ee1;
    mRawDevice.mBusLocation = aBusLocation;
    mRawDevice.mDeviceNumber = aDeviceNumber;
    addStorage(QStringLiteral("Internal shared storage"), quint64(16) << 30, quint64(8) << 30);
}

QString FakeMtpPhone::addStorage(const QString &aDescription, quint64 aCapacity, quint64 aFreeBytes)
{
    MtpStorage storage;
    storage.mId = QString::number(0x10001 + mStorages.size());
    storage.mDescription = aDescription;
    storage.mCapacity = aCapacity;
    storage.mFreeBytes = aFreeBytes;
    mStorages.append(storage);
    return storage.mId;
}

void FakeMtpPhone::failSends(int aTimes, bool aLeaveObject)
{
    mFailSends = aTimes;
    mLeaveObject = aLeaveObject;
}

void FakeMtpPhone::refuseDeletes(int aTimes)
{
    mRefuseDeletes = aTimes;
}

int FakeMtpPhone::listings() const
{
    int total = 0;
    for (int count : mListings)
        total += count;
    return total;
}

int FakeMtpPhone::child(int aParent, const QString &aStorageId, const QString &aName) const
{
    for (auto it = mObjects.cbegin(); it != mObjects.cend(); ++it) {
        if (it->mParent == aParent && it->mStorageId == aStorageId && it->mName == aName)
            return it.key();
    }
    return None;
}

int FakeMtpPhone::find(const QString &aPath, int aStorage) const
{
    int key = Root;
    for (const QString &part : aPath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        key = child(key, storageId(aStorage), part);
        if (key == None)
            return None;
    }
    return key;
}

QString FakeMtpPhone::pathOf(int aKey) const
{
    QString path;
    for (; aKey != Root; aKey = mObjects.value(aKey).mParent)
        path.prepend(QLatin1Char('/') + mObjects.value(aKey).mName);
    return path.isEmpty() ? QStringLiteral("/") : path;
}

int FakeMtpPhone::add(const Object &aObject)
{
    const int key = mNextKey++;
    mObjects.insert(key, aObject);
    mIdOfKey.insert(key, mNextId);
    mKeyOfId.insert(mNextId++, key);
    return key;
}

quint64 &FakeMtpPhone::freeBytes(const QString &aStorageId)
{
    for (MtpStorage &storage : mStorages) {
        if (storage.mId == aStorageId)
            return storage.mFreeBytes;
    }
    return mStorages.first().mFreeBytes;
}

void FakeMtpPhone::put(const QString &aPath, const QByteArray &aContent, int aStorage)
{
    const QStringList parts = aPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    int parent = Root;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        int key = last ? None : child(parent, storageId(aStorage), parts[i]);
        if (key == None)
            key = add(Object{parent, storageId(aStorage), parts[i], !last, last ? aContent : ""});
        parent = key;
    }
}

bool FakeMtpPhone::exists(const QString &aPath, int aStorage) const
{
    return find(aPath, aStorage) != None;
}

QByteArray FakeMtpPhone::content(const QString &aPath, int aStorage) const
{
    return mObjects.value(find(aPath, aStorage)).mContent;
}

QStringList FakeMtpPhone::names(const QString &aFolderPath, int aStorage) const
{
    const int folder = find(aFolderPath, aStorage);
    QStringList names;
    for (const Object &object : mObjects) {
        if (folder != None && object.mParent == folder && object.mStorageId == storageId(aStorage))
            names.append(object.mName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QStringList FakeMtpPhone::files(int aStorage) const
{
    QStringList paths;
    for (auto it = mObjects.cbegin(); it != mObjects.cend(); ++it) {
        if (!it->mFolder && it->mStorageId == storageId(aStorage))
            paths.append(pathOf(it.key()));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

QStringList FakeMtpPhone::listedFolders() const
{
    QStringList folders = mListings.keys();
    std::sort(folders.begin(), folders.end());
    return folders;
}

void FakeMtpPhone::resetCounts()
{
    mListings.clear();
    mSends = 0;
    mDeletes = 0;
    mRenames = 0;
    mOperations = 0;
}

int FakeMtpPhone::openSession()
{
    // Number every object afresh, starting elsewhere each time, as a phone
    // enumerating its storage again would.
    ++mSession;
    mKeyOfId.clear();
    mIdOfKey.clear();
    QList<int> keys = mObjects.keys();
    if (!keys.isEmpty())
        std::rotate(keys.begin(), keys.begin() + mSession % keys.size(), keys.end());
    mNextId = 1;
    for (int key : keys) {
        mIdOfKey.insert(key, mNextId);
        mKeyOfId.insert(mNextId++, key);
    }
    return mSession;
}

int FakeMtpPhone::begin(int aSession, QString &aError)
{
    ++mOperations;
    if (mUnplugCountdown > 0 && --mUnplugCountdown == 0)
        mPlugged = false;
    if (mPlugged && aSession == mSession)
        return MtpConnection::Ok;
    aError = QStringLiteral("PTP Layer error 02ff: I/O error");
    return MtpConnection::Disconnected;
}

int FakeMtpPhone::folder(const QString &aId) const
{
    if (aId == MtpConnection::RootId)
        return Root;
    const int key = mKeyOfId.value(aId.toUInt(), None);
    return key != None && mObjects.value(key).mFolder ? key : None;
}

int FakeMtpPhone::objectOf(const QString &aId) const
{
    return mKeyOfId.value(aId.toUInt(), None);
}

MtpObject FakeMtpPhone::record(int aKey) const
{
    const Object &object = mObjects[aKey];
    MtpObject entry;
    entry.mId = QString::number(mIdOfKey.value(aKey));
    entry.mParentId =
        object.mParent == Root ? QStringLiteral("0") : QString::number(mIdOfKey[object.mParent]);
    entry.mStorageId = object.mStorageId;
    entry.mName = object.mName;
    entry.mSize = object.mContent.size();
    entry.mType = object.mFolder ? MtpObject::TypeFolder : MtpObject::TypeFile;
    return entry;
}

int FakeMtpPhone::list(const QString &aStorageId, const QString &aFolderId,
                       QList<MtpObject> &aEntries, QString &aError)
{
    aEntries.clear();
    // Parent 0 asks for every object of the storage.
    const bool everything = aFolderId == QLatin1String("0");
    const int parent = folder(aFolderId);
    if (!everything && parent == None) {
        aError = QStringLiteral("PTP Layer error 2009: Invalid object handle");
        return MtpConnection::Failed;
    }
    ++mListings[everything ? QStringLiteral("*") : pathOf(parent)];
    for (auto it = mObjects.cbegin(); it != mObjects.cend(); ++it) {
        if (it->mStorageId == aStorageId && (everything || it->mParent == parent))
            aEntries.append(record(it.key()));
    }
    return MtpConnection::Ok;
}

int FakeMtpPhone::createFolder(const QString &aStorageId, const QString &aParentId,
                               const QString &aName, MtpObject &aFolder, QString &aError)
{
    const int parent = folder(aParentId);
    if (parent == None || (!mAllowDuplicates && child(parent, aStorageId, aName) != None)) {
        aError = QStringLiteral("PTP Layer error 2002: General error");
        return MtpConnection::Failed;
    }
    aFolder = record(add(Object{parent, aStorageId, aName, true, {}}));
    return MtpConnection::Ok;
}

int FakeMtpPhone::send(const QString &aLocalPath, MtpObject &aObject, QString &aError)
{
    ++mSends;
    const int parent = folder(aObject.mParentId);
    QFile file(aLocalPath);
    if (parent == None || !file.open(QIODevice::ReadOnly)) {
        aError = QStringLiteral("PTP Layer error 2009: Invalid parent");
        return MtpConnection::Failed;
    }
    const QByteArray data = file.readAll();
    if (quint64(data.size()) > freeBytes(aObject.mStorageId)) {
        aError = QStringLiteral("Not enough space on the storage");
        return MtpConnection::StorageFull;
    }
    if (!mAllowDuplicates && child(parent, aObject.mStorageId, aObject.mName) != None) {
        aError = QStringLiteral("PTP Layer error 2002: General error");
        return MtpConnection::Failed;
    }
    if (take(mFailSends)) {
        aError = QStringLiteral("PTP Layer error 2002: Could not send object");
        if (!mLeaveObject)
            return MtpConnection::Failed;
        aObject.mId = record(add(Object{parent, aObject.mStorageId, aObject.mName, false,
                                        data.left(data.size() / 2)}))
                          .mId;
        return MtpConnection::Failed;
    }
    freeBytes(aObject.mStorageId) -= quint64(data.size());
    aObject.mId = record(add(Object{parent, aObject.mStorageId, aObject.mName, false, data})).mId;
    aObject.mSize = data.size();
    return MtpConnection::Ok;
}

int FakeMtpPhone::get(const QString &aId, const QString &aLocalPath, QString &aError)
{
    const int key = objectOf(aId);
    QFile file(aLocalPath);
    if (key == None || mObjects[key].mFolder || !file.open(QIODevice::WriteOnly)) {
        aError = QStringLiteral("PTP Layer error 2009: Invalid object handle");
        return MtpConnection::Failed;
    }
    file.write(mObjects[key].mContent);
    return MtpConnection::Ok;
}

int FakeMtpPhone::remove(const QString &aId, QString &aError)
{
    ++mDeletes;
    const int key = objectOf(aId);
    if (key == None || take(mRefuseDeletes)) {
        aError = QStringLiteral("PTP Layer error 200f: Access denied");
        return MtpConnection::Failed;
    }
    QList<int> doomed{key};
    for (qsizetype i = 0; i < doomed.size(); ++i) {
        for (auto it = mObjects.cbegin(); it != mObjects.cend(); ++it) {
            if (it->mParent == doomed[i])
                doomed.append(it.key());
        }
    }
    for (int gone : doomed) {
        freeBytes(mObjects[gone].mStorageId) += quint64(mObjects[gone].mContent.size());
        mObjects.remove(gone);
    }
    return MtpConnection::Ok;
}

int FakeMtpPhone::rename(MtpObject &aObject, const QString &aName, QString &aError)
{
    ++mRenames;
    const int key = objectOf(aObject.mId);
    if (key == None || (!mAllowDuplicates &&
                        child(mObjects[key].mParent, mObjects[key].mStorageId, aName) != None)) {
        aError = QStringLiteral("PTP Layer error 2002: General error");
        return MtpConnection::Failed;
    }
    mObjects[key].mName = aName;
    aObject.mName = aName;
    return MtpConnection::Ok;
}
