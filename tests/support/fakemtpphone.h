#pragma once

#include "devices/mtp/mtpobject.h"
#include "devices/mtp/mtprawdevice.h"
#include "devices/mtp/mtpstorage.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// An MTP phone in memory, as Android's responder behaves: object ids are
// numbered afresh on every open (a stale id names another object), a second
// object of one name in a folder is refused (a switch allows it, as some other
// phones do), nothing is overwritten in place, and top-level objects report
// parent 0. Faults can be injected and every operation is counted. Paths are
// "/"-separated from a storage's root ("/" itself).
class FakeMtpPhone
{
public:
    static constexpr int Always = -1;

    explicit FakeMtpPhone(const QString &aSerialNumber = QStringLiteral("FAKE0001"),
                          quint32 aBusLocation = 1, quint8 aDeviceNumber = 1);

    MtpRawDevice rawDevice() const { return mRawDevice; }
    QString mFriendlyName = QStringLiteral("Fake Phone");
    QString mManufacturer = QStringLiteral("Fakemaker");
    QString mModel = QStringLiteral("Model F");
    QString mSerialNumber;

    // The first storage exists from the start: "Internal shared storage", 16 GiB, 8 free.
    QString addStorage(const QString &aDescription, quint64 aCapacity, quint64 aFreeBytes);
    // As a locked Android phone shows itself: no storage at all.
    void setLocked(bool aLocked) { mLocked = aLocked; }
    QString storageId(int aIndex = 0) const { return mStorages.value(aIndex).mId; }
    void setFreeBytes(quint64 aBytes, int aStorage = 0) { mStorages[aStorage].mFreeBytes = aBytes; }

    // Puts a file (making its folders) on a storage, past every fault and count.
    void put(const QString &aPath, const QByteArray &aContent, int aStorage = 0);
    bool exists(const QString &aPath, int aStorage = 0) const;
    QByteArray content(const QString &aPath, int aStorage = 0) const;
    // Names in a folder, duplicates included, sorted.
    QStringList names(const QString &aFolderPath, int aStorage = 0) const;
    // Every file's path on a storage, sorted.
    QStringList files(int aStorage = 0) const;

    // Faults: the next aTimes sends fail (with aLeaveObject the phone keeps a
    // partial object, and the send still reports its id), deletes are refused,
    // the aCount-th operation from now finds the phone unplugged.
    void failSends(int aTimes, bool aLeaveObject = false);
    void refuseDeletes(int aTimes);
    void unplugAt(int aCount) { mUnplugCountdown = aCount; }
    void setPlugged(bool aPlugged) { mPlugged = aPlugged; }
    bool isPlugged() const { return mPlugged; }
    // Another program holds the phone: every open fails.
    void setHeld(bool aHeld) { mHeld = aHeld; }
    bool isHeld() const { return mHeld; }
    void setAllowDuplicateNames(bool aAllow) { mAllowDuplicates = aAllow; }

    int listings(const QString &aFolderPath) const { return mListings.value(aFolderPath); }
    int listings() const;
    // The folders listed since the last resetCounts, sorted.
    QStringList listedFolders() const;
    void resetCounts();
    int sends() const { return mSends; }
    int deletes() const { return mDeletes; }
    int renames() const { return mRenames; }
    int opens() const { return mSession; }
    int operations() const { return mOperations; }

    // Used by FakeMtpConnection: a new numbering of every object, and the
    // operations of the session it started.
    int openSession();
    int begin(int aSession, QString &aError);
    QList<MtpStorage> storages() const { return mLocked ? QList<MtpStorage>() : mStorages; }
    int list(const QString &aStorageId, const QString &aFolderId, QList<MtpObject> &aEntries,
             QString &aError);
    int createFolder(const QString &aStorageId, const QString &aParentId, const QString &aName,
                     MtpObject &aFolder, QString &aError);
    int send(const QString &aLocalPath, MtpObject &aObject, QString &aError);
    int get(const QString &aId, const QString &aLocalPath, QString &aError);
    int remove(const QString &aId, QString &aError);
    int rename(MtpObject &aObject, const QString &aName, QString &aError);

private:
    struct Object
    {
        int mParent = -1; // -1: the storage's root
        QString mStorageId;
        QString mName;
        bool mFolder = false;
        QByteArray mContent;
    };

    int find(const QString &aPath, int aStorage) const; // -1 root, -2 none
    int child(int aParent, const QString &aStorageId, const QString &aName) const;
    // -1 root, -2 bad: an id of this session, or the root id.
    int folder(const QString &aId) const;
    int objectOf(const QString &aId) const;
    QString pathOf(int aKey) const;
    int add(const Object &aObject);
    quint64 &freeBytes(const QString &aStorageId);
    MtpObject record(int aKey) const;

    MtpRawDevice mRawDevice;
    QList<MtpStorage> mStorages;
    QMap<int, Object> mObjects;
    int mNextKey = 1;
    QHash<quint32, int> mKeyOfId;
    QHash<int, quint32> mIdOfKey;
    quint32 mNextId = 1;

    int mSession = 0;
    bool mPlugged = true;
    bool mHeld = false;
    bool mLocked = false;
    bool mAllowDuplicates = false;
    int mFailSends = 0;
    bool mLeaveObject = false;
    int mRefuseDeletes = 0;
    int mUnplugCountdown = 0;

    QHash<QString, int> mListings;
    int mSends = 0;
    int mDeletes = 0;
    int mRenames = 0;
    int mOperations = 0;
};
